// The SIMD forms and the horizontal-first order against the plain loops, bit
// for bit; the double-precision kernel values against the extended ones.
#include <cmath>
#include <cstring>
#include <random>

#include "TestMain.h"
#include "raster/Stretch.h"
#include "raster/StretchInternals.h"
#include "raster/StretchVector.h"

using namespace palvex;

namespace {

struct FormScope {
    bool vector = VectorPathsEnabled();
    TKernelPassOrder order = KernelPassOrder();
    bool wide = WideVectorPathsEnabled();
    ~FormScope()
    {
        SetKernelStripPixels(0);
        SetVectorPathsEnabled(vector);
        SetWideVectorPathsEnabled(wide);
        SetKernelPassOrder(order);
    }
};

void Fill(TBitmap32& b, std::mt19937& rng)
{
    std::uniform_int_distribution<uint32_t> any;
    for (size_t i = 0; i < b.PixelCount(); ++i) {
        TColor32 c = any(rng);
        // Hard black and white drive the clamped kernels past 0 and 255.
        if ((c & 3) == 0)
            c = (c & 4) ? 0xFFFFFFFFu : 0u;
        b.PixelData()[i] = c;
    }
}

void Custom(TColor32 f, TColor32& b, TColor32 m) { b = (b * 17u) ^ f ^ m; }

// Runs one StretchCopy in the four forms (plain, SIMD vertical-first, SIMD
// horizontal-first with and without the 512-bit forms) into copies of the same destination and compares them.
::testing::AssertionResult SameInEveryForm(const TBitmap32& source, const TRect& sr, const TBitmap32& start,
                                           const TRect& dr, const TRect& clip, TStretchFilter filter, TDrawMode mode)
{
    const TPixelCombineEvent event = mode == dmCustom ? TPixelCombineEvent(Custom) : TPixelCombineEvent();
    TBitmap32 plain, vertical, split, split256;
    plain.AssignFrom(start);
    vertical.AssignFrom(start);
    split.AssignFrom(start);
    split256.AssignFrom(start);
    SetVectorPathsEnabled(false);
    StretchCopy(&plain, dr, clip, &source, sr, filter, mode, event);
    SetVectorPathsEnabled(true);
    SetWideVectorPathsEnabled(true);
    SetKernelPassOrder(TKernelPassOrder::VerticalFirst);
    StretchCopy(&vertical, dr, clip, &source, sr, filter, mode, event);
    SetKernelPassOrder(TKernelPassOrder::HorizontalFirst);
    StretchCopy(&split, dr, clip, &source, sr, filter, mode, event);
    // Weighing across first with the 256-bit forms only.
    SetWideVectorPathsEnabled(false);
    StretchCopy(&split256, dr, clip, &source, sr, filter, mode, event);
    SetWideVectorPathsEnabled(true);
    const size_t bytes = plain.PixelCount() * sizeof(TColor32);
    const bool same = std::memcmp(plain.PixelData(), vertical.PixelData(), bytes) == 0 &&
                      std::memcmp(plain.PixelData(), split.PixelData(), bytes) == 0 &&
                      std::memcmp(plain.PixelData(), split256.PixelData(), bytes) == 0;
    if (same)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "filter " << int(filter) << " mode " << int(mode) << " source " << source.Width() << "x"
           << source.Height() << " sr " << sr.Left << "," << sr.Top << "," << sr.Right << "," << sr.Bottom << " dr "
           << dr.Left << "," << dr.Top << "," << dr.Right << "," << dr.Bottom << " clip " << clip.Left << ","
           << clip.Top << "," << clip.Right << "," << clip.Bottom;
}

} // namespace

