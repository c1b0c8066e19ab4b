// Every path of StretchCopy against the per-pixel reference, on random
// pictures, rectangles, filters and combine modes; and the SIMD forms against
// the plain loops.
#include <cstring>
#include <random>

#include "TestMain.h"
#include "StretchReference.h"
#include "raster/Stretch.h"

using namespace palvex;
using namespace palvex::test;

namespace {

struct VariantScope {
    TBilinearVariant saved = BilinearVariant();
    bool vector = VectorPathsEnabled();
    ~VariantScope()
    {
        SetBilinearVariant(saved);
        SetVectorPathsEnabled(vector);
    }
};

void FillRandom(TBitmap32& b, std::mt19937& rng, bool edges)
{
    std::uniform_int_distribution<uint32_t> any;
    for (size_t i = 0; i < b.PixelCount(); ++i) {
        TColor32 c = any(rng);
        // Hard black and white make kernels overshoot and blending saturate.
        if (edges && (c & 3) == 0)
            c = (c & 4) ? 0xFFFFFFFFu : 0xFF000000u;
        b.PixelData()[i] = c;
    }
}

TRect RandomRectInside(std::mt19937& rng, int w, int h)
{
    std::uniform_int_distribution<int> x0(0, w - 1), y0(0, h - 1);
    const int l = x0(rng), t = y0(rng);
    std::uniform_int_distribution<int> x1(l + 1, w), y1(t + 1, h);
    return TRect{l, t, x1(rng), y1(rng)};
}

// A custom combiner whose result depends on everything it is given.
void Custom(TColor32 f, TColor32& b, TColor32 m) { b = (b * 31u) ^ f ^ (m << 3); }

void RunCase(std::mt19937& rng, TStretchFilter filter, TDrawMode mode, bool mmx, int maxSide)
{
    std::uniform_int_distribution<int> side(1, maxSide);
    TBitmap32 src;
    src.SetSize(side(rng), side(rng));
    FillRandom(src, rng, true);
    std::uniform_int_distribution<uint32_t> alpha(0, 300);
    src.SetMasterAlpha(rng() % 3 == 0 ? 255 : alpha(rng));
    const TRect sr = RandomRectInside(rng, src.Width(), src.Height());

    TBitmap32 a, b;
    a.SetSize(side(rng), side(rng));
    FillRandom(a, rng, false);
    b.AssignFrom(a);

    // Destination rectangles that may start before the bitmap and end past it,
    // sometimes of the same size as the source on one or both axes.
    std::uniform_int_distribution<int> off(-maxSide / 2, maxSide);
    std::uniform_int_distribution<int> len(1, 3 * maxSide);
    TRect dr;
    dr.Left = off(rng);
    dr.Top = off(rng);
    const int mode3 = static_cast<int>(rng() % 4);
    dr.Right = dr.Left + (mode3 == 0 ? sr.Width() : len(rng));
    dr.Bottom = dr.Top + (mode3 == 1 ? sr.Height() : len(rng));
    TRect clip = rng() % 3 == 0 ? a.FullRect() : TRect{off(rng), off(rng), off(rng) + maxSide, off(rng) + maxSide};

    const TPixelCombineEvent event = mode == dmCustom && rng() % 5 != 0 ? TPixelCombineEvent(Custom)
                                                                         : TPixelCombineEvent();
    StretchCopy(&a, dr, clip, &src, sr, filter, mode, event);
    RefStretchCopy(b, dr, clip, src, sr, filter, mode, event, mmx);
    for (size_t i = 0; i < a.PixelCount(); ++i) {
        if (a.PixelData()[i] != b.PixelData()[i]) {
            ADD_FAILURE() << "filter " << int(filter) << " mode " << int(mode) << " mmx " << mmx << " src "
                          << src.Width() << "x" << src.Height() << " sr " << sr.Left << "," << sr.Top << ","
                          << sr.Right << "," << sr.Bottom << " dr " << dr.Left << "," << dr.Top << "," << dr.Right
                          << "," << dr.Bottom << " clip " << clip.Left << "," << clip.Top << "," << clip.Right
                          << "," << clip.Bottom << " dst " << a.Width() << "x" << a.Height() << " pixel " << i
                          << std::hex << " got " << a.PixelData()[i] << " want " << b.PixelData()[i];
            return;
        }
    }
}

} // namespace

TEST(StretchRandom, EveryPathMatchesThePerPixelFormulas)
{
    VariantScope scope;
    std::mt19937 rng(20261208);
    for (int f = sfNearest; f <= sfMitchell; ++f)
        for (int mode = dmOpaque; mode <= dmCustom; ++mode)
            for (bool mmx : {true, false}) {
                SetBilinearVariant(mmx ? TBilinearVariant::MMX : TBilinearVariant::Plain);
                for (int n = 0; n < 150; ++n)
                    RunCase(rng, static_cast<TStretchFilter>(f), static_cast<TDrawMode>(mode), mmx, n < 100 ? 12 : 40);
            }
}

TEST(StretchRandom, PlainLoopsMatchSimdForms)
{
    VariantScope scope;
    if (!VectorPathsEnabled())
        GTEST_SKIP() << "no SIMD forms on this processor";
    std::mt19937 rng(77);
    std::uniform_int_distribution<int> side(1, 90);
    for (int n = 0; n < 300; ++n) {
        TBitmap32 src;
        src.SetSize(side(rng), side(rng));
        FillRandom(src, rng, n % 2 == 0);
        const TRect sr = RandomRectInside(rng, src.Width(), src.Height());
        TBitmap32 a, b;
        a.SetSize(side(rng), side(rng));
        b.SetSize(a.Width(), a.Height());
        const TRect dr{static_cast<int>(rng() % 9) - 4, static_cast<int>(rng() % 9) - 4, side(rng) * 2, side(rng) * 2};
        for (TStretchFilter f : {sfDraft, sfLinear, sfCosine, sfSpline, sfLanczos, sfMitchell}) {
            a.FillAll(0x12345678);
            b.FillAll(0x12345678);
            SetVectorPathsEnabled(true);
            StretchCopy(&a, dr, a.FullRect(), &src, sr, f, dmOpaque, {});
            SetVectorPathsEnabled(false);
            StretchCopy(&b, dr, b.FullRect(), &src, sr, f, dmOpaque, {});
            ASSERT_EQ(0, std::memcmp(a.PixelData(), b.PixelData(), a.PixelCount() * 4))
                << "filter " << int(f) << " case " << n;
        }
    }
}
