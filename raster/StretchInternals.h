// The pieces of the resampler that StretchCopy is built from: kernels, weight
// lists, pixel combiners and the five paths. Exposed so that tests can hold
// each piece to its exact arithmetic.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "raster/Bitmap32.h"
#include "raster/RowSource.h"
#include "raster/RasterTypes.h"
#include "raster/Rect.h"

namespace palvex {

// One source column (or row) and its weight in 1/256.
struct TContribution {
    int32_t SourceIndex;
    int32_t Weight;
    bool operator==(const TContribution&) const = default;
};
using TContributionList = std::vector<TContribution>;

// Four sums of weighted channels, in the order red, green, blue, alpha.
struct TChannelSums {
    int32_t R = 0;
    int32_t G = 0;
    int32_t B = 0;
    int32_t A = 0;
};

using TKernelFunction = float (*)(float x);

struct TKernelEntry {
    TKernelFunction Kernel;
    float Radius;
};

float BoxKernel(float x);
float TriangleKernel(float x);
float CosineKernel(float x);
float SplineKernel(float x);
float LanczosKernel(float x);
float MitchellKernel(float x);
// The cosine and Lanczos kernels computed wholly in extended precision; the
// kernels above give the same floats faster.
float CosineKernelExtended(float x);
float LanczosKernelExtended(float x);

// Indexed by TStretchFilter.
extern const TKernelEntry KernelTable[7];

// One list per clip index clipLo..clipHi-1; the weights of each sum to 256.
std::vector<TContributionList> BuildContributions(int32_t dstLo, int32_t dstHi, int32_t clipLo, int32_t clipHi,
                                                  int32_t srcLo, int32_t srcHi, TStretchFilter filter);
// Both axes' lists, as BuildContributions gives them; the weights are
// computed once when the two axes place their samples alike.
void BuildContributionsXY(const TRect& destRect, const TRect& clipRect, const TRect& sourceRect,
                          TStretchFilter filter, std::vector<TContributionList>& horizontal,
                          std::vector<TContributionList>& vertical);

// X weighted by w, Y by 255 - w; w in 0..255.
TColor32 CombineWeighted(TColor32 x, TColor32 y, uint32_t w);

// wx: weight of the left column, wy: weight of the upper row, each 0..256.
TColor32 BilinearSampleMMX(uint32_t wx, uint32_t wy, TColor32 c11, TColor32 c12, TColor32 c21, TColor32 c22);
TColor32 BilinearSamplePlain(uint32_t wx, uint32_t wy, TColor32 c11, TColor32 c12, TColor32 c21, TColor32 c22);

// The variant StretchBilinear uses: chosen from CPUFeatures on first use;
// tests switch it.
enum class TBilinearVariant : uint8_t { MMX, Plain };
TBilinearVariant BilinearVariant();
void SetBilinearVariant(TBilinearVariant variant);
TColor32 BilinearSample(uint32_t wx, uint32_t wy, TColor32 c11, TColor32 c12, TColor32 c21, TColor32 c22);

// The average of a width x height block whose top-left pixel is topLeft, rows
// stride pixels apart.
TColor32 AverageBlock(const TColor32* topLeft, size_t stride, int32_t width, int32_t height);
// The average from per-channel sums (blue, green, red, alpha) of count pixels.
TColor32 AverageOfSums(const uint64_t sums[4], uint64_t count);

// A channel's weighted sum (weights in 1/256, so 65536 is one level) as 8
// bits: bits 16..23, the lower ones dropped; with clamp, sums below 0 give 0
// and above 0xFF0000 give 255 (the filters with negative weights).
inline uint32_t SumToByte(uint32_t sum, bool clamp)
{
    if (clamp) {
        const auto s = static_cast<int32_t>(sum);
        if (s > 0xFF0000)
            return 255;
        if (s < 0)
            return 0;
    }
    return (sum >> 16) & 0xFF;
}

// Four such sums, blue, green, red, alpha, as one pixel.
inline TColor32 SumsToPixel(const uint32_t sums[4], bool clamp)
{
    return SumToByte(sums[0], clamp) | (SumToByte(sums[1], clamp) << 8) | (SumToByte(sums[2], clamp) << 16) |
           (SumToByte(sums[3], clamp) << 24);
}

void BlendOver(TColor32 f, TColor32& b, uint32_t masterAlpha);
void BlendOverRow(const TColor32* f, TColor32* b, int32_t count, uint32_t masterAlpha);

// The SIMD forms of the kernel path's passes; on by default where the
// processor has them. Tests turn them off to compare with the plain loops.
bool VectorPathsEnabled();
void SetVectorPathsEnabled(bool enabled);
// The 512-bit forms of the kernel path, where the processor has them; tests
// turn them off to hold the 256-bit forms to the same pixels.
bool WideVectorPathsEnabled();
void SetWideVectorPathsEnabled(bool enabled);
// Columns per strip when the kernel path mixes a batch of output rows (0:
// from the cache size); tests use thin strips on small pictures.
void SetKernelStripPixels(int32_t pixels);
// With the SIMD forms, the kernel path runs the pass order with less work
// (weighing across first, see THorizontalPlan, or the plain loops' order);
// tests fix either.
enum class TKernelPassOrder : uint8_t { Cheaper, VerticalFirst, HorizontalFirst };
TKernelPassOrder KernelPassOrder();
void SetKernelPassOrder(TKernelPassOrder order);

// The paths, after StretchCopy's checks, with clipRect already clipped. Each
// reads source rows in the order TRowSource allows, after telling it how many
// it uses at once.
void CopySameSize(TBitmap32& destination, const TRect& clipRect, TRowSource& source, uint32_t masterAlpha,
                  int32_t sourceX, int32_t sourceY, TDrawMode combineMode, const TPixelCombineEvent& pixelEvent);
void StretchPointSample(TBitmap32& destination, const TRect& destRect, const TRect& clipRect, TRowSource& source,
                        uint32_t masterAlpha, const TRect& sourceRect, TDrawMode combineMode,
                        const TPixelCombineEvent& pixelEvent);
void StretchBilinear(TBitmap32& destination, const TRect& destRect, const TRect& clipRect, TRowSource& source,
                     uint32_t masterAlpha, const TRect& sourceRect, TDrawMode combineMode,
                     const TPixelCombineEvent& pixelEvent);
void StretchBlockAverage(TBitmap32& destination, const TRect& destRect, const TRect& clipRect, TRowSource& source,
                         uint32_t masterAlpha, const TRect& sourceRect, TDrawMode combineMode,
                         const TPixelCombineEvent& pixelEvent);
void StretchKernel(TBitmap32& destination, const TRect& destRect, const TRect& clipRect, TRowSource& source,
                   uint32_t masterAlpha, const TRect& sourceRect, TStretchFilter filter, TDrawMode combineMode,
                   const TPixelCombineEvent& pixelEvent);

// The bilinear sample table of one axis: the two source indices and the
// weight of the first. Exposed for the tests of its edge rules.
struct TBilinearEntry {
    int32_t Index0;
    int32_t Index1;
    int32_t Weight;
};
std::vector<TBilinearEntry> BuildBilinearTable(int64_t dstLo, int32_t clipLo, int32_t clipHi, int32_t srcLo,
                                               int32_t srcHi, int64_t dstSize, int32_t bitmapSize);

} // namespace palvex