TEST(StretchVector, EveryFormGivesTheSamePixels)
{
    if (!VectorKernelAvailable())
        GTEST_SKIP() << "no SIMD forms on this processor";
    FormScope scope;
    std::mt19937 rng(31337);
    // Widths around the vector steps (4, 8, 16 pixels) and their tails.
    std::uniform_int_distribution<int> side(1, 70);
    for (int n = 0; n < 400; ++n) {
        TBitmap32 source, start;
        source.SetSize(side(rng), side(rng));
        Fill(source, rng);
        source.SetMasterAlpha(n % 4 == 0 ? 128 : 255);
        std::uniform_int_distribution<int> l(0, source.Width() - 1), t(0, source.Height() - 1);
        TRect sr{l(rng), t(rng), 0, 0};
        sr.Right = std::uniform_int_distribution<int>(sr.Left + 1, source.Width())(rng);
        sr.Bottom = std::uniform_int_distribution<int>(sr.Top + 1, source.Height())(rng);
        start.SetSize(side(rng), side(rng));
        Fill(start, rng);
        // Destinations that reduce, enlarge or keep each axis, and reach past
        // the bitmap on any side.
        std::uniform_int_distribution<int> off(-10, 10);
        const auto length = [&](int s) {
            switch (rng() % 4) {
            case 0: return s;
            case 1: return std::max(1, s / static_cast<int>(1 + rng() % 6));
            case 2: return s * static_cast<int>(1 + rng() % 3) + static_cast<int>(rng() % 5);
            default: return static_cast<int>(1 + rng() % 80);
            }
        };
        TRect dr{off(rng), off(rng), 0, 0};
        dr.Right = dr.Left + length(sr.Width());
        dr.Bottom = dr.Top + length(sr.Height());
        const TRect clip = rng() % 2 ? start.FullRect()
                                     : TRect{off(rng) + 5, off(rng) + 5, off(rng) + 40, off(rng) + 40};
        for (int f = sfNearest; f <= sfMitchell; ++f) {
            const auto mode = static_cast<TDrawMode>(f == sfSpline || f == sfDraft ? n % 3 : (n + f) % 3);
            ASSERT_TRUE(SameInEveryForm(source, sr, start, dr, clip, static_cast<TStretchFilter>(f), mode));
        }
    }
}

TEST(StretchVector, OnePixelSourcesAndDestinations)
{
    if (!VectorKernelAvailable())
        GTEST_SKIP() << "no SIMD forms on this processor";
    FormScope scope;
    std::mt19937 rng(5);
    const int sizes[][4] = {{1, 1, 1, 1},  {1, 1, 9, 5},  {9, 5, 1, 1}, {1, 17, 3, 1}, {17, 1, 1, 33},
                            {33, 2, 1, 7}, {2, 33, 7, 1}, {5, 5, 1, 9}, {64, 64, 1, 1}};
    for (const auto& s : sizes) {
        TBitmap32 source, start;
        source.SetSize(s[0], s[1]);
        Fill(source, rng);
        start.SetSize(s[2], s[3]);
        start.FillAll(0x80808080u);
        for (int f = sfNearest; f <= sfMitchell; ++f)
            for (int mode = dmOpaque; mode <= dmCustom; ++mode)
                ASSERT_TRUE(SameInEveryForm(source, source.FullRect(), start, start.FullRect(), start.FullRect(),
                                            static_cast<TStretchFilter>(f), static_cast<TDrawMode>(mode)));
    }
}

TEST(StretchVector, BlockAverageAroundTheSixteenBitColumnSums)
{
    if (!VectorKernelAvailable())
        GTEST_SKIP() << "no SIMD forms on this processor";
    FormScope scope;
    std::mt19937 rng(9);
    // Block heights of 256, 257 (the most 16-bit sums hold) and 258 and more
    // (the 32-bit loop); widths up to 8 columns (fixed steps) and beyond.
    const int cases[][4] = {{19, 512, 3, 2}, {19, 514, 5, 2}, {19, 516, 7, 2}, {40, 900, 4, 3},
                            {90, 300, 9, 1}, {203, 40, 11, 7}, {7, 2000, 1, 1}};
    for (const auto& c : cases) {
        TBitmap32 source, start;
        source.SetSize(c[0], c[1]);
        // All white: a sum past 16 bits would show as a dark block.
        source.FillAll(0xFFFFFFFFu);
        for (int i = 0; i < 50; ++i)
            source.SetPixel(static_cast<int>(rng() % c[0]), static_cast<int>(rng() % c[1]), rng());
        start.SetSize(c[2], c[3]);
        for (int mode = dmOpaque; mode <= dmCustom; ++mode)
            ASSERT_TRUE(SameInEveryForm(source, source.FullRect(), start, start.FullRect(), start.FullRect(), sfDraft,
                                        static_cast<TDrawMode>(mode)));
    }
}

