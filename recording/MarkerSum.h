#pragma once

#include <cstddef>
#include <cstdint>

namespace korvex {

enum class SumOf {
    Bytes,           // the plain byte sum (JPEG 2000)
    BigEndianWords,  // bytes at even distances count as high bytes, at odd ones as low (JPEG)
};

// Result of summing coded data up to its end marker.
struct PairSum {
    bool found = false;     // the pair FF `second` occurs
    std::size_t count = 0;  // bytes summed: through the pair's second byte, else all of them
    // Bytes: the exact sum. BigEndianWords: the sum modulo 65536; an odd last byte counts as a
    // high byte with a zero low byte.
    std::uint64_t sum = 0;
};

// Sums the `size` bytes at `bytes` up to and including the first pair FF `second`. One pass that
// searches and sums together, vectorised where the processor allows: the check runs on every
// frame shown and should cost about as much as a copy of the file.
PairSum sumThroughPair(const std::uint8_t* bytes, std::size_t size, std::uint8_t second,
                       SumOf kind);

// The implementations, for tests that compare them: byte by byte, and with 16-, 32- and 64-byte
// vectors.
enum class SumKernel { Scalar, Sse2, Avx2, Avx512 };
bool sumKernelAvailable(SumKernel kernel);
// As sumThroughPair, with the given kernel, which must be available.
PairSum sumThroughPairWith(SumKernel kernel, const std::uint8_t* bytes, std::size_t size,
                           std::uint8_t second, SumOf kind);

}  // namespace korvex
