// Worked pixels of single paths: point sampling and block averaging 5 to 2,
// the two bilinear variants and their choice, the kernel clamps, StretchOnto.
#include <random>

#include "TestMain.h"
#include "platform/CpuFeatures.h"
#include "raster/Stretch.h"
#include "raster/StretchInternals.h"

using namespace palvex;

namespace {

struct VariantScope {
    TBilinearVariant saved = BilinearVariant();
    ~VariantScope() { SetBilinearVariant(saved); }
};

TColor32 Grey(uint32_t v) { return 0xFF000000u | (v << 16) | (v << 8) | v; }

void GreyRow(TBitmap32& b, std::initializer_list<uint32_t> values)
{
    b.SetSize(static_cast<int32_t>(values.size()), 1);
    int x = 0;
    for (uint32_t v : values)
        b.SetPixel(x++, 0, Grey(v));
}

std::vector<uint32_t> Blues(const TBitmap32& b, int y)
{
    std::vector<uint32_t> out;
    for (int x = 0; x < b.Width(); ++x)
        out.push_back(b.Pixel(x, y) & 0xFF);
    return out;
}

void Stretch(TBitmap32& dst, const TBitmap32& src, TStretchFilter f, TRect sr = {})
{
    if (IsRectEmpty(sr))
        sr = src.FullRect();
    StretchCopy(&dst, dst.FullRect(), dst.FullRect(), &src, sr, f, dmOpaque, {});
}

} // namespace

TEST(StretchPath, NearestAndDraftFiveToTwo)
{
    TBitmap32 src;
    GreyRow(src, {10, 20, 30, 40, 50});
    TBitmap32 dst;
    dst.SetSize(2, 1);
    // Scale 2.5: columns Trunc(0) = 0 and Trunc(2.5) = 2.
    Stretch(dst, src, sfNearest);
    EXPECT_EQ(Blues(dst, 0), (std::vector<uint32_t>{10, 30}));
    // Blocks [0, 2) and [2, 5): 15 exactly, and 120 x (2^24 div 3) shr 24 = 39,
    // one level below the true 40.
    Stretch(dst, src, sfDraft);
    EXPECT_EQ(Blues(dst, 0), (std::vector<uint32_t>{15, 39}));
    EXPECT_EQ(dst.Pixel(1, 0) >> 24, 254u); // three alphas of 255 average to 254

    // One pixel wide: the middle column, (Left + Right - 1) div 2.
    dst.SetSize(1, 1);
    Stretch(dst, src, sfNearest);
    EXPECT_EQ(Blues(dst, 0), (std::vector<uint32_t>{30}));
    Stretch(dst, src, sfNearest, TRect{0, 0, 4, 1});
    EXPECT_EQ(Blues(dst, 0), (std::vector<uint32_t>{20}));

    // Both axes: 5 x 5 to 2 x 2 with rows [0, 2) and [2, 5) as well.
    TBitmap32 square;
    square.SetSize(5, 5);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 5; ++x)
            square.SetPixel(x, y, Grey(uint32_t(10 * x + 50 * y)));
    dst.SetSize(2, 2);
    Stretch(dst, square, sfDraft);
    // Block (0,0) averages 0,10,50,60 = 30; block (1,1) nine pixels summing
    // 1620: 1620 x (2^24 div 9) shr 24 = 179 (true 180).
    EXPECT_EQ(Blues(dst, 0)[0], 30u);
    EXPECT_EQ(Blues(dst, 1)[1], 179u);
    Stretch(dst, square, sfNearest);
    EXPECT_EQ(Blues(dst, 0), (std::vector<uint32_t>{0, 20}));
    EXPECT_EQ(Blues(dst, 1), (std::vector<uint32_t>{100, 120}));
}