TEST(StretchVector, HorizontalPlanMergesEdgeRepeatsAndRefusesWideWeights)
{
    // Column 0 folded twice onto the edge, as sfLinear's first list from 10 to 4.
    const int32_t start[] = {0, 5, 7};
    const int32_t index[] = {0, 0, 1, 2, 3, 5, 6};
    const int32_t weight[] = {31, 72, 92, 51, 10, 200, 56};
    THorizontalPlan plan;
    ASSERT_TRUE(BuildHorizontalPlan(start, index, weight, 2, 0, 9, plan));
    EXPECT_EQ(1, plan.Groups);
    EXPECT_EQ((std::vector<int32_t>{0, 4}), plan.WindowStart);
    // (w0 w1) x 4 then (w2 w3) x 4 per group.
    const int16_t first[] = {103, 92, 103, 92, 103, 92, 103, 92, 51, 10, 51, 10, 51, 10, 51, 10};
    EXPECT_EQ(0, std::memcmp(first, plan.Weights.data(), sizeof first));
    const int16_t second[] = {0, 200, 0, 200, 0, 200, 0, 200, 56, 0, 56, 0, 56, 0, 56, 0};
    EXPECT_EQ(0, std::memcmp(second, plan.Weights.data() + 16, sizeof second));
    EXPECT_EQ(8, plan.SpreadPixels);

    // Two weights that fit alone but not once merged.
    const int32_t wideStart[] = {0, 2};
    const int32_t wideIndex[] = {4, 4};
    const int32_t wideWeight[] = {30000, 30000};
    EXPECT_FALSE(BuildHorizontalPlan(wideStart, wideIndex, wideWeight, 1, 0, 9, plan));
}

TEST(StretchVector, DoubleKernelValuesEqualTheExtendedOnes)
{
    // A spread of floats over each kernel's support, both signs, plus the
    // points where the sine and cosine vanish.
    uint32_t threeBits;
    const float three = 3.0f;
    std::memcpy(&threeBits, &three, sizeof threeBits);
    int checked = 0;
    for (uint32_t bits = 0; bits < threeBits; bits += 4099) {
        float x;
        std::memcpy(&x, &bits, sizeof x);
        for (const float v : {x, -x, std::nextafter(x, 4.0f)}) {
            ASSERT_EQ(LanczosKernelExtended(v), LanczosKernel(v)) << std::hexfloat << v;
            ASSERT_EQ(CosineKernelExtended(v), CosineKernel(v)) << std::hexfloat << v;
        }
        ++checked;
    }
    EXPECT_GT(checked, 200000);
    for (const float v : {0.0f, 1.0f, 2.0f, 3.0f, 0.5f, 1.5f, 2.5f, 1.0f / 3.0f})
        for (const float near : {std::nextafter(v, 0.0f), v, std::nextafter(v, 4.0f)}) {
            EXPECT_EQ(LanczosKernelExtended(near), LanczosKernel(near)) << std::hexfloat << near;
            EXPECT_EQ(CosineKernelExtended(near), CosineKernel(near)) << std::hexfloat << near;
        }
}

