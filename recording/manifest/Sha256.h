#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace korvex {

using Sha256Digest = std::array<std::uint8_t, 32>;

// SHA-256 over bytes handed in pieces. One object per thread; it can be reused after finish().
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void update(const void* data, std::size_t size);
    // The digest of everything handed in since the last finish(); starts afresh.
    Sha256Digest finish();

    static Sha256Digest of(std::span<const std::uint8_t> bytes);

private:
    void* ctx_;  // the library's context, reused for every digest
};

// 64 lower-case hex digits.
std::string toHex(const Sha256Digest& digest);
// 64 hex digits of either case; false for anything else.
bool parseHex(std::string_view text, Sha256Digest& digest);

// The digest of the regular file at `path`, read in pieces through `buffer` (grown to 256 KiB
// when smaller). 0, or the errno value of the open or a read (a FIFO, a device or a folder is
// refused without reading).
int sha256File(const std::string& path, Sha256Digest& digest, std::vector<std::uint8_t>& buffer,
               Sha256& hasher);
// The same for one file now and then: its digest as hex, or false with the errno value in
// `error`.
bool sha256OfFile(const std::string& path, std::string& hex, int& error);

}  // namespace korvex
