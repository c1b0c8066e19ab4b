// AVX2 forms of the kernel passes and the block-average column sums, chosen at
// run time; elsewhere only the plain loops exist.
#include "raster/StretchVector.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <type_traits>
#include <utility>

#include "platform/CpuFeatures.h"
#include "raster/StretchInternals.h"

#if defined(__x86_64__) || defined(__i386__)
// GCC 12's 512-bit intrinsics start from deliberately undefined registers,
// which its own uninitialised-use warnings then report at every use.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop
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

namespace {

// Taps taken two at a time, so that one 16-bit multiply-add weighs both: the
// weights of a pair packed into one 32-bit value (the first in the low half)
// and its rows side by side, from value at on. An odd count's last tap is
// paired with its own row at weight 0.
template <typename T>
class TTapPairs {
public:
    template <typename W>
    TTapPairs(const T* const* rows, const W* weights, int32_t taps, size_t at = 0) : m_count((taps + 1) / 2)
    {
        if (m_count > kInline) {
            m_manyWeights.resize(static_cast<size_t>(m_count));
            m_manyRows.resize(static_cast<size_t>(m_count) * 2);
            m_weights = m_manyWeights.data();
            m_rows = m_manyRows.data();
        }
        for (int32_t p = 0; p < m_count; ++p) {
            const bool full = 2 * p + 1 < taps;
            const auto w0 = static_cast<uint32_t>(weights[2 * p]) & 0xFFFF;
            const auto w1 = full ? static_cast<uint32_t>(weights[2 * p + 1]) : 0u;
            m_weights[p] = static_cast<int32_t>((w1 << 16) | w0);
            m_rows[2 * p] = rows[2 * p] + at;
            m_rows[2 * p + 1] = (full ? rows[2 * p + 1] : rows[2 * p]) + at;
        }
    }
    TTapPairs(const TTapPairs&) = delete;
    TTapPairs& operator=(const TTapPairs&) = delete;

    // The count of pairs, their packed weights, and their rows: pair p's
    // are Rows[2 * p] and Rows[2 * p + 1].
    struct TView {
        int32_t Count;
        const int32_t* Weights;
        const T* const* Rows;
    };
    TView View() const { return {m_count, m_weights, m_rows}; }

private:
    static constexpr int32_t kInline = 64;
    int32_t m_count;
    int32_t m_inlineWeights[kInline];
    const T* m_inlineRows[2 * kInline];
    std::vector<int32_t> m_manyWeights;
    std::vector<const T*> m_manyRows;
    int32_t* m_weights = m_inlineWeights;
    const T** m_rows = m_inlineRows;
};

} // namespace

#ifdef PALVEX_X86

#define PALVEX_WIDE __attribute__((target("avx2,avx512f,avx512bw,avx512vl,avx512vnni")))

bool VectorKernelAvailable() { return CPUFeatures().AVX2; }

namespace {

// Weighted sums to 8-bit channel values, as SumToByte gives them, in each
// register width: the 32-bit lanes' low bytes (128 and 256 bits), or packed
// into bytes in lane order (512 bits).
__attribute__((target("avx2"))) inline __m128i SumsToBytes(__m128i s, bool clamp)
{
    if (clamp)
        s = _mm_min_epi32(_mm_max_epi32(s, _mm_setzero_si128()), _mm_set1_epi32(0xFF0000));
    return _mm_and_si128(_mm_srli_epi32(s, 16), _mm_set1_epi32(0xFF));
}

__attribute__((target("avx2"))) inline __m256i SumsToBytes(__m256i s, bool clamp)
{
    if (clamp)
        s = _mm256_min_epi32(_mm256_max_epi32(s, _mm256_setzero_si256()), _mm256_set1_epi32(0xFF0000));
    return _mm256_and_si256(_mm256_srli_epi32(s, 16), _mm256_set1_epi32(0xFF));
}

PALVEX_WIDE inline __m128i SumsToBytes(__m512i s, bool clamp)
{
    if (clamp)
        s = _mm512_min_epi32(_mm512_max_epi32(s, _mm512_setzero_si512()), _mm512_set1_epi32(0xFF0000));
    return _mm512_cvtepi32_epi8(_mm512_srli_epi32(s, 16));
}

} // namespace

__attribute__((target("avx2"))) void VerticalPassVector(uint32_t* buffer, const uint8_t* const* taps,
                                                        const int32_t* weights, int32_t count, size_t span)
{
    const size_t n = span * 4;
    // The two rows of a pair interleaved as 16-bit lanes: one madd gives
    // w0 * a + w1 * b per byte position, exactly.
    const TTapPairs<uint8_t> pairTaps(taps, weights, count);
    const auto [pairs, pw, pr] = pairTaps.View();
    size_t k = 0;
    for (; k + 16 <= n; k += 16) {
        __m256i lo = _mm256_setzero_si256();
        __m256i hi = _mm256_setzero_si256();
        for (int32_t p = 0; p < pairs; ++p) {
            const uint8_t* a = pr[2 * p] + k;
            const uint8_t* b = pr[2 * p + 1] + k;
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
    for (int32_t i = 0; i < count; ++i) {
        __m128i s = _mm_setzero_si128();
        for (int32_t t = start[i]; t < start[i + 1]; ++t) {
            const __m128i b = _mm_loadu_si128(
                reinterpret_cast<const __m128i*>(buffer + static_cast<size_t>(index[t] - xLo) * 4));
            s = _mm_add_epi32(s, _mm_mullo_epi32(b, _mm_set1_epi32(weight[t])));
        }
        s = SumsToBytes(s, clamp);
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

__attribute__((target("avx2"))) void SpreadRow(int16_t* spread, const TColor32* row, const TColor32* next,
                                               const THorizontalPlan& plan)
{
    // Within each pair of pixels, the same channel side by side.
    const __m128i order = _mm_setr_epi8(0, 4, 1, 5, 2, 6, 3, 7, 8, 12, 9, 13, 10, 14, 11, 15);
    const auto* bytes = reinterpret_cast<const uint8_t*>(row);
    const auto* ahead = reinterpret_cast<const char*>(next);
    const int32_t width = plan.SpanWidth;
    int32_t x = 0;
    for (; x + 16 <= width; x += 16) {
        if (ahead)
            _mm_prefetch(ahead + x * 4, _MM_HINT_T0);
        for (int32_t k = 0; k < 16; k += 4) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + (x + k) * 4));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(spread + (x + k) * 4),
                                _mm256_cvtepu8_epi16(_mm_shuffle_epi8(v, order)));
        }
    }
    for (; x + 4 <= width; x += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + x * 4));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(spread + x * 4),
                            _mm256_cvtepu8_epi16(_mm_shuffle_epi8(v, order)));
    }
    for (; x < plan.SpreadPixels; ++x) {
        int16_t* pair = spread + (x & ~1) * 4 + (x & 1);
        for (int c = 0; c < 4; ++c)
            pair[c * 2] = x < width ? bytes[x * 4 + c] : 0;
    }
}