TEST(StretchVector, BatchesAndStripsOnPhotoLikeReductions)
{
    if (!VectorKernelAvailable())
        GTEST_SKIP() << "no SIMD forms on this processor";
    FormScope scope;
    std::mt19937 rng(77);
    // Proportional reductions by 10/3 and 6.4 as the batch run makes them,
    // others with unequal axes, source rectangles off the origin and clips
    // that cut into the destination; strips that do not divide the width.
    const int cases[][6] = {{400, 240, 120, 72, 0, 0},  {320, 180, 50, 28, 0, 0},  {203, 117, 61, 35, 3, 5},
                            {260, 90, 37, 41, 10, 2},    {97, 301, 29, 43, 1, 1},   {513, 64, 154, 19, 0, 7}};
    for (const auto& c : cases) {
        TBitmap32 source, start;
        source.SetSize(c[0] + c[4], c[1] + c[5]);
        Fill(source, rng);
        start.SetSize(c[2], c[3]);
        Fill(start, rng);
        const TRect sr{c[4], c[5], c[4] + c[0], c[5] + c[1]};
        const TRect dr = start.FullRect();
        const TRect clips[] = {dr, TRect{3, 2, c[2] - 1, c[3] - 4}};
        for (const int strip : {0, 8, 24, 40})
            for (const TRect& clip : clips)
                for (int f = sfLinear; f <= sfMitchell; ++f) {
                    SetKernelStripPixels(strip);
                    const auto mode = static_cast<TDrawMode>((f + strip / 8) % 3);
                    ASSERT_TRUE(SameInEveryForm(source, sr, start, dr, clip, static_cast<TStretchFilter>(f), mode))
                        << "strip " << strip;
                }
    }
}

TEST(StretchVector, BothAxesTogetherGiveEachAxisLists)
{
    std::mt19937 rng(2024);
    std::uniform_int_distribution<int> size(1, 300), off(-20, 20);
    for (int n = 0; n < 300; ++n) {
        const int sw = size(rng), sh = n % 3 == 0 ? sw * 9 / 16 + 1 : size(rng);
        const int dw = std::max(1, sw * (1 + static_cast<int>(rng() % 5)) / 7 + static_cast<int>(rng() % 2));
        // Every third case proportional (one scale for both axes).
        const int dh = n % 3 == 0 ? std::max(1, dw * 9 / 16 + 1) : size(rng);
        const TRect sr{static_cast<int>(rng() % 4), static_cast<int>(rng() % 4), 0, 0};
        const TRect source{sr.Left, sr.Top, sr.Left + sw, sr.Top + sh};
        const TRect dest{off(rng), n % 2 ? off(rng) : 0, 0, 0};
        const TRect destRect{dest.Left, dest.Top, dest.Left + dw, dest.Top + dh};
        TRect clip = destRect;
        if (n % 4 == 1)
            clip = {destRect.Left + 1, destRect.Top, destRect.Right - 1, destRect.Bottom};
        for (int f = sfNearest; f <= sfMitchell; ++f) {
            const auto filter = static_cast<TStretchFilter>(f);
            std::vector<TContributionList> across, down;
            BuildContributionsXY(destRect, clip, source, filter, across, down);
            ASSERT_EQ(BuildContributions(destRect.Left, destRect.Right, clip.Left, clip.Right, source.Left,
                                         source.Right, filter),
                      across)
                << n << " filter " << f;
            ASSERT_EQ(BuildContributions(destRect.Top, destRect.Bottom, clip.Top, clip.Bottom, source.Top,
                                         source.Bottom, filter),
                      down)
                << n << " filter " << f;
        }
    }
}

