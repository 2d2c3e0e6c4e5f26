#include "recording/MarkerSum.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

// The vector paths must agree with the byte-by-byte path wherever the end marker falls: inside a
// block, across the edge of two blocks, in the last byte, or not at all.
TEST(MarkerSum, VectorPathsAgreeWithByteByByteSums) {
    std::vector<korvex::SumKernel> kernels;
    for (const auto k :
         {korvex::SumKernel::Sse2, korvex::SumKernel::Avx2, korvex::SumKernel::Avx512}) {
        if (korvex::sumKernelAvailable(k))
            kernels.push_back(k);
    }
    std::mt19937 rng(11);
    for (std::size_t n : {0u, 1u, 2u, 15u, 16u, 17u, 33u, 64u, 65u, 66u, 129u, 200u, 1000u}) {
        std::vector<std::uint8_t> base(n);
        for (auto& b : base)
            b = static_cast<std::uint8_t>(rng() % 0xFF);
        for (std::size_t at = 0; at <= n; ++at) {
            std::vector<std::uint8_t> bytes = base;
            if (at < n)
                bytes[at] = 0xFF;  // FF alone when at is the last byte
            if (at + 1 < n)
                bytes[at + 1] = 0xD9;
            if (at >= 2 && at + 1 < n) {
                bytes[at - 2] = 0xFF;  // a near miss: FF with another byte
                bytes[at - 1] = 0xD8;
            }
            for (const auto kind : {korvex::SumOf::Bytes, korvex::SumOf::BigEndianWords}) {
                const auto slow = korvex::sumThroughPairWith(korvex::SumKernel::Scalar,
                                                             bytes.data(), n, 0xD9, kind);
                for (const auto kernel : kernels) {
                    const auto fast =
                        korvex::sumThroughPairWith(kernel, bytes.data(), n, 0xD9, kind);
                    ASSERT_EQ(fast.found, slow.found) << n << " " << at;
                    ASSERT_EQ(fast.count, slow.count) << n << " " << at;
                    ASSERT_EQ(fast.sum, slow.sum) << n << " " << at;
                }
            }
            const auto slow = korvex::sumThroughPairWith(korvex::SumKernel::Scalar, bytes.data(), n,
                                                         0xD9, korvex::SumOf::Bytes);
            ASSERT_EQ(slow.found, at + 1 < n);
            if (slow.found) {
                ASSERT_EQ(slow.count, at + 2);
            }
            // The default path is one of the kernels.
            const auto any = korvex::sumThroughPair(bytes.data(), n, 0xD9, korvex::SumOf::Bytes);
            ASSERT_EQ(any.sum, slow.sum);
        }
    }
}

}  // namespace