TEST(StretchPath, BilinearVariantsAndTheirChoice)
{
    VariantScope scope;
    // Chosen once from the processor; MMX on any x86-64, and the same formulas
    // elsewhere.
    EXPECT_EQ(scope.saved, CPUFeatures().MMX ? TBilinearVariant::MMX : TBilinearVariant::Plain);
#if defined(__x86_64__)
    EXPECT_TRUE(CPUFeatures().MMX);
#endif

    // 2 x 2 to 4 x 4, columns black then white; left weights 256 (255), 192, 64, 0.
    TBitmap32 src, dst;
    src.SetSize(2, 2);
    src.FillAll(0xFFFFFFFF);
    src.SetPixel(0, 0, 0xFF000000);
    src.SetPixel(0, 1, 0xFF000000);
    dst.SetSize(4, 4);
    SetBilinearVariant(TBilinearVariant::MMX);
    for (TStretchFilter f : {sfLinear, sfDraft}) {
        Stretch(dst, src, f);
        for (int y = 0; y < 4; ++y)
            EXPECT_EQ(Blues(dst, y), (std::vector<uint32_t>{0, 63, 191, 255})) << f << " row " << y;
    }
    // Without MMX: (255 x 191 + 128) shr 8 = 190 in column 2, and mixing two
    // whites with 192 gives 191 + 63 = 254 in the inner rows of column 3.
    SetBilinearVariant(TBilinearVariant::Plain);
    Stretch(dst, src, sfLinear);
    EXPECT_EQ(Blues(dst, 0), (std::vector<uint32_t>{0, 63, 190, 255}));
    EXPECT_EQ(Blues(dst, 1), (std::vector<uint32_t>{0, 63, 190, 254}));
    EXPECT_EQ(Blues(dst, 2), (std::vector<uint32_t>{0, 63, 190, 254}));
    EXPECT_EQ(Blues(dst, 3), (std::vector<uint32_t>{0, 63, 190, 255}));

    // Either variant is reachable through BilinearSample, and the packed lanes
    // of the path equal the per-pixel formula on random input.
    std::mt19937 rng(4242);
    for (int n = 0; n < 20000; ++n) {
        const uint32_t wx = rng() % 257, wy = rng() % 257;
        const TColor32 c[4] = {TColor32(rng()), TColor32(rng()), TColor32(rng()), TColor32(rng())};
        SetBilinearVariant(TBilinearVariant::MMX);
        ASSERT_EQ(BilinearSample(wx, wy, c[0], c[1], c[2], c[3]), BilinearSampleMMX(wx, wy, c[0], c[1], c[2], c[3]));
        SetBilinearVariant(TBilinearVariant::Plain);
        ASSERT_EQ(BilinearSample(wx, wy, c[0], c[1], c[2], c[3]), BilinearSamplePlain(wx, wy, c[0], c[1], c[2], c[3]));
        // A uniform area stays exactly uniform with MMX.
        ASSERT_EQ(BilinearSampleMMX(wx, wy, c[0], c[0], c[0], c[0]), c[0]);
    }
    for (int n = 0; n < 40; ++n) {
        src.SetSize(int(2 + rng() % 9), int(2 + rng() % 9));
        for (size_t i = 0; i < src.PixelCount(); ++i)
            src.PixelData()[i] = TColor32(rng());
        dst.SetSize(src.Width() + 1 + int(rng() % 20), src.Height() + 1 + int(rng() % 20));
        for (TBilinearVariant v : {TBilinearVariant::MMX, TBilinearVariant::Plain}) {
            SetBilinearVariant(v);
            Stretch(dst, src, sfLinear);
            const auto cols = BuildBilinearTable(0, 0, dst.Width(), 0, src.Width(), dst.Width(), src.Width());
            const auto rows = BuildBilinearTable(0, 0, dst.Height(), 0, src.Height(), dst.Height(), src.Height());
            for (int y = 0; y < dst.Height(); ++y)
                for (int x = 0; x < dst.Width(); ++x) {
                    const auto& cx = cols[x];
                    const auto& ry = rows[y];
                    const TColor32 want =
                        BilinearSample(uint32_t(cx.Weight), uint32_t(ry.Weight), src.Pixel(cx.Index0, ry.Index0),
                                       src.Pixel(cx.Index1, ry.Index0), src.Pixel(cx.Index0, ry.Index1),
                                       src.Pixel(cx.Index1, ry.Index1));
                    ASSERT_EQ(dst.Pixel(x, y), want) << int(v) << " at " << x << "," << y;
                }
        }
    }
}

