#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

struct AVSHA;

namespace korvex {

// SHA-256 over bytes handed in pieces (FFmpeg's implementation, which the export links anyway).
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void update(const void* data, std::size_t size);
    // The digest as 64 lower-case hex digits; the hasher starts again afterwards.
    std::string hexDigest();

private:
    AVSHA* context_ = nullptr;
};

// The SHA-256 of the file at `path` as hex; false with errno in `error` when it cannot be read.
bool sha256OfFile(const std::string& path, std::string& hex, int& error);

}  // namespace korvex
