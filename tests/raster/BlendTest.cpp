// Blending over the destination: BlendOver, BlendOverRow with its MasterAlpha
// cases, and the combine modes as StretchCopy applies them.
#include <array>
#include <cstring>

#include "TestMain.h"
#include "raster/Stretch.h"
#include "raster/StretchInternals.h"

using namespace palvex;

namespace {
TColor32 Blend(TColor32 f, TColor32 b, uint32_t m)
{
    BlendOver(f, b, m);
    return b;
}

std::vector<TColor32> Row(std::vector<TColor32> f, std::vector<TColor32> b, uint32_t m)
{
    BlendOverRow(f.data(), b.data(), static_cast<int32_t>(f.size()), m);
    return b;
}
} // namespace

TEST(Blend, BlendOverWorkedValues)
{
    const TColor32 f = 0xFFC86432; // 200, 100, 50
    const TColor32 b = 0x800A141E; // 10, 20, 30
    // W = (256 x 255) shr 8 = 255: only F counts, (200 x 255 + 128) shr 8 = 199;
    // the background's alpha becomes 0.
    EXPECT_EQ(Blend(f, b, 255), 0x00C76432u);
    // W = (128 x 255) shr 8 = 127: 99 + 5, 50 + 10, 25 + 15.
    EXPECT_EQ(Blend(f, b, 127), 0x00683C28u);
    // Nothing to blend: F transparent, or W rounds to 0.
    EXPECT_EQ(Blend(0x00FFFFFF, b, 255), b);
    EXPECT_EQ(Blend(f, b, 0), b);
    EXPECT_EQ(Blend(0x01C86432, b, 254), b); // (255 x 1) shr 8 = 0
    EXPECT_EQ(Blend(0x01C86432, b, 255), 0x000B141Eu); // W = 1: 0 + 11, 0 + 20, 0 + 30
    // A master alpha above 255 is fully applied, not wrapped past 255.
    EXPECT_EQ(Blend(f, b, 256), Blend(f, b, 255));
    EXPECT_EQ(Blend(f, b, 1000), Blend(f, b, 255));
    EXPECT_EQ(Blend(0x80C86432, b, 0xFFFFFFFFu), Blend(0x80C86432, b, 255));
}

TEST(Blend, BlendOverRowByMasterAlpha)
{
    const std::vector<TColor32> f{0x00FFFFFF, 0xFFC86432, 0x80C86432};
    const std::vector<TColor32> b{0x11223344, 0x400A141E, 0x400A141E};
    // Below 255: BlendOver per pixel (alpha of blended pixels becomes 0).
    EXPECT_EQ(Row(f, b, 127), (std::vector<TColor32>{0x11223344, 0x00683C28, Blend(f[2], b[2], 127)}));
    EXPECT_EQ(Row(f, b, 0), b);
    // 255 and above: alpha 0 keeps B, 255 copies F, others mix all four
    // channels with a = 128: 64 + 32, 100 + 5, 50 + 10, 25 + 15.
    for (uint32_t m : {255u, 256u, 100000u})
        EXPECT_EQ(Row(f, b, m), (std::vector<TColor32>{0x11223344, 0xFFC86432, 0x60693C28})) << m;
}

TEST(Blend, CombineModesThroughStretchCopy)
{
    TBitmap32 src, dst;
    src.SetSize(2, 1);
    src.SetPixel(0, 0, 0xFFC86432);
    src.SetPixel(1, 0, 0x80C86432);
    dst.SetSize(4, 1);

    // dmBlend with MasterAlpha 0 writes nothing on any path.
    src.SetMasterAlpha(0);
    for (int f = sfNearest; f <= sfMitchell; ++f)
        for (int w : {2, 4}) {
            dst.FillAll(0x400A141E);
            StretchCopy(&dst, TRect{0, 0, w, 1}, dst.FullRect(), &src, src.FullRect(), TStretchFilter(f), dmBlend, {});
            for (int x = 0; x < 4; ++x)
                EXPECT_EQ(dst.Pixel(x, 0), 0x400A141Eu) << f << " " << w;
        }

    // The same-size copy blends rows with BlendOverRow.
    src.SetMasterAlpha(255);
    dst.FillAll(0x400A141E);
    StretchCopy(&dst, TRect{1, 0, 3, 1}, dst.FullRect(), &src, src.FullRect(), sfNearest, dmBlend, {});
    EXPECT_EQ(dst.Pixel(0, 0), 0x400A141Eu);
    EXPECT_EQ(dst.Pixel(1, 0), 0xFFC86432u);
    EXPECT_EQ(dst.Pixel(2, 0), 0x60693C28u);
    EXPECT_EQ(dst.Pixel(3, 0), 0x400A141Eu);

    // dmCustom hands F, B and the source's MasterAlpha to the event.
    src.SetMasterAlpha(77);
    dst.FillAll(5);
    std::vector<std::array<TColor32, 3>> calls;
    const TPixelCombineEvent event = [&](TColor32 f, TColor32& b, TColor32 m) {
        calls.push_back({f, b, m});
        b = f ^ 1;
    };
    StretchCopy(&dst, TRect{0, 0, 2, 1}, dst.FullRect(), &src, src.FullRect(), sfNearest, dmCustom, event);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0], (std::array<TColor32, 3>{0xFFC86432, 5, 77}));
    EXPECT_EQ(calls[1], (std::array<TColor32, 3>{0x80C86432, 5, 77}));
    EXPECT_EQ(dst.Pixel(1, 0), 0x80C86433u);

    // dmCustom without an event is dmOpaque, on every path.
    TBitmap32 big, a, b;
    big.SetSize(7, 5);
    for (size_t i = 0; i < big.PixelCount(); ++i)
        big.PixelData()[i] = 0x9E3779B9u * uint32_t(i + 1);
    big.SetMasterAlpha(40);
    for (int f = sfNearest; f <= sfMitchell; ++f)
        for (TRect dr : {TRect{0, 0, 7, 5}, TRect{0, 0, 3, 2}, TRect{-1, 0, 12, 9}}) {
            a.SetSize(10, 8);
            b.SetSize(10, 8);
            a.FillAll(0x12345678);
            b.FillAll(0x12345678);
            StretchCopy(&a, dr, a.FullRect(), &big, big.FullRect(), TStretchFilter(f), dmCustom, {});
            StretchCopy(&b, dr, b.FullRect(), &big, big.FullRect(), TStretchFilter(f), dmOpaque, {});
            EXPECT_EQ(0, std::memcmp(a.PixelData(), b.PixelData(), a.PixelCount() * 4)) << f << " " << dr.Right;
        }
}