TEST(StretchPath, LanczosAndMitchellClampOvershoot)
{
    // A hard edge, enlarged and reduced horizontally: the height is kept so
    // every vertical list is the single weight 256 and S = 256 x the
    // horizontal sum.
    TBitmap32 edge;
    GreyRow(edge, {0, 0, 0, 0, 0, 255, 255, 255, 255, 255});
    for (TStretchFilter f : {sfLinear, sfCosine, sfSpline, sfLanczos, sfMitchell})
        for (int width : {4, 7, 23}) {
            TBitmap32 dst;
            dst.SetSize(width, 1);
            Stretch(dst, edge, f);
            const auto lists = BuildContributions(0, width, 0, width, 0, 10, f);
            bool over = false, under = false;
            for (int i = 0; i < width; ++i) {
                int32_t s = 0;
                for (const TContribution& c : lists[i]) {
                    s += c.Weight * 256 * int32_t(edge.Pixel(c.SourceIndex, 0) & 0xFF);
                    if (f != sfLanczos && f != sfMitchell) {
                        EXPECT_GE(c.Weight, 0) << f; // nothing to clamp
                    }
                }
                over |= s > 0xFF0000;
                under |= s < 0;
                const uint32_t want = s > 0xFF0000 ? 255 : s < 0 ? 0 : (uint32_t(s) >> 16) & 0xFF;
                EXPECT_EQ(dst.Pixel(i, 0) & 0xFF, want) << f << " " << width << " at " << i;
            }
            // The clamp is really exercised: both kernels ring on this edge.
            if ((f == sfLanczos || f == sfMitchell) && width == 23) {
                EXPECT_TRUE(over || under) << f;
            }
            if (f == sfLanczos && width == 23) {
                EXPECT_TRUE(over && under);
            }
        }
}

TEST(StretchPath, StretchOntoUsesOwnSettingsAndNotifiesTheDestination)
{
    TBitmap32 src, dst;
    src.SetSize(2, 2);
    src.FillAll(0xFF112233);
    src.SetPixel(1, 1, 0x80445566);
    dst.SetSize(4, 4);
    dst.FillAll(0);
    int changes = 0;
    dst.OnChange = [&](TPersistent&) { ++changes; };

    // Same size onto the middle; the clip is the destination, so a rectangle
    // partly outside is cut.
    src.StretchOnto(dst, TRect{1, 1, 3, 3});
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(dst.Pixel(0, 0), 0u);
    EXPECT_EQ(dst.Pixel(1, 1), 0xFF112233u);
    EXPECT_EQ(dst.Pixel(2, 2), 0x80445566u);
    src.StretchOnto(dst, TRect{3, 3, 5, 5});
    EXPECT_EQ(dst.Pixel(3, 3), 0xFF112233u);

    // The source's filter: sfNearest doubles pixels, sfDraft (bilinear when
    // enlarging) mixes them.
    src.StretchOnto(dst, dst.FullRect());
    EXPECT_EQ(dst.Pixel(2, 2), 0x80445566u);
    src.SetStretchFilter(sfDraft);
    src.StretchOnto(dst, dst.FullRect());
    EXPECT_NE(dst.Pixel(2, 2), 0x80445566u);

    // Its draw mode and pixel event.
    int calls = 0;
    src.SetDrawMode(dmCustom);
    src.SetMasterAlpha(9);
    src.OnPixelCombine = [&](TColor32, TColor32& b, TColor32 m) {
        ++calls;
        b = m;
    };
    changes = 0;
    src.StretchOnto(dst, TRect{0, 0, 2, 2});
    EXPECT_EQ(calls, 4);
    EXPECT_EQ(dst.Pixel(1, 1), 9u);
    EXPECT_EQ(changes, 1);

    // Nothing happens, and nothing is notified, when either side is empty.
    TBitmap32 empty;
    changes = 0;
    empty.StretchOnto(dst, dst.FullRect());
    src.StretchOnto(empty, TRect{0, 0, 2, 2});
    EXPECT_EQ(changes, 0);
    EXPECT_TRUE(empty.IsEmpty());
}