namespace {

__attribute__((target("avx2"))) inline __m128i FoldLanes(__m256i v)
{
    return _mm_add_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
}

__attribute__((target("avx2"))) inline __m256i Load(const int16_t* p)
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// Four 32-bit sums stored as such, or as 16-bit values less 32768.
__attribute__((target("avx2"))) inline void StoreSums(uint32_t* to, __m128i v)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to), v);
}

__attribute__((target("avx2"))) inline void StoreSums(int16_t* to, __m128i v)
{
    v = _mm_sub_epi32(v, _mm_set1_epi32(32768));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(to), _mm_packs_epi32(v, v));
}

// Groups fixed at compile time for the common window lengths (0: any).
template <int FixedGroups, typename Sum>
__attribute__((target("avx2"))) void HorizontalRows(Sum* const* sums, const int16_t* const* spread, int32_t rows,
                                                    const THorizontalPlan& plan)
{
    const int32_t groups = FixedGroups > 0 ? FixedGroups : plan.Groups;
    const auto count = static_cast<int32_t>(plan.WindowStart.size());
    int32_t r = 0;
    // Four or two rows at a time share each load of the weights.
    for (; r + 4 <= rows; r += 4) {
        const int16_t* s0 = spread[r];
        const int16_t* s1 = spread[r + 1];
        const int16_t* s2 = spread[r + 2];
        const int16_t* s3 = spread[r + 3];
        const int16_t* w = plan.Weights.data();
        for (int32_t i = 0; i < count; ++i, w += groups * 16) {
            const int32_t at = plan.WindowStart[i] * 4;
            __m256i a0 = _mm256_setzero_si256(), a1 = _mm256_setzero_si256();
            __m256i a2 = _mm256_setzero_si256(), a3 = _mm256_setzero_si256();
            for (int32_t g = 0; g < groups; ++g) {
                const __m256i wv = Load(w + g * 16);
                a0 = _mm256_add_epi32(a0, _mm256_madd_epi16(Load(s0 + at + g * 16), wv));
                a1 = _mm256_add_epi32(a1, _mm256_madd_epi16(Load(s1 + at + g * 16), wv));
                a2 = _mm256_add_epi32(a2, _mm256_madd_epi16(Load(s2 + at + g * 16), wv));
                a3 = _mm256_add_epi32(a3, _mm256_madd_epi16(Load(s3 + at + g * 16), wv));
            }
            StoreSums(sums[r] + i * 4, FoldLanes(a0));
            StoreSums(sums[r + 1] + i * 4, FoldLanes(a1));
            StoreSums(sums[r + 2] + i * 4, FoldLanes(a2));
            StoreSums(sums[r + 3] + i * 4, FoldLanes(a3));
        }
    }
    for (; r + 2 <= rows; r += 2) {
        const int16_t* s0 = spread[r];
        const int16_t* s1 = spread[r + 1];
        const int16_t* w = plan.Weights.data();
        for (int32_t i = 0; i < count; ++i, w += groups * 16) {
            const int32_t at = plan.WindowStart[i] * 4;
            __m256i a0 = _mm256_setzero_si256(), a1 = _mm256_setzero_si256();
            for (int32_t g = 0; g < groups; ++g) {
                const __m256i wv = Load(w + g * 16);
                a0 = _mm256_add_epi32(a0, _mm256_madd_epi16(Load(s0 + at + g * 16), wv));
                a1 = _mm256_add_epi32(a1, _mm256_madd_epi16(Load(s1 + at + g * 16), wv));
            }
            StoreSums(sums[r] + i * 4, FoldLanes(a0));
            StoreSums(sums[r + 1] + i * 4, FoldLanes(a1));
        }
    }
    for (; r < rows; ++r) {
        const int16_t* s0 = spread[r];
        const int16_t* w = plan.Weights.data();
        for (int32_t i = 0; i < count; ++i, w += groups * 16) {
            const int32_t at = plan.WindowStart[i] * 4;
            __m256i a0 = _mm256_setzero_si256();
            for (int32_t g = 0; g < groups; ++g)
                a0 = _mm256_add_epi32(a0, _mm256_madd_epi16(Load(s0 + at + g * 16), Load(w + g * 16)));
            StoreSums(sums[r] + i * 4, FoldLanes(a0));
        }
    }
}

} // namespace

// HorizontalRows<0> to <Count - 1>, for choosing the compiled group count.
template <typename Sum, int... Groups>
constexpr auto HorizontalRowsForms(std::integer_sequence<int, Groups...>)
{
    return std::array{&HorizontalRows<Groups, Sum>...};
}

