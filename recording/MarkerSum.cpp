#include "recording/MarkerSum.h"

#include <initializer_list>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KORVEX_X86 1
#endif

namespace korvex {

namespace {

template <SumOf K>
std::uint64_t weight(std::size_t distance, std::uint8_t b) {
    if constexpr (K == SumOf::Bytes) {
        return b;
    } else {
        return (distance & 1) == 0 ? static_cast<std::uint64_t>(b) << 8 : b;
    }
}

// Continues from distance `i` (even) byte by byte, with `sum` gathered so far.
template <SumOf K>
PairSum finish(const std::uint8_t* p, std::size_t n, std::size_t i, std::uint8_t second,
               std::uint64_t sum) {
    PairSum r;
    for (; i < n; ++i) {
        sum += weight<K>(i, p[i]);
        if (p[i] == 0xFF && i + 1 < n && p[i + 1] == second) {
            ++i;
            sum += weight<K>(i, p[i]);
            r.found = true;
            r.count = i + 1;
            r.sum = K == SumOf::Bytes ? sum : (sum & 0xFFFF);
            return r;
        }
    }
    r.count = n;
    r.sum = K == SumOf::Bytes ? sum : (sum & 0xFFFF);
    return r;
}

#if defined(KORVEX_X86)

// A block holds the pair FF `second` when some byte is FF and the byte after it is `second`: the
// block is compared with itself shifted by one byte, so pairs across block edges count too. The
// block with a hit is left to `finish`, which finds the exact place.

template <SumOf K>
PairSum sumSse2(const std::uint8_t* p, std::size_t n, std::uint8_t second) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i ff = _mm_set1_epi8(static_cast<char>(0xFF));
    const __m128i sec = _mm_set1_epi8(static_cast<char>(second));
    const __m128i lowBytes = _mm_set1_epi16(0x00FF);
    __m128i accEven = zero;  // bytes at even distances (the low byte of each 16-bit lane)
    __m128i accOdd = zero;
    std::size_t i = 0;
    for (; n - i >= 17; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 1));
        const __m128i hit = _mm_and_si128(_mm_cmpeq_epi8(v, ff), _mm_cmpeq_epi8(next, sec));
        if (_mm_movemask_epi8(hit) != 0)
            break;
        accEven = _mm_add_epi64(accEven, _mm_sad_epu8(_mm_and_si128(v, lowBytes), zero));
        accOdd = _mm_add_epi64(accOdd, _mm_sad_epu8(_mm_srli_epi16(v, 8), zero));
    }
    alignas(16) std::uint64_t e[2];
    alignas(16) std::uint64_t o[2];
    _mm_store_si128(reinterpret_cast<__m128i*>(e), accEven);
    _mm_store_si128(reinterpret_cast<__m128i*>(o), accOdd);
    const std::uint64_t even = e[0] + e[1];
    const std::uint64_t odd = o[0] + o[1];
    return finish<K>(p, n, i, second, K == SumOf::Bytes ? even + odd : (even << 8) + odd);
}

template <SumOf K>
__attribute__((target("avx2"))) PairSum sumAvx2(const std::uint8_t* p, std::size_t n,
                                                std::uint8_t second) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i ff = _mm256_set1_epi8(static_cast<char>(0xFF));
    const __m256i sec = _mm256_set1_epi8(static_cast<char>(second));
    // Swaps the bytes of each 16-bit lane, so that lanes hold big-endian words.
    const __m256i swap = _mm256_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14, 1,
                                          0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
    __m256i acc0 = zero;
    __m256i acc1 = zero;
    std::size_t i = 0;
    for (; n - i >= 65; i += 64) {
        const __m256i v0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
        const __m256i v1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i + 32));
        const __m256i n0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i + 1));
        const __m256i n1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i + 33));
        const __m256i hit = _mm256_or_si256(
            _mm256_and_si256(_mm256_cmpeq_epi8(v0, ff), _mm256_cmpeq_epi8(n0, sec)),
            _mm256_and_si256(_mm256_cmpeq_epi8(v1, ff), _mm256_cmpeq_epi8(n1, sec)));
        if (!_mm256_testz_si256(hit, hit))
            break;
        if constexpr (K == SumOf::Bytes) {
            acc0 = _mm256_add_epi64(acc0, _mm256_sad_epu8(v0, zero));
            acc1 = _mm256_add_epi64(acc1, _mm256_sad_epu8(v1, zero));
        } else {
            // Only the sum modulo 65536 is wanted, so 16-bit lanes may wrap.
            acc0 = _mm256_add_epi16(acc0, _mm256_shuffle_epi8(v0, swap));
            acc1 = _mm256_add_epi16(acc1, _mm256_shuffle_epi8(v1, swap));
        }
    }
    std::uint64_t sum = 0;
    if constexpr (K == SumOf::Bytes) {
        alignas(32) std::uint64_t lanes[4];
        _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), _mm256_add_epi64(acc0, acc1));
        sum = lanes[0] + lanes[1] + lanes[2] + lanes[3];
    } else {
        alignas(32) std::uint16_t lanes[16];
        _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), _mm256_add_epi16(acc0, acc1));
        for (const std::uint16_t lane : lanes)
            sum += lane;
    }
    // The rest, from the block with the hit on (an even distance), 16 bytes at a time.
    PairSum tail = sumSse2<K>(p + i, n - i, second);
    tail.count += i;
    tail.sum += sum;
    if constexpr (K == SumOf::BigEndianWords)
        tail.sum &= 0xFFFF;
    return tail;
}

