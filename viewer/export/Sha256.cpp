#include "viewer/export/Sha256.h"

extern "C" {
#include <libavutil/mem.h>
#include <libavutil/sha.h>
}

#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/FileSystem.h"

namespace korvex {

Sha256::Sha256() : context_(av_sha_alloc()) {
    if (context_ != nullptr)
        av_sha_init(context_, 256);
}

Sha256::~Sha256() {
    av_free(context_);
}

void Sha256::update(const void* data, std::size_t size) {
    if (context_ != nullptr)
        av_sha_update(context_, static_cast<const std::uint8_t*>(data), size);
}

std::string Sha256::hexDigest() {
    std::uint8_t digest[32] = {};
    if (context_ != nullptr) {
        av_sha_final(context_, digest);
        av_sha_init(context_, 256);
    }
    static const char* const kHex = "0123456789abcdef";
    std::string hex;
    hex.reserve(64);
    for (std::uint8_t b : digest) {
        hex += kHex[b >> 4];
        hex += kHex[b & 15];
    }
    return hex;
}

bool sha256OfFile(const std::string& path, std::string& hex, int& error) {
    error = 0;
    const int fd = platform::openRegularFile(path);
    if (fd < 0) {
        error = errno;
        return false;
    }
    Sha256 sha;
    std::vector<std::uint8_t> block(1 << 20);
    for (;;) {
        const ssize_t n = ::read(fd, block.data(), block.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = errno;
            ::close(fd);
            return false;
        }
        if (n == 0)
            break;
        sha.update(block.data(), static_cast<std::size_t>(n));
    }
    ::close(fd);
    hex = sha.hexDigest();
    return true;
}

}  // namespace korvex