template <typename Sum>
void HorizontalPassOf(Sum* const* sums, const int16_t* const* spread, int32_t rows, const THorizontalPlan& plan)
{
    static constexpr auto forms = HorizontalRowsForms<Sum>(std::make_integer_sequence<int, 13>{});
    const bool compiled = plan.Groups > 0 && plan.Groups < static_cast<int32_t>(forms.size());
    forms[compiled ? plan.Groups : 0](sums, spread, rows, plan);
}

void HorizontalPassSpread(uint32_t* const* sums, const int16_t* const* spread, int32_t rows,
                          const THorizontalPlan& plan)
{
    HorizontalPassOf(sums, spread, rows, plan);
}

void HorizontalPassSpreadNarrow(int16_t* const* sums, const int16_t* const* spread, int32_t rows,
                            const THorizontalPlan& plan)
{
    HorizontalPassOf(sums, spread, rows, plan);
}

__attribute__((target("avx2"))) void VerticalPassSums(TColor32* out, const uint32_t* const* rows,
                                                      const uint32_t* weights, int32_t taps, int32_t count,
                                                      bool clamp)
{
    // Gathers the low byte of each 32-bit lane into the lane's first four bytes.
    const __m256i gather = _mm256_setr_epi8(0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 4, 8,
                                            12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m256i pick = _mm256_setr_epi32(0, 4, 2, 6, 1, 3, 5, 7);
    int32_t i = 0;
    for (; i + 4 <= count; i += 4) {
        __m256i a = _mm256_setzero_si256(), b = _mm256_setzero_si256();
        for (int32_t t = 0; t < taps; ++t) {
            const __m256i w = _mm256_set1_epi32(static_cast<int32_t>(weights[t]));
            const uint32_t* p = rows[t] + i * 4;
            a = _mm256_add_epi32(a, _mm256_mullo_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)), w));
            b = _mm256_add_epi32(b,
                                 _mm256_mullo_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 8)), w));
        }
        // a: pixels i, i+1; b: pixels i+2, i+3.
        const __m256i pa = _mm256_shuffle_epi8(SumsToBytes(a, clamp), gather);
        const __m256i pb = _mm256_shuffle_epi8(SumsToBytes(b, clamp), gather);
        const __m256i both = _mm256_permutevar8x32_epi32(_mm256_unpacklo_epi64(pa, pb), pick);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm256_castsi256_si128(both));
    }
    for (; i < count; ++i) {
        __m128i s = _mm_setzero_si128();
        for (int32_t t = 0; t < taps; ++t)
            s = _mm_add_epi32(s, _mm_mullo_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[t] + i * 4)),
                                                 _mm_set1_epi32(static_cast<int32_t>(weights[t]))));
        const __m256i bytes = _mm256_shuffle_epi8(SumsToBytes(_mm256_zextsi128_si256(s), clamp), gather);
        out[i] = static_cast<TColor32>(_mm256_cvtsi256_si32(bytes));
    }
}

__attribute__((target("avx2"))) void ColumnSums16(uint16_t* sums, const uint8_t* const* rows, int32_t rowCount,
                                                  size_t n, const uint8_t* const* next, int32_t nextCount)
{
    // Column blocks outer, rows inner: each sum is stored once per block row.
    size_t k = 0;
    for (; k + 32 <= n; k += 32) {
        if ((k & 63) == 0)
            for (int32_t r = 0; r < nextCount; ++r)
                _mm_prefetch(reinterpret_cast<const char*>(next[r] + k), _MM_HINT_T0);
        __m256i a = _mm256_setzero_si256(), b = _mm256_setzero_si256();
        for (int32_t r = 0; r < rowCount; ++r) {
            const uint8_t* p = rows[r] + k;
            a = _mm256_add_epi16(a, _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))));
            b = _mm256_add_epi16(b, _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16))));
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(sums + k), a);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(sums + k + 16), b);
    }
    for (; k < n; ++k) {
        uint32_t s = 0;
        for (int32_t r = 0; r < rowCount; ++r)
            s += rows[r][k];
        sums[k] = static_cast<uint16_t>(s);
    }
}

namespace {

// The channel sums of columns [start, end) as four 32-bit lanes. With Pairs
// fixed, always Pairs two-column steps, the columns past end masked off (no
// branch on the width); sums must stay readable that far.
template <int Pairs>
__attribute__((target("avx2"))) inline __m128i BlockSums(const uint16_t* sums, int32_t start, int32_t end)
{
    if constexpr (Pairs == 0) {
        __m128i s = _mm_setzero_si128();
        for (int32_t x = start; x < end; ++x)
            s = _mm_add_epi32(s, _mm_cvtepu16_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(sums + x * 4))));
        return s;
    } else {
        const __m256i limit = _mm256_set1_epi32(end);
        __m256i column = _mm256_add_epi32(_mm256_set1_epi32(start), _mm256_setr_epi32(0, 0, 0, 0, 1, 1, 1, 1));
        __m256i s = _mm256_setzero_si256();
        for (int p = 0; p < Pairs; ++p) {
            const __m256i v = _mm256_cvtepu16_epi32(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(sums + (start + p * 2) * 4)));
            s = _mm256_add_epi32(s, _mm256_and_si256(v, _mm256_cmpgt_epi32(limit, column)));
            column = _mm256_add_epi32(column, _mm256_set1_epi32(2));
        }
        return _mm_add_epi32(_mm256_castsi256_si128(s), _mm256_extracti128_si256(s, 1));
    }
}