template <SumOf K>
__attribute__((target("avx2,avx512f,avx512bw"))) PairSum sumAvx512(const std::uint8_t* p,
                                                                   std::size_t n,
                                                                   std::uint8_t second) {
    const __m512i zero = _mm512_setzero_si512();
    const __m512i ff = _mm512_set1_epi8(static_cast<char>(0xFF));
    const __m512i sec = _mm512_set1_epi8(static_cast<char>(second));
    const __m512i swap = _mm512_set_epi64(
        0x0E0F0C0D0A0B0809, 0x0607040502030001, 0x0E0F0C0D0A0B0809, 0x0607040502030001,
        0x0E0F0C0D0A0B0809, 0x0607040502030001, 0x0E0F0C0D0A0B0809, 0x0607040502030001);
    __m512i acc0 = zero;
    __m512i acc1 = zero;
    std::size_t i = 0;
    for (; n - i >= 129; i += 128) {
        const __m512i v0 = _mm512_loadu_si512(p + i);
        const __m512i v1 = _mm512_loadu_si512(p + i + 64);
        const __mmask64 k0 = _mm512_mask_cmpeq_epi8_mask(_mm512_cmpeq_epi8_mask(v0, ff),
                                                         _mm512_loadu_si512(p + i + 1), sec);
        const __mmask64 k1 = _mm512_mask_cmpeq_epi8_mask(_mm512_cmpeq_epi8_mask(v1, ff),
                                                         _mm512_loadu_si512(p + i + 65), sec);
        if ((k0 | k1) != 0)
            break;
        if constexpr (K == SumOf::Bytes) {
            acc0 = _mm512_add_epi64(acc0, _mm512_sad_epu8(v0, zero));
            acc1 = _mm512_add_epi64(acc1, _mm512_sad_epu8(v1, zero));
        } else {
            acc0 = _mm512_add_epi16(acc0, _mm512_shuffle_epi8(v0, swap));
            acc1 = _mm512_add_epi16(acc1, _mm512_shuffle_epi8(v1, swap));
        }
    }
    std::uint64_t sum = 0;
    if constexpr (K == SumOf::Bytes) {
        alignas(64) std::uint64_t lanes[8];
        _mm512_store_si512(lanes, _mm512_add_epi64(acc0, acc1));
        for (const std::uint64_t lane : lanes)
            sum += lane;
    } else {
        alignas(64) std::uint16_t lanes[32];
        _mm512_store_si512(lanes, _mm512_add_epi16(acc0, acc1));
        for (const std::uint16_t lane : lanes)
            sum += lane;
    }
    PairSum tail = sumSse2<K>(p + i, n - i, second);
    tail.count += i;
    tail.sum += sum;
    if constexpr (K == SumOf::BigEndianWords)
        tail.sum &= 0xFFFF;
    return tail;
}

using SumFn = PairSum (*)(const std::uint8_t*, std::size_t, std::uint8_t);

struct Kernels {
    SumFn bytes;
    SumFn words;
};

bool cpuHas(SumKernel kernel) {
    __builtin_cpu_init();
    switch (kernel) {
        case SumKernel::Scalar:
        case SumKernel::Sse2:
            return true;
        case SumKernel::Avx2:
            return __builtin_cpu_supports("avx2");
        case SumKernel::Avx512:
            return __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512f");
    }
    return false;
}

Kernels kernelsOf(SumKernel kernel) {
    switch (kernel) {
        case SumKernel::Scalar:
            break;
        case SumKernel::Sse2:
            return {sumSse2<SumOf::Bytes>, sumSse2<SumOf::BigEndianWords>};
        case SumKernel::Avx2:
            return {sumAvx2<SumOf::Bytes>, sumAvx2<SumOf::BigEndianWords>};
        case SumKernel::Avx512:
            return {sumAvx512<SumOf::Bytes>, sumAvx512<SumOf::BigEndianWords>};
    }
    return {nullptr, nullptr};
}

Kernels fastestKernels() {
    for (const auto k : {SumKernel::Avx512, SumKernel::Avx2}) {
        if (cpuHas(k))
            return kernelsOf(k);
    }
    return kernelsOf(SumKernel::Sse2);
}

#endif

PairSum sumScalar(const std::uint8_t* bytes, std::size_t size, std::uint8_t second, SumOf kind) {
    return kind == SumOf::Bytes ? finish<SumOf::Bytes>(bytes, size, 0, second, 0)
                                : finish<SumOf::BigEndianWords>(bytes, size, 0, second, 0);
}

}  // namespace

bool sumKernelAvailable(SumKernel kernel) {
#if defined(KORVEX_X86)
    return cpuHas(kernel);
#else
    return kernel == SumKernel::Scalar;
#endif
}

PairSum sumThroughPairWith(SumKernel kernel, const std::uint8_t* bytes, std::size_t size,
                           std::uint8_t second, SumOf kind) {
#if defined(KORVEX_X86)
    if (kernel != SumKernel::Scalar && cpuHas(kernel)) {
        const Kernels k = kernelsOf(kernel);
        return (kind == SumOf::Bytes ? k.bytes : k.words)(bytes, size, second);
    }
#endif
    return sumScalar(bytes, size, second, kind);
}

PairSum sumThroughPair(const std::uint8_t* bytes, std::size_t size, std::uint8_t second,
                       SumOf kind) {
#if defined(KORVEX_X86)
    static const Kernels kernels = fastestKernels();
    return (kind == SumOf::Bytes ? kernels.bytes : kernels.words)(bytes, size, second);
#else
    return sumScalar(bytes, size, second, kind);
#endif
}

}  // namespace korvex
