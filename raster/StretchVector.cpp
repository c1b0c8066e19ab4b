// AVX2 forms of the kernel passes and the block-average column sums, chosen at
// run time; elsewhere only the plain loops exist.
#include "raster/StretchVector.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define PALVEX_X86 1
#endif

namespace palvex {

bool VectorWeightsFit(const std::vector<int32_t>& weights)
{
    for (int32_t w : weights)
        if (w < -32768 || w > 32767)
            return false;
    return true;
}

static void AddRowBytesPlain(uint32_t* sums, const uint8_t* bytes, size_t n)
{
    for (size_t k = 0; k < n; ++k)
        sums[k] += bytes[k];
}

#ifdef PALVEX_X86

bool VectorKernelAvailable()
{
    static const bool available = __builtin_cpu_supports("avx2");
    return available;
}

__attribute__((target("avx2"))) void VerticalPassVector(uint32_t* buffer, const uint8_t* const* taps,
                                                        const int32_t* weights, int32_t count, size_t span)
{
    const size_t n = span * 4;
    // Taps in pairs: the two rows' bytes interleaved as 16-bit lanes, one
    // madd gives w0 * a + w1 * b per byte position, exactly.
    const int32_t pairs = (count + 1) / 2;
    int32_t pairWeights[64];
    std::vector<int32_t> largeWeights;
    int32_t* pw = pairWeights;
    if (pairs > 64) {
        largeWeights.resize(static_cast<size_t>(pairs));
        pw = largeWeights.data();
    }
    for (int32_t p = 0; p < pairs; ++p) {
        const int32_t w0 = weights[2 * p];
        const int32_t w1 = 2 * p + 1 < count ? weights[2 * p + 1] : 0;
        pw[p] = static_cast<int32_t>((static_cast<uint32_t>(w1) << 16) | (static_cast<uint32_t>(w0) & 0xFFFF));
    }
    size_t k = 0;
    for (; k + 16 <= n; k += 16) {
        __m256i lo = _mm256_setzero_si256();
        __m256i hi = _mm256_setzero_si256();
        for (int32_t p = 0; p < pairs; ++p) {
            const uint8_t* a = taps[2 * p] + k;
            const uint8_t* b = (2 * p + 1 < count ? taps[2 * p + 1] : taps[2 * p]) + k;
            const __m256i va = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a)));
            const __m256i vb = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b)));
            const __m256i w = _mm256_set1_epi32(pw[p]);
            lo = _mm256_add_epi32(lo, _mm256_madd_epi16(_mm256_unpacklo_epi16(va, vb), w));
            hi = _mm256_add_epi32(hi, _mm256_madd_epi16(_mm256_unpackhi_epi16(va, vb), w));
        }
        // lo holds bytes 0..3 and 8..11, hi 4..7 and 12..15.
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(buffer + k), _mm256_permute2x128_si256(lo, hi, 0x20));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(buffer + k + 8), _mm256_permute2x128_si256(lo, hi, 0x31));
    }
    for (; k < n; ++k) {
        uint32_t s = 0;
        for (int32_t t = 0; t < count; ++t)
            s += static_cast<uint32_t>(weights[t]) * taps[t][k];
        buffer[k] = s;
    }
}

__attribute__((target("avx2"))) void HorizontalPassVector(TColor32* out, const uint32_t* buffer,
                                                          const int32_t* start, const int32_t* index,
                                                          const int32_t* weight, int32_t xLo, int32_t count,
                                                          bool clamp)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i top = _mm_set1_epi32(0xFF0000);
    const __m128i mask = _mm_set1_epi32(0xFF);
    for (int32_t i = 0; i < count; ++i) {
        __m128i s = _mm_setzero_si128();
        for (int32_t t = start[i]; t < start[i + 1]; ++t) {
            const __m128i b = _mm_loadu_si128(
                reinterpret_cast<const __m128i*>(buffer + static_cast<size_t>(index[t] - xLo) * 4));
            s = _mm_add_epi32(s, _mm_mullo_epi32(b, _mm_set1_epi32(weight[t])));
        }
        if (clamp)
            s = _mm_min_epi32(_mm_max_epi32(s, zero), top);
        s = _mm_and_si128(_mm_srli_epi32(s, 16), mask);
        s = _mm_packus_epi16(_mm_packus_epi32(s, s), zero);
        out[i] = static_cast<TColor32>(_mm_cvtsi128_si32(s));
    }
}

__attribute__((target("avx2"))) static void AddRowBytesAvx2(uint32_t* sums, const uint8_t* bytes, size_t n)
{
    size_t k = 0;
    for (; k + 8 <= n; k += 8) {
        const __m256i v = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(bytes + k)));
        __m256i* s = reinterpret_cast<__m256i*>(sums + k);
        _mm256_storeu_si256(s, _mm256_add_epi32(_mm256_loadu_si256(s), v));
    }
    AddRowBytesPlain(sums + k, bytes + k, n - k);
}

void AddRowBytes(uint32_t* sums, const uint8_t* bytes, size_t n)
{
    if (VectorKernelAvailable())
        AddRowBytesAvx2(sums, bytes, n);
    else
        AddRowBytesPlain(sums, bytes, n);
}

#else

bool VectorKernelAvailable() { return false; }

void VerticalPassVector(uint32_t*, const uint8_t* const*, const int32_t*, int32_t, size_t) {}

void HorizontalPassVector(TColor32*, const uint32_t*, const int32_t*, const int32_t*, const int32_t*, int32_t, int32_t,
                          bool)
{
}

void AddRowBytes(uint32_t* sums, const uint8_t* bytes, size_t n) { AddRowBytesPlain(sums, bytes, n); }

#endif

} // namespace palvex