template <int Pairs>
__attribute__((target("avx2"))) void BlockAveragesOf(TColor32* out, const uint16_t* sums, const int32_t* starts,
                                                     const int32_t* ends, int32_t count, uint32_t height)
{
    const __m128i gather = _mm_setr_epi8(0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    // Block widths take one or two values along a row: the last two factors
    // are kept, so the division is not made per pixel.
    uint64_t countA = 0, countB = 0;
    uint32_t factorA = 0, factorB = 0;
    for (int32_t k = 0; k < count; ++k) {
        __m128i s = BlockSums<Pairs>(sums, starts[k], ends[k]);
        const uint64_t pixels = static_cast<uint64_t>(ends[k] - starts[k]) * height;
        if (pixels > (uint64_t(1) << 24) || pixels == 0) {
            alignas(16) uint32_t lanes[4];
            _mm_store_si128(reinterpret_cast<__m128i*>(lanes), s);
            const uint64_t sums64[4] = {lanes[0], lanes[1], lanes[2], lanes[3]};
            out[k] = AverageOfSums(sums64, pixels);
            continue;
        }
        uint32_t f;
        if (pixels == countA) {
            f = factorA;
        } else if (pixels == countB) {
            f = factorB;
        } else {
            f = static_cast<uint32_t>((uint64_t(1) << 24) / pixels);
            countB = countA;
            factorB = factorA;
            countA = pixels;
            factorA = f;
        }
        s = _mm_srli_epi32(_mm_mullo_epi32(s, _mm_set1_epi32(static_cast<int32_t>(f))), 24);
        out[k] = static_cast<TColor32>(_mm_cvtsi128_si32(_mm_shuffle_epi8(s, gather)));
    }
}

// The four channel sums of one small block in the low 16-bit lanes.
__attribute__((target("avx2"))) inline __m128i SmallBlockSums(const uint16_t* sums, int32_t start, int32_t end,
                                                              __m256i column)
{
    __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(sums + static_cast<size_t>(start) * 4));
    v = _mm256_and_si256(v, _mm256_cmpgt_epi16(_mm256_set1_epi16(static_cast<int16_t>(end - start)), column));
    const __m128i h = _mm_add_epi16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    return _mm_add_epi16(h, _mm_srli_si128(h, 8));
}

// Blocks of at most four columns and 257 pixels, as photo reductions to
// screen sizes have: a block's sums fit 16 bits, so its columns are added as
// they are stored, and two blocks share each step after that.
__attribute__((target("avx2"))) void BlockAveragesSmall(TColor32* out, const uint16_t* sums, const int32_t* starts,
                                                         const int32_t* ends, int32_t count, uint32_t height)
{
    const __m256i column = _mm256_setr_epi16(0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3);
    const __m256i gather = _mm256_setr_epi8(0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 4, 8,
                                            12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    uint32_t widthA = 0, widthB = 0, factorA = 0, factorB = 0;
    const auto factorOf = [&](uint32_t width) {
        if (width == widthA)
            return factorA;
        if (width == widthB)
            return factorB;
        widthB = widthA;
        factorB = factorA;
        widthA = width;
        factorA = static_cast<uint32_t>((uint64_t(1) << 24) / (uint64_t(width) * height));
        return factorA;
    };
    int32_t k = 0;
    for (; k + 2 <= count; k += 2) {
        const uint32_t f0 = factorOf(static_cast<uint32_t>(ends[k] - starts[k]));
        const uint32_t f1 = factorOf(static_cast<uint32_t>(ends[k + 1] - starts[k + 1]));
        const __m256i both = _mm256_cvtepu16_epi32(_mm_unpacklo_epi64(SmallBlockSums(sums, starts[k], ends[k], column), SmallBlockSums(sums, starts[k + 1], ends[k + 1], column)));
        const __m256i f = _mm256_setr_epi32(static_cast<int32_t>(f0), static_cast<int32_t>(f0), static_cast<int32_t>(f0),
                                            static_cast<int32_t>(f0), static_cast<int32_t>(f1), static_cast<int32_t>(f1),
                                            static_cast<int32_t>(f1), static_cast<int32_t>(f1));
        const __m256i bytes = _mm256_shuffle_epi8(_mm256_srli_epi32(_mm256_mullo_epi32(both, f), 24), gather);
        out[k] = static_cast<TColor32>(_mm256_cvtsi256_si32(bytes));
        out[k + 1] = static_cast<TColor32>(_mm256_extract_epi32(bytes, 4));
    }
    if (k < count) {
        const uint32_t f0 = factorOf(static_cast<uint32_t>(ends[k] - starts[k]));
        const __m128i one = _mm_cvtepu16_epi32(SmallBlockSums(sums, starts[k], ends[k], column));
        const __m128i value = _mm_srli_epi32(_mm_mullo_epi32(one, _mm_set1_epi32(static_cast<int32_t>(f0))), 24);
        out[k] = static_cast<TColor32>(_mm_cvtsi128_si32(_mm_shuffle_epi8(value, _mm256_castsi256_si128(gather))));
    }
}

} // namespace

void BlockAverages16(TColor32* out, const uint16_t* sums, const int32_t* starts, const int32_t* ends, int32_t count,
                     uint32_t height)
{
    int32_t mostColumns = 0;
    for (int32_t k = 0; k < count; ++k)
        mostColumns = std::max(mostColumns, ends[k] - starts[k]);
    if (mostColumns <= 4 && static_cast<uint64_t>(mostColumns) * height <= 257) {
        BlockAveragesSmall(out, sums, starts, ends, count, height);
        return;
    }
    // Blocks of up to eight columns in a fixed count of two-column steps.
    static constexpr std::array forms = {&BlockAveragesOf<0>, &BlockAveragesOf<1>, &BlockAveragesOf<2>,
                                         &BlockAveragesOf<3>, &BlockAveragesOf<4>};
    const int32_t pairs = (mostColumns + 1) / 2;
    forms[pairs < static_cast<int32_t>(forms.size()) ? pairs : 0](out, sums, starts, ends, count, height);
}

