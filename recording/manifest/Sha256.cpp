#include "recording/manifest/Sha256.h"

#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/FileSystem.h"
#include "platform/Hex.h"

namespace korvex {

namespace {

// Fetched once: looking the algorithm up by name for every digest costs more than hashing a
// small frame.
const EVP_MD* sha256Method() {
    static const EVP_MD* const md = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    return md;
}

EVP_MD_CTX* context(void* p) {
    return static_cast<EVP_MD_CTX*>(p);
}

}  // namespace

Sha256::Sha256() : ctx_(EVP_MD_CTX_new()) {
    // Without a context or the algorithm nothing can be hashed; that is a broken installation,
    // not a condition any caller could handle.
    if (ctx_ == nullptr || sha256Method() == nullptr ||
        EVP_DigestInit_ex2(context(ctx_), sha256Method(), nullptr) != 1) {
        std::abort();
    }
}

Sha256::~Sha256() {
    EVP_MD_CTX_free(context(ctx_));
}

void Sha256::update(const void* data, std::size_t size) {
    if (size > 0)
        EVP_DigestUpdate(context(ctx_), data, size);
}

Sha256Digest Sha256::finish() {
    Sha256Digest digest{};
    unsigned int length = 0;
    EVP_DigestFinal_ex(context(ctx_), digest.data(), &length);
    EVP_DigestInit_ex2(context(ctx_), nullptr, nullptr);
    return digest;
}

Sha256Digest Sha256::of(std::span<const std::uint8_t> bytes) {
    Sha256 hasher;
    hasher.update(bytes.data(), bytes.size());
    return hasher.finish();
}

std::string toHex(const Sha256Digest& digest) {
    return platform::hexOf(digest);
}

bool parseHex(std::string_view text, Sha256Digest& digest) {
    return platform::parseHexBytes(text, digest, false);
}

int sha256File(const std::string& path, Sha256Digest& digest, std::vector<std::uint8_t>& buffer,
               Sha256& hasher) {
    constexpr std::size_t kPiece = 256 * 1024;
    const int fd = platform::openRegularFile(path);
    if (fd < 0)
        return errno;
    if (buffer.size() < kPiece)
        buffer.resize(kPiece);
    int error = 0;
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error = errno;
            break;
        }
        if (n == 0)
            break;
        hasher.update(buffer.data(), static_cast<std::size_t>(n));
    }
    ::close(fd);
    digest = hasher.finish();
    return error;
}

bool sha256OfFile(const std::string& path, std::string& hex, int& error) {
    Sha256 hasher;
    std::vector<std::uint8_t> buffer;
    Sha256Digest digest{};
    error = sha256File(path, digest, buffer, hasher);
    if (error != 0)
        return false;
    hex = toHex(digest);
    return true;
}

}  // namespace korvex
