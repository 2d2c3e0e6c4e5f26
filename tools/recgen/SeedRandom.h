#pragma once

#include <cstdint>

namespace korvex::gen {

// A small, fast generator whose sequence depends only on its seed, so that generated recordings
// are byte-for-byte repeatable on every machine (std::uniform_int_distribution is not).
class SplitMix64 {
public:
    explicit SplitMix64(std::uint64_t seed) : state_(seed) {}

    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    // A value in [0, n); 0 when n is 0. The slight modulo bias does not matter here.
    std::uint64_t below(std::uint64_t n) { return n == 0 ? 0 : next() % n; }

private:
    std::uint64_t state_;
};

}  // namespace korvex::gen