__attribute__((target("avx2"))) void VerticalPassNarrow(TColor32* out, const int16_t* const* rows,
                                                        const int16_t* weights, int32_t taps, int32_t count,
                                                        bool clamp)
{
    const __m256i gather = _mm256_setr_epi8(0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 4, 8,
                                            12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m256i offset = _mm256_set1_epi32(1 << 23);
    const TTapPairs<int16_t> pairTaps(rows, weights, taps);
    const auto [pairs, pw, pr] = pairTaps.View();
    int32_t i = 0;
    for (; i + 4 <= count; i += 4) {
        __m256i lo = offset, hi = offset;
        for (int32_t p = 0; p < pairs; ++p) {
            const __m256i a = Load(pr[2 * p] + i * 4);
            const __m256i b = Load(pr[2 * p + 1] + i * 4);
            const __m256i w = _mm256_set1_epi32(pw[p]);
            lo = _mm256_add_epi32(lo, _mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), w));
            hi = _mm256_add_epi32(hi, _mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), w));
        }
        // lo: pixels i and i+2, hi: i+1 and i+3.
        const __m256i pl = _mm256_shuffle_epi8(SumsToBytes(lo, clamp), gather);
        const __m256i ph = _mm256_shuffle_epi8(SumsToBytes(hi, clamp), gather);
        const __m256i both = _mm256_permute4x64_epi64(_mm256_unpacklo_epi32(pl, ph), 0x08);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm256_castsi256_si128(both));
    }
    for (; i < count; ++i) {
        uint32_t s[4] = {1u << 23, 1u << 23, 1u << 23, 1u << 23};
        for (int32_t t = 0; t < taps; ++t)
            for (int c = 0; c < 4; ++c)
                s[c] += static_cast<uint32_t>(static_cast<int32_t>(weights[t]) * rows[t][i * 4 + c]);
        out[i] = SumsToPixel(s, clamp);
    }
}

bool WideVectorKernelAvailable() { return CPUFeatures().AVX512VNNI; }

PALVEX_WIDE void PrepareRowBytes(uint8_t* prepared, const TColor32* row, const TColor32* next, const TBytePlan& plan)
{
    constexpr int32_t pad = TBytePlan::kPad;
    // Channels transposed within each group of four pixels.
    const __m512i order = _mm512_broadcast_i32x4(_mm_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15));
    const auto* bytes = reinterpret_cast<const uint8_t*>(row);
    const auto* ahead = reinterpret_cast<const char*>(next);
    const int32_t width = plan.SpanWidth;
    uint8_t* body = prepared + pad * 4;
    int32_t x = 0;
    for (; x + 16 <= width; x += 16) {
        if (ahead)
            _mm_prefetch(ahead + x * 4, _MM_HINT_T0);
        const __m512i v = _mm512_loadu_si512(bytes + x * 4);
        _mm512_storeu_si512(body + x * 4, _mm512_shuffle_epi8(v, order));
    }
    if (ahead && x < width)
        _mm_prefetch(ahead + x * 4, _MM_HINT_T0);
    for (; x + 4 <= width; x += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + x * 4));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(body + x * 4), _mm_shuffle_epi8(v, _mm512_castsi512_si128(order)));
    }
    // The last part group and the copies of the edge pixels.
    const auto put = [&](int32_t p, int32_t from) {
        uint8_t* group = prepared + (p & ~3) * 4 + (p & 3);
        for (int32_t c = 0; c < 4; ++c)
            group[c * 4] = bytes[from * 4 + c];
    };
    for (int32_t p = 0; p < pad; ++p)
        put(p, 0);
    for (int32_t p = pad + x; p < plan.RowPixels; ++p)
        put(p, std::min(p - pad, width - 1));
}

namespace {

// Neighbouring 128-bit lanes summed: (a0 + a1, a2 + a3, b0 + b1, b2 + b3).
PALVEX_WIDE inline __m512i FoldTwo(__m512i a, __m512i b)
{
    return _mm512_add_epi32(_mm512_shuffle_i64x2(a, b, 0x88), _mm512_shuffle_i64x2(a, b, 0xDD));
}

// The four 128-bit lanes of each of a, b, c, d summed: (a, b, c, d).
PALVEX_WIDE inline __m512i FoldFour(__m512i a, __m512i b, __m512i c, __m512i d)
{
    return FoldTwo(FoldTwo(a, b), FoldTwo(c, d));
}

PALVEX_WIDE inline __m128i FoldOne(__m512i a)
{
    const __m256i h = _mm256_add_epi32(_mm512_castsi512_si256(a), _mm512_extracti64x4_epi64(a, 1));
    return _mm_add_epi32(_mm256_castsi256_si128(h), _mm256_extracti128_si256(h, 1));
}

// Four columns' sums stored as such, as 16-bit values less 32768, or split
// into that (the low halves less 32768) and the high halves plane values on.
struct TSplitSum {
    int16_t Value;
};

PALVEX_WIDE inline void StoreFour(uint32_t* to, __m512i v, size_t) { _mm512_storeu_si512(to, v); }

PALVEX_WIDE inline void StoreFour(int16_t* to, __m512i v, size_t)
{
    v = _mm512_sub_epi32(v, _mm512_set1_epi32(32768));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(to), _mm512_cvtepi32_epi16(v));
}

PALVEX_WIDE inline void StoreFour(TSplitSum* to, __m512i v, size_t plane)
{
    auto* low = reinterpret_cast<int16_t*>(to);
    StoreFour(low, v, plane);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(low + plane), _mm512_cvtepi32_epi16(_mm512_srai_epi32(v, 16)));
}

// Of a split row: one byte per group of four columns, nonzero when a high
// half of the group is not 0.
inline uint8_t* SplitFlags(TSplitSum* row, size_t plane)
{
    return reinterpret_cast<uint8_t*>(reinterpret_cast<int16_t*>(row) + 2 * plane);
}

PALVEX_WIDE inline void StoreOne(uint32_t* to, __m128i v, size_t) { StoreSums(to, v); }

PALVEX_WIDE inline void StoreOne(int16_t* to, __m128i v, size_t) { StoreSums(to, v); }

