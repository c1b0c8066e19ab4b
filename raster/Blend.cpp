// Per-pixel arithmetic of the resampler: weighted mixes, the two bilinear
// variants, block averages and blending over the destination.
#include <algorithm>

#include "platform/CpuFeatures.h"
#include "raster/StretchInternals.h"

namespace palvex {

namespace {

inline uint32_t Channel(TColor32 c, int shift) { return (c >> shift) & 0xFFu; }

inline uint32_t MixChannel(uint32_t x, uint32_t y, uint32_t w)
{
    return ((x * w + 128) >> 8) + ((y * (255 - w) + 128) >> 8);
}

TBilinearVariant InitialVariant()
{
    return CPUFeatures().MMX ? TBilinearVariant::MMX : TBilinearVariant::Plain;
}

TBilinearVariant& CurrentVariant()
{
    static TBilinearVariant variant = InitialVariant();
    return variant;
}

} // namespace

TColor32 CombineWeighted(TColor32 x, TColor32 y, uint32_t w)
{
    if (w == 0)
        return y;
    if (w >= 255)
        return x;
    TColor32 result = 0;
    for (int shift = 0; shift < 32; shift += 8)
        result |= MixChannel(Channel(x, shift), Channel(y, shift), w) << shift;
    return result;
}

TColor32 BilinearSampleMMX(uint32_t wx, uint32_t wy, TColor32 c11, TColor32 c12, TColor32 c21, TColor32 c22)
{
    wx = std::min(wx, 256u);
    wy = std::min(wy, 256u);
    TColor32 result = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const uint32_t top = (Channel(c11, shift) * wx + Channel(c12, shift) * (256 - wx)) >> 8;
        const uint32_t bottom = (Channel(c21, shift) * wx + Channel(c22, shift) * (256 - wx)) >> 8;
        result |= ((top * wy + bottom * (256 - wy)) >> 8) << shift;
    }
    return result;
}

TColor32 BilinearSamplePlain(uint32_t wx, uint32_t wy, TColor32 c11, TColor32 c12, TColor32 c21, TColor32 c22)
{
    wx = std::min(wx, 255u);
    wy = std::min(wy, 255u);
    const TColor32 top = CombineWeighted(c11, c12, wx);
    const TColor32 bottom = CombineWeighted(c21, c22, wx);
    return CombineWeighted(top, bottom, wy);
}

TBilinearVariant BilinearVariant() { return CurrentVariant(); }

void SetBilinearVariant(TBilinearVariant variant) { CurrentVariant() = variant; }

TColor32 BilinearSample(uint32_t wx, uint32_t wy, TColor32 c11, TColor32 c12, TColor32 c21, TColor32 c22)
{
    if (CurrentVariant() == TBilinearVariant::MMX)
        return BilinearSampleMMX(wx, wy, c11, c12, c21, c22);
    return BilinearSamplePlain(wx, wy, c11, c12, c21, c22);
}

TColor32 AverageOfSums(const uint64_t sums[4], uint64_t count)
{
    if (count == 0)
        return 0;
    TColor32 result = 0;
    if (count <= (uint64_t(1) << 24)) {
        // 2^24 div count, rounded down: the average may come out one level low.
        const uint32_t f = static_cast<uint32_t>((uint64_t(1) << 24) / count);
        for (int c = 0; c < 4; ++c)
            result |= ((static_cast<uint32_t>(sums[c]) * f) >> 24) << (8 * c);
    } else {
        // 2^24 div count would be 0 here; a finer factor keeps the average.
        const uint64_t f = (uint64_t(1) << 40) / count;
        for (int c = 0; c < 4; ++c)
            result |= static_cast<TColor32>(std::min<uint64_t>((sums[c] * f) >> 40, 255)) << (8 * c);
    }
    return result;
}

TColor32 AverageBlock(const TColor32* topLeft, size_t stride, int32_t width, int32_t height)
{
    if (width <= 0 || height <= 0)
        return 0;
    uint64_t sums[4] = {0, 0, 0, 0};
    for (int32_t y = 0; y < height; ++y) {
        const TColor32* row = topLeft + static_cast<size_t>(y) * stride;
        uint64_t rowSums[4] = {0, 0, 0, 0};
        for (int32_t x = 0; x < width; ++x) {
            const TColor32 c = row[x];
            rowSums[0] += c & 0xFF;
            rowSums[1] += (c >> 8) & 0xFF;
            rowSums[2] += (c >> 16) & 0xFF;
            rowSums[3] += c >> 24;
        }
        for (int c = 0; c < 4; ++c)
            sums[c] += rowSums[c];
    }
    return AverageOfSums(sums, static_cast<uint64_t>(width) * static_cast<uint64_t>(height));
}

void BlendOver(TColor32 f, TColor32& b, uint32_t masterAlpha)
{
    const uint32_t alpha = f >> 24;
    if (alpha == 0)
        return;
    // A master alpha above 255 would push the weight past 255 and wrap the
    // background's share; it means fully applied.
    const uint32_t m = std::min(masterAlpha, 255u);
    const uint32_t w = ((m + 1) * alpha) >> 8;
    if (w == 0)
        return;
    TColor32 result = 0;
    for (int shift = 0; shift < 24; shift += 8)
        result |= MixChannel(Channel(f, shift), Channel(b, shift), w) << shift;
    b = result;
}

void BlendOverRow(const TColor32* f, TColor32* b, int32_t count, uint32_t masterAlpha)
{
    if (masterAlpha < 255) {
        for (int32_t i = 0; i < count; ++i)
            BlendOver(f[i], b[i], masterAlpha);
        return;
    }
    for (int32_t i = 0; i < count; ++i) {
        const uint32_t a = f[i] >> 24;
        if (a == 0)
            continue;
        if (a == 255) {
            b[i] = f[i];
            continue;
        }
        TColor32 result = 0;
        for (int shift = 0; shift < 32; shift += 8)
            result |= MixChannel(Channel(f[i], shift), Channel(b[i], shift), a) << shift;
        b[i] = result;
    }
}

} // namespace palvex