TEST(StretchVector, BytePlanSpreadsEdgeWeightsAndRefusesWideOnes)
{
    // Column 0: 200 on the first pixel (folded edge) and 56 on the second;
    // column 1: a list of five taps starting at pixel 6.
    const int32_t start[] = {0, 2, 7};
    const int32_t index[] = {0, 1, 6, 7, 8, 9, 9};
    const int32_t weight[] = {200, 56, 10, 60, 100, 60, 26};
    TBytePlan plan;
    ASSERT_TRUE(BuildBytePlan(start, index, weight, 2, 0, 9, plan));
    EXPECT_TRUE(plan.Narrow);
    EXPECT_EQ(1, plan.Steps);
    // 200 = 127 + 73 over the first pixel (position 4) and its copy before
    // it; 16 weights per column, by position in the window.
    ASSERT_EQ((std::vector<int32_t>{0, 8}), plan.WindowStart);
    ASSERT_EQ(32u, plan.Weights.size());
    const std::vector<int> first(plan.Weights.begin(), plan.Weights.begin() + 16);
    EXPECT_EQ((std::vector<int>{0, 0, 0, 73, 127, 56, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), first);
    // Column 1: pixels 6..9 at positions 10..13, from window start 8; the
    // last pixel (9) is the span's edge, so 86 stays one weight there.
    const std::vector<int> second(plan.Weights.begin() + 16, plan.Weights.end());
    EXPECT_EQ((std::vector<int>{0, 0, 10, 60, 100, 86, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), second);

    // A weight over 127 away from the edges cannot be spread.
    const int32_t wideStart[] = {0, 2};
    const int32_t wideIndex[] = {4, 5};
    const int32_t wideWeight[] = {130, 126};
    EXPECT_FALSE(BuildBytePlan(wideStart, wideIndex, wideWeight, 1, 0, 9, plan));
    // A negative weight clears Narrow.
    const int32_t signedWeight[] = {-20, 276};
    const int32_t signedIndex[] = {0, 9};
    EXPECT_TRUE(BuildBytePlan(wideStart, signedIndex, signedWeight, 1, 0, 9, plan));
    EXPECT_FALSE(plan.Narrow);
}

TEST(StretchVector, SplitRowsFlagTheGroupsWithHighHalves)
{
    if (!WideVectorKernelAvailable())
        GTEST_SKIP() << "no 512-bit forms on this processor";
    std::mt19937 rng(404);
    // Lanczos weights of a 10/3 reduction: the sums of a flat row stay in 16
    // bits, those of a row with hard edges overshoot both ways.
    const int32_t width = 61, span = 206;
    const std::vector<TContributionList> lists = BuildContributions(0, width, 0, width, 0, span, sfLanczos);
    std::vector<int32_t> start, index, weight;
    for (const auto& list : lists) {
        start.push_back(static_cast<int32_t>(index.size()));
        for (const TContribution& c : list) {
            index.push_back(c.SourceIndex);
            weight.push_back(c.Weight);
        }
    }
    start.push_back(static_cast<int32_t>(index.size()));
    TBytePlan plan;
    ASSERT_TRUE(BuildBytePlan(start.data(), index.data(), weight.data(), width, 0, span - 1, plan));
    ASSERT_FALSE(plan.Narrow);
    // Windows of up to 22 pixels: two steps, the second one shared by two columns.
    EXPECT_EQ(2, plan.Steps);
    EXPECT_TRUE(plan.ShortLast);
    plan.Plane = static_cast<size_t>(width) * 4 + 8;
    for (int n = 0; n < 40; ++n) {
        std::vector<TColor32> row(span);
        for (int32_t x = 0; x < span; ++x)
            row[x] = 0x40404040u + 0x01010101u * static_cast<uint32_t>((x * 3 + n) % 64);
        // From none to many hard edges: single pixels, and white runs
        // between black ones, which overshoot past 16 bits upwards.
        for (int e = 0; e < n % 8; ++e) {
            const auto at = static_cast<size_t>(rng() % span);
            const size_t run = n % 2 ? 1 : 8 + rng() % 6;
            for (size_t k = 0; k < run + 8 && at + k < row.size(); ++k)
                row[at + k] = k >= 4 && k < run + 4 ? 0xFFFFFFFFu : 0u;
        }
        std::vector<uint8_t> prepared(static_cast<size_t>(plan.RowPixels) * 4);
        PrepareRowBytes(prepared.data(), row.data(), nullptr, plan);
        std::vector<int16_t> sums(plan.Plane * 2 + SplitFlagBytes(width) + 8, 0x5A5A);
        int16_t* into = sums.data();
        const uint8_t* from = prepared.data();
        HorizontalPassBytesSplit(&into, &from, 1, plan);
        const auto* flags = reinterpret_cast<const uint8_t*>(sums.data() + 2 * plan.Plane);
        for (int32_t g = 0; g < width / 4; ++g) {
            bool high = false;
            for (int32_t k = g * 16; k < g * 16 + 16; ++k)
                high = high || sums[plan.Plane + static_cast<size_t>(k)] != 0;
            // A clear flag over a high half would lose it; a set one over none
            // costs the vertical pass its shortcut.
            EXPECT_EQ(high, flags[g] != 0) << "row " << n << " group " << g;
        }
        // The part group at the end always counts as high.
        EXPECT_NE(0, flags[width / 4]);
    }
}

TEST(StretchVector, SmoothPhotosWithEdgesInEveryForm)
{
    if (!VectorKernelAvailable())
        GTEST_SKIP() << "no SIMD forms on this processor";
    FormScope scope;
    std::mt19937 rng(1201);
    // Gradients with a few hard edges: next to one another, blocks of the
    // vertical pass whose rows all stay in 16 bits and blocks that overshoot.
    for (int n = 0; n < 12; ++n) {
        TBitmap32 source, start;
        source.SetSize(330 + n * 7, 190 + n * 5);
        for (int y = 0; y < source.Height(); ++y)
            for (int x = 0; x < source.Width(); ++x) {
                const auto v = static_cast<uint32_t>((x + 2 * y) * 255 / (source.Width() + 2 * source.Height()));
                source.SetPixel(x, y, 0xFF000000u | (v << 16) | ((255 - v) << 8) | (v / 2 + n * 8));
            }
        // Lines, and squares in a frame of the other colour.
        for (int e = 0; e < 6 + n; ++e) {
            const int x = static_cast<int>(rng() % source.Width()), y = static_cast<int>(rng() % source.Height());
            const TColor32 c = rng() % 2 ? 0xFFFFFFFFu : 0x00000000u;
            const int side = e % 2 ? 1 : 20;
            for (int v = 0; v < side && y + v < source.Height(); ++v)
                for (int k = 0; k < 20 && x + k < source.Width(); ++k) {
                    const bool frame = side > 1 && (v < 4 || v >= 16 || k < 4 || k >= 16);
                    source.SetPixel(x + k, y + v, frame ? ~c : c);
                }
        }
        start.SetSize(n % 2 ? 99 : 72 + n, n % 3 ? 57 : 40);
        Fill(start, rng);
        for (const int strip : {0, 16, 40})
            for (const TStretchFilter f : {sfLanczos, sfMitchell}) {
                SetKernelStripPixels(strip);
                ASSERT_TRUE(SameInEveryForm(source, source.FullRect(), start, start.FullRect(), start.FullRect(), f,
                                            static_cast<TDrawMode>(n % 3)))
                    << "strip " << strip;
            }
    }
}

TEST(StretchVector, BlockAveragesOfEveryWidthAndHeightMatchTheFormula)
{
    if (!VectorKernelAvailable())
        GTEST_SKIP() << "no SIMD forms on this processor";
    // Column sums as ColumnSums16 leaves them (each at most 255 x height),
    // blocks of 1 to 9 columns side by side, heights on both sides of the
    // 257 pixels that 16-bit block sums hold.
    std::mt19937 rng(314);
    for (uint32_t height : {1u, 2u, 3u, 7u, 64u, 65u, 85u, 86u, 128u, 129u, 257u}) {
        for (int32_t widest = 1; widest <= 9; ++widest) {
            std::uniform_int_distribution<int32_t> width(1, widest);
            std::vector<int32_t> starts, ends;
            for (int32_t x = 0; starts.size() < 37;) {
                const int32_t w = starts.empty() ? widest : width(rng);
                starts.push_back(x);
                ends.push_back(x + w);
                x += w;
            }
            std::vector<uint16_t> sums((static_cast<size_t>(ends.back()) + 8) * 4);
            std::uniform_int_distribution<uint32_t> value(0, 255 * height);
            for (size_t i = 0; i < sums.size(); ++i)
                sums[i] = static_cast<uint16_t>(i % 5 == 0 ? 255 * height : value(rng));
            std::vector<TColor32> got(starts.size());
            BlockAverages16(got.data(), sums.data(), starts.data(), ends.data(), static_cast<int32_t>(starts.size()),
                            height);
            for (size_t k = 0; k < starts.size(); ++k) {
                uint64_t total[4] = {0, 0, 0, 0};
                for (int32_t x = starts[k]; x < ends[k]; ++x)
                    for (int c = 0; c < 4; ++c)
                        total[c] += sums[static_cast<size_t>(x) * 4 + c];
                const TColor32 want = AverageOfSums(total, uint64_t(ends[k] - starts[k]) * height);
                ASSERT_EQ(got[k], want) << "height " << height << " widest " << widest << " block " << k;
            }
        }
    }
}