PALVEX_WIDE inline void StoreOne(TSplitSum* to, __m128i v, size_t plane)
{
    auto* low = reinterpret_cast<int16_t*>(to);
    // The low halves wrapped, not saturated.
    const __m128i wrapped = _mm_srai_epi32(_mm_slli_epi32(_mm_sub_epi32(v, _mm_set1_epi32(32768)), 16), 16);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(low), _mm_packs_epi32(wrapped, wrapped));
    const __m128i high = _mm_srai_epi32(v, 16);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(low + plane), _mm_packs_epi32(high, high));
}

// Sixteen weights, each group's four to all four channels of its 128-bit lane.
PALVEX_WIDE inline __m512i WeightsAt(const int8_t* from)
{
    const __m512i spread = _mm512_setr_epi32(0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3);
    return _mm512_permutexvar_epi32(spread,
                                    _mm512_castsi128_si512(_mm_loadu_si128(reinterpret_cast<const __m128i*>(from))));
}

// Sixteen weights as WeightsAt, the first eight from a and the others from b.
PALVEX_WIDE inline __m512i WeightsAt(const int8_t* a, const int8_t* b)
{
    const __m512i spread = _mm512_setr_epi32(0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3);
    const __m128i both = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a)),
                                            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(b)));
    return _mm512_permutexvar_epi32(spread, _mm512_castsi128_si512(both));
}

// As FixedSteps for plans with ShortLast: two steps, of which the second
// takes eight pixels of each of two columns.
constexpr int kShortLast = -1;

template <int Rows, int FixedSteps, typename Sum>
PALVEX_WIDE void HorizontalBytesRows(Sum* const* sums, const uint8_t* const* prepared, const TBytePlan& plan)
{
    const int32_t steps = FixedSteps == kShortLast ? 2 : FixedSteps > 0 ? FixedSteps : plan.Steps;
    const auto count = static_cast<int32_t>(plan.WindowStart.size());
    const int32_t* starts = plan.WindowStart.data();
    const int8_t* w = plan.Weights.data();
    const size_t stride = static_cast<size_t>(steps) * 16;

    const size_t plane = plan.Plane;
    int32_t i = 0;
    // Four columns at a time: their sums leave in one fold and one store.
    for (; i + 4 <= count; i += 4, w += 4 * stride) {
        __m512i acc[Rows][4];
        if constexpr (FixedSteps == kShortLast) {
            __m512i last[Rows][2];
            for (int c = 0; c < 4; ++c) {
                const __m512i wv = WeightsAt(w + c * stride);
                for (int r = 0; r < Rows; ++r)
                    acc[r][c] = _mm512_dpbusd_epi32(_mm512_setzero_si512(),
                                                    _mm512_loadu_si512(prepared[r] + starts[i + c] * 4), wv);
            }
            for (int h = 0; h < 2; ++h) {
                const int32_t a = starts[i + 2 * h] * 4 + 64, b = starts[i + 2 * h + 1] * 4 + 64;
                const __m512i wv = WeightsAt(w + 2 * h * stride + 16, w + (2 * h + 1) * stride + 16);
                for (int r = 0; r < Rows; ++r) {
                    const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(prepared[r] + a));
                    const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(prepared[r] + b));
                    last[r][h] = _mm512_dpbusd_epi32(_mm512_setzero_si512(),
                                                     _mm512_inserti64x4(_mm512_castsi256_si512(lo), hi, 1), wv);
                }
            }
            for (int r = 0; r < Rows; ++r) {
                // The second steps folded once give the four columns in order.
                const __m512i v = _mm512_add_epi32(FoldFour(acc[r][0], acc[r][1], acc[r][2], acc[r][3]),
                                                   FoldTwo(last[r][0], last[r][1]));
                StoreFour(sums[r] + i * 4, v, plane);
                if constexpr (std::is_same_v<Sum, TSplitSum>)
                    SplitFlags(sums[r], plane)[i / 4] =
                        _mm512_test_epi32_mask(v, _mm512_set1_epi32(static_cast<int32_t>(0xFFFF0000u))) != 0;
            }
            continue;
        }
        for (int c = 0; c < 4; ++c) {
            for (int r = 0; r < Rows; ++r)
                acc[r][c] = _mm512_setzero_si512();
            const size_t at = static_cast<size_t>(starts[i + c]) * 4;
            for (int32_t s = 0; s < steps; ++s) {
                const __m512i wv = WeightsAt(w + c * stride + s * 16);
                for (int r = 0; r < Rows; ++r)
                    acc[r][c] = _mm512_dpbusd_epi32(acc[r][c], _mm512_loadu_si512(prepared[r] + at + s * 64), wv);
            }
        }
        for (int r = 0; r < Rows; ++r) {
            const __m512i v = FoldFour(acc[r][0], acc[r][1], acc[r][2], acc[r][3]);
            StoreFour(sums[r] + i * 4, v, plane);
            if constexpr (std::is_same_v<Sum, TSplitSum>)
                SplitFlags(sums[r], plane)[i / 4] =
                    _mm512_test_epi32_mask(v, _mm512_set1_epi32(static_cast<int32_t>(0xFFFF0000u))) != 0;
        }
    }
    for (; i < count; ++i, w += stride) {
        const size_t at = static_cast<size_t>(starts[i]) * 4;
        for (int r = 0; r < Rows; ++r) {
            __m512i a = _mm512_setzero_si512();
            for (int32_t s = 0; s < steps; ++s)
                a = _mm512_dpbusd_epi32(a, _mm512_loadu_si512(prepared[r] + at + s * 64), WeightsAt(w + s * 16));
            StoreOne(sums[r] + i * 4, FoldOne(a), plane);
            // The last part group is not tested: its high halves always count.
            if constexpr (std::is_same_v<Sum, TSplitSum>)
                SplitFlags(sums[r], plane)[i / 4] = 1;
        }
    }
}

template <int FixedSteps, typename Sum>
void HorizontalBytesOf(Sum* const* sums, const uint8_t* const* prepared, int32_t rows, const TBytePlan& plan)
{
    int32_t r = 0;
    for (; r + 4 <= rows; r += 4)
        HorizontalBytesRows<4, FixedSteps>(sums + r, prepared + r, plan);
    switch (rows - r) {
    case 3: HorizontalBytesRows<3, FixedSteps>(sums + r, prepared + r, plan); break;
    case 2: HorizontalBytesRows<2, FixedSteps>(sums + r, prepared + r, plan); break;
    case 1: HorizontalBytesRows<1, FixedSteps>(sums + r, prepared + r, plan); break;
    default: break;
    }
}

template <typename Sum>
void HorizontalBytesSteps(Sum* const* sums, const uint8_t* const* prepared, int32_t rows, const TBytePlan& plan)
{
    switch (plan.Steps) {
    case 1: HorizontalBytesOf<1>(sums, prepared, rows, plan); break;
    case 2:
        if (plan.ShortLast)
            HorizontalBytesOf<kShortLast>(sums, prepared, rows, plan);
        else
            HorizontalBytesOf<2>(sums, prepared, rows, plan);
        break;
    case 3: HorizontalBytesOf<3>(sums, prepared, rows, plan); break;
    default: HorizontalBytesOf<0>(sums, prepared, rows, plan); break;
    }
}

} // namespace

namespace {


} // namespace

void HorizontalPassBytes(uint32_t* const* sums, const uint8_t* const* prepared, int32_t rows, const TBytePlan& plan)
{
    HorizontalBytesSteps(sums, prepared, rows, plan);
}

void HorizontalPassBytesNarrow(int16_t* const* sums, const uint8_t* const* prepared, int32_t rows,
                           const TBytePlan& plan)
{
    HorizontalBytesSteps(sums, prepared, rows, plan);
}

void HorizontalPassBytesSplit(int16_t* const* sums, const uint8_t* const* prepared, int32_t rows,
                              const TBytePlan& plan)
{
    HorizontalBytesSteps(reinterpret_cast<TSplitSum* const*>(sums), prepared, rows, plan);
}

namespace {

// Blocks x 8 pixels of one output row from pairs of 16-bit ring rows (and
// their high halves with Split), every block its own sums so that the
// multiply-adds of a block do not wait on each other.
template <int Blocks, bool Split>
PALVEX_WIDE inline void MixBlocks(TColor32* out, const int16_t* const* pr, const int32_t* pw, int32_t pairs,
                                  size_t at, size_t plane, __m512i start, bool clamp)
{
    __m512i lowEven[Blocks], lowOdd[Blocks], highEven[Blocks], highOdd[Blocks];
    for (int b = 0; b < Blocks; ++b) {
        lowEven[b] = lowOdd[b] = start;
        highEven[b] = highOdd[b] = _mm512_setzero_si512();
    }
    for (int32_t p = 0; p < pairs; ++p) {
        const int16_t* ra = pr[2 * p] + at;
        const int16_t* rb = pr[2 * p + 1] + at;
        const __m512i w = _mm512_set1_epi32(pw[p]);
        for (int b = 0; b < Blocks; ++b) {
            const __m512i la = _mm512_loadu_si512(ra + b * 32), lb = _mm512_loadu_si512(rb + b * 32);
            lowEven[b] = _mm512_dpwssd_epi32(lowEven[b], _mm512_unpacklo_epi16(la, lb), w);
            lowOdd[b] = _mm512_dpwssd_epi32(lowOdd[b], _mm512_unpackhi_epi16(la, lb), w);
            if constexpr (Split) {
                const __m512i ha = _mm512_loadu_si512(ra + plane + b * 32);
                const __m512i hb = _mm512_loadu_si512(rb + plane + b * 32);
                highEven[b] = _mm512_dpwssd_epi32(highEven[b], _mm512_unpacklo_epi16(ha, hb), w);
                highOdd[b] = _mm512_dpwssd_epi32(highOdd[b], _mm512_unpackhi_epi16(ha, hb), w);
            }
        }
    }
    for (int b = 0; b < Blocks; ++b) {
        __m512i even = lowEven[b], odd = lowOdd[b];
        if constexpr (Split) {
            even = _mm512_add_epi32(_mm512_slli_epi32(highEven[b], 16), even);
            odd = _mm512_add_epi32(_mm512_slli_epi32(highOdd[b], 16), odd);
        }
        // even: pixels 0, 2, 4, 6 of the block; odd: the others.
        const __m128i pe = SumsToBytes(even, clamp);
        const __m128i po = SumsToBytes(odd, clamp);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + b * 8), _mm_unpacklo_epi32(pe, po));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + b * 8 + 4), _mm_unpackhi_epi32(pe, po));
    }
}

// Whether any split row has a high half that is not 0 in the groups of four
// columns [group, group + groups), groups at most 8.
inline bool AnyHighHalf(const int16_t* const* rows, int32_t taps, size_t plane, size_t group, size_t groups)
{
    uint64_t any = 0;
    for (int32_t t = 0; t < taps; ++t) {
        uint64_t bytes = 0;
        std::memcpy(&bytes, reinterpret_cast<const uint8_t*>(rows[t] + 2 * plane) + group, groups);
        any |= bytes;
    }
    return any != 0;
}

// out[i] := the 8-bit conversion of the sums over t of weights[t] times ring
// row t from value at on: 16-bit values less 32768, or (Split) those low
// halves with the high halves plane values on.
template <bool Split>
PALVEX_WIDE void MixRows16(TColor32* out, const int16_t* const* rows, size_t at, size_t plane,
                           const int16_t* weights, int32_t taps, int32_t count, bool clamp)
{
    const TTapPairs<int16_t> pairTaps(rows, weights, taps, at);
    const auto [pairs, pw, pr] = pairTaps.View();
    int32_t total = 0;
    for (int32_t t = 0; t < taps; ++t)
        total += weights[t];
    // The 32768 taken off each low value.
    const auto offset = static_cast<uint32_t>(total) * 32768u;
    const __m512i start = _mm512_set1_epi32(static_cast<int32_t>(offset));
    const size_t group = at / 16;
    int32_t i = 0;
    // Where no tap row has a high half, the low halves alone give the sums.
    for (; i + 32 <= count; i += 32) {
        const auto from = static_cast<size_t>(i) * 4;
        if (Split && AnyHighHalf(rows, taps, plane, group + static_cast<size_t>(i) / 4, 8))
            MixBlocks<4, Split>(out + i, pr, pw, pairs, from, plane, start, clamp);
        else
            MixBlocks<4, false>(out + i, pr, pw, pairs, from, plane, start, clamp);
    }
    for (; i + 8 <= count; i += 8) {
        const auto from = static_cast<size_t>(i) * 4;
        if (Split && AnyHighHalf(rows, taps, plane, group + static_cast<size_t>(i) / 4, 2))
            MixBlocks<1, Split>(out + i, pr, pw, pairs, from, plane, start, clamp);
        else
            MixBlocks<1, false>(out + i, pr, pw, pairs, from, plane, start, clamp);
    }
    for (; i < count; ++i) {
        uint32_t sum[4] = {offset, offset, offset, offset};
        for (int32_t t = 0; t < taps; ++t)
            for (int c = 0; c < 4; ++c) {
                const int16_t* value = rows[t] + at + static_cast<size_t>(i) * 4 + static_cast<size_t>(c);
                const auto w = static_cast<uint32_t>(static_cast<int32_t>(weights[t]));
                sum[c] += w * static_cast<uint32_t>(static_cast<int32_t>(*value));
                if constexpr (Split)
                    sum[c] += (w * static_cast<uint32_t>(static_cast<int32_t>(value[plane]))) << 16;
            }
        out[i] = SumsToPixel(sum, clamp);
    }
}

} // namespace

void VerticalPassSplitWide(TColor32* out, const int16_t* const* rows, size_t at, size_t plane,
                           const int16_t* weights, int32_t taps, int32_t count, bool clamp)
{
    MixRows16<true>(out, rows, at, plane, weights, taps, count, clamp);
}

void VerticalPassNarrowWide(TColor32* out, const int16_t* const* rows, size_t at, const int16_t* weights,
                            int32_t taps, int32_t count, bool clamp)
{
    MixRows16<false>(out, rows, at, 0, weights, taps, count, clamp);
}

PALVEX_WIDE void VerticalPassSumsWide(TColor32* out, const uint32_t* const* rows, const uint32_t* weights,
                                      int32_t taps, int32_t count, bool clamp)
{
    int32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        __m512i a = _mm512_setzero_si512(), b = _mm512_setzero_si512();
        for (int32_t t = 0; t < taps; ++t) {
            const __m512i w = _mm512_set1_epi32(static_cast<int32_t>(weights[t]));
            const uint32_t* p = rows[t] + i * 4;
            a = _mm512_add_epi32(a, _mm512_mullo_epi32(_mm512_loadu_si512(p), w));
            b = _mm512_add_epi32(b, _mm512_mullo_epi32(_mm512_loadu_si512(p + 16), w));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), SumsToBytes(a, clamp));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 4), SumsToBytes(b, clamp));
    }
    if (i < count) {
        std::vector<const uint32_t*> rest(rows, rows + taps);
        for (auto& row : rest)
            row += i * 4;
        VerticalPassSums(out + i, rest.data(), weights, taps, count - i, clamp);
    }
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

bool WideVectorKernelAvailable() { return false; }

void PrepareRowBytes(uint8_t*, const TColor32*, const TColor32*, const TBytePlan&) {}

void HorizontalPassBytes(uint32_t* const*, const uint8_t* const*, int32_t, const TBytePlan&) {}

void HorizontalPassBytesNarrow(int16_t* const*, const uint8_t* const*, int32_t, const TBytePlan&) {}

void HorizontalPassBytesSplit(int16_t* const*, const uint8_t* const*, int32_t, const TBytePlan&) {}

void VerticalPassSplitWide(TColor32*, const int16_t* const*, size_t, size_t, const int16_t*, int32_t, int32_t, bool) {}

void VerticalPassNarrowWide(TColor32*, const int16_t* const*, size_t, const int16_t*, int32_t, int32_t, bool) {}

void VerticalPassSumsWide(TColor32*, const uint32_t* const*, const uint32_t*, int32_t, int32_t, bool) {}

void VerticalPassVector(uint32_t*, const uint8_t* const*, const int32_t*, int32_t, size_t) {}

void HorizontalPassVector(TColor32*, const uint32_t*, const int32_t*, const int32_t*, const int32_t*, int32_t, int32_t,
                          bool)
{
}

void AddRowBytes(uint32_t* sums, const uint8_t* bytes, size_t n) { AddRowBytesPlain(sums, bytes, n); }

void SpreadRow(int16_t*, const TColor32*, const TColor32*, const THorizontalPlan&) {}

void HorizontalPassSpreadNarrow(int16_t* const*, const int16_t* const*, int32_t, const THorizontalPlan&) {}

void VerticalPassNarrow(TColor32*, const int16_t* const*, const int16_t*, int32_t, int32_t, bool) {}

void ColumnSums16(uint16_t*, const uint8_t* const*, int32_t, size_t, const uint8_t* const*, int32_t) {}

void BlockAverages16(TColor32*, const uint16_t*, const int32_t*, const int32_t*, int32_t, uint32_t) {}

void HorizontalPassSpread(uint32_t* const*, const int16_t* const*, int32_t, const THorizontalPlan&) {}

void VerticalPassSums(TColor32*, const uint32_t* const*, const uint32_t*, int32_t, int32_t, bool) {}

#endif

} // namespace palvex
