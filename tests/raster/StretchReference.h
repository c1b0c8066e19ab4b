// A per-pixel rendering of the resampler's formulas, written without the
// library's tables and loops, for the randomised comparisons.
#pragma once

#include <cmath>
#include <cstdint>
#include <stdexcept>

#include "raster/Bitmap32.h"
#include "raster/StretchInternals.h"

namespace palvex::test {

inline uint32_t Ch(TColor32 c, int i) { return (c >> (8 * i)) & 0xFF; }

// f over b at weight w out of 255, each of the first channels rounded apart.
inline TColor32 RefMix(TColor32 f, TColor32 b, uint32_t w, int channels)
{
    TColor32 r = 0;
    for (int i = 0; i < channels; ++i)
        r |= (((Ch(f, i) * w + 128) >> 8) + ((Ch(b, i) * (255 - w) + 128) >> 8)) << (8 * i);
    return r;
}

inline TColor32 RefBlendOver(TColor32 f, TColor32 b, uint32_t m)
{
    const uint32_t a = f >> 24;
    if (a == 0)
        return b;
    const uint32_t w = ((std::min(m, 255u) + 1) * a) >> 8;
    if (w == 0)
        return b;
    return RefMix(f, b, w, 3);
}

inline TColor32 RefBlendRowPixel(TColor32 f, TColor32 b, uint32_t m)
{
    if (m < 255)
        return RefBlendOver(f, b, m);
    const uint32_t a = f >> 24;
    if (a == 0)
        return b;
    if (a == 255)
        return f;
    return RefMix(f, b, a, 4);
}

inline TColor32 RefCombineWeighted(TColor32 x, TColor32 y, uint32_t w)
{
    if (w == 0)
        return y;
    if (w == 255)
        return x;
    return RefMix(x, y, w, 4);
}

inline TColor32 RefBilinear(bool mmx, uint32_t wx, uint32_t wy, TColor32 c11, TColor32 c12, TColor32 c21,
                            TColor32 c22)
{
    if (!mmx) {
        wx = std::min(wx, 255u);
        wy = std::min(wy, 255u);
        return RefCombineWeighted(RefCombineWeighted(c11, c12, wx), RefCombineWeighted(c21, c22, wx), wy);
    }
    TColor32 r = 0;
    for (int i = 0; i < 4; ++i) {
        const uint32_t top = (Ch(c11, i) * wx + Ch(c12, i) * (256 - wx)) >> 8;
        const uint32_t bottom = (Ch(c21, i) * wx + Ch(c22, i) * (256 - wx)) >> 8;
        r |= ((top * wy + bottom * (256 - wy)) >> 8) << (8 * i);
    }
    return r;
}

// A checked read: any index outside the bitmap is a fault of the formulas.
inline TColor32 At(const TBitmap32& b, int64_t x, int64_t y)
{
    if (x < 0 || y < 0 || x >= b.Width() || y >= b.Height())
        throw std::logic_error("reference read outside the source");
    return b.Pixel(static_cast<int32_t>(x), static_cast<int32_t>(y));
}

struct RefAxis {
    int32_t i0, i1, w;
};

inline RefAxis RefBilinearAxis(int64_t m, int32_t lo, int32_t hi, int64_t dst, int32_t bitmap)
{
    if (hi - lo == 1)
        return {lo, lo, 256};
    const auto scale = static_cast<float>(static_cast<long double>(hi - lo) / dst);
    auto x = static_cast<float>((static_cast<long double>(m) + 0.5L) * scale + lo - 0.5L);
    x = std::max(x, 0.0f);
    x = std::min(x, static_cast<float>(bitmap - 1));
    auto i0 = static_cast<int32_t>(std::floor(x));
    int32_t w = 256 - static_cast<int32_t>(std::nearbyint((static_cast<long double>(x) - i0) * 256.0L));
    if (i0 == hi - 1) {
        i0 -= 1;
        w = 0;
    }
    return {i0, i0 + 1, w};
}

inline int64_t RefPointAxis(int64_t m, int32_t lo, int32_t hi, int64_t dst)
{
    if (dst <= 1)
        return (int64_t(lo) + hi - 1) / 2;
    const auto scale = static_cast<float>(static_cast<long double>(hi - lo) / dst);
    return static_cast<int64_t>(std::trunc(static_cast<long double>(m) * scale + lo));
}

inline void RefBlockAxis(int64_t k, int64_t clipOffset, int32_t lo, int32_t hi, int64_t dst, int64_t& s, int64_t& e)
{
    const auto scale = static_cast<float>(static_cast<long double>(hi - lo) / dst);
    const auto offset = static_cast<int64_t>(std::trunc(static_cast<long double>(clipOffset) * scale));
    const auto step = static_cast<int64_t>(std::trunc(static_cast<long double>(scale) * 65536.0L));
    s = lo + offset + ((k * step) >> 16);
    e = lo + offset + (((k + 1) * step) >> 16);
}

inline TColor32 RefAverage(const uint64_t sums[4], uint64_t count)
{
    TColor32 r = 0;
    for (int i = 0; i < 4; ++i) {
        uint64_t v;
        if (count <= (1u << 24))
            v = (static_cast<uint32_t>(sums[i]) * static_cast<uint32_t>((1u << 24) / count)) >> 24;
        else
            v = (sums[i] * ((uint64_t(1) << 40) / count)) >> 40;
        r |= static_cast<TColor32>(v) << (8 * i);
    }
    return r;
}

// The whole StretchCopy, one destination pixel at a time.
inline void RefStretchCopy(TBitmap32& dst, TRect destRect, TRect clip, const TBitmap32& src, TRect sr,
                           TStretchFilter filter, TDrawMode mode, const TPixelCombineEvent& event, bool mmx)
{
    if (src.IsEmpty() || IsRectEmpty(sr))
        return;
    clip = IntersectRect(IntersectRect(clip, dst.FullRect()), destRect);
    if (IsRectEmpty(clip))
        return;
    if (mode == dmCustom && !event)
        mode = dmOpaque;
    const uint32_t m = src.MasterAlpha();
    if (mode == dmBlend && m == 0)
        return;
    const int32_t srcW = sr.Right - sr.Left, srcH = sr.Bottom - sr.Top;
    const int64_t dstW = int64_t(destRect.Right) - destRect.Left, dstH = int64_t(destRect.Bottom) - destRect.Top;

    enum { Copy, Point, Bilinear, Block, Kernel } path;
    if (dstW == srcW && dstH == srcH)
        path = Copy;
    else if (filter == sfNearest)
        path = Point;
    else if (filter == sfDraft)
        path = (srcW < dstW || srcH < dstH) ? Bilinear : Block;
    else if (filter == sfLinear)
        path = (dstW > srcW && dstH > srcH) ? Bilinear : Kernel;
    else
        path = Kernel;
    const bool rowForm = path == Copy || path == Point;

    std::vector<TContributionList> hl, vl;
    if (path == Kernel) {
        hl = BuildContributions(destRect.Left, destRect.Right, clip.Left, clip.Right, sr.Left, sr.Right, filter);
        vl = BuildContributions(destRect.Top, destRect.Bottom, clip.Top, clip.Bottom, sr.Top, sr.Bottom, filter);
    }
    const bool clamp = filter == sfLanczos || filter == sfMitchell;

    for (int32_t y = clip.Top; y < clip.Bottom; ++y) {
        for (int32_t x = clip.Left; x < clip.Right; ++x) {
            const int64_t mx = int64_t(x) - destRect.Left, my = int64_t(y) - destRect.Top;
            TColor32 f = 0;
            switch (path) {
            case Copy:
                f = At(src, sr.Left + mx, sr.Top + my);
                break;
            case Point:
                f = At(src, RefPointAxis(mx, sr.Left, sr.Right, dstW), RefPointAxis(my, sr.Top, sr.Bottom, dstH));
                break;
            case Bilinear: {
                const RefAxis ax = RefBilinearAxis(mx, sr.Left, sr.Right, dstW, src.Width());
                const RefAxis ay = RefBilinearAxis(my, sr.Top, sr.Bottom, dstH, src.Height());
                f = RefBilinear(mmx, ax.w, ay.w, At(src, ax.i0, ay.i0), At(src, ax.i1, ay.i0), At(src, ax.i0, ay.i1),
                                At(src, ax.i1, ay.i1));
                break;
            }
            case Block: {
                int64_t x0, x1, y0, y1;
                RefBlockAxis(x - clip.Left, int64_t(clip.Left) - destRect.Left, sr.Left, sr.Right, dstW, x0, x1);
                RefBlockAxis(y - clip.Top, int64_t(clip.Top) - destRect.Top, sr.Top, sr.Bottom, dstH, y0, y1);
                if (x0 < sr.Left || x1 > sr.Right || y0 < sr.Top || y1 > sr.Bottom || x1 <= x0 || y1 <= y0)
                    throw std::logic_error("block outside the source rectangle");
                uint64_t sums[4] = {0, 0, 0, 0};
                for (int64_t yy = y0; yy < y1; ++yy)
                    for (int64_t xx = x0; xx < x1; ++xx)
                        for (int i = 0; i < 4; ++i)
                            sums[i] += Ch(At(src, xx, yy), i);
                f = RefAverage(sums, static_cast<uint64_t>((x1 - x0) * (y1 - y0)));
                break;
            }
            case Kernel: {
                const TContributionList& h = hl[x - clip.Left];
                const TContributionList& v = vl[y - clip.Top];
                for (int i = 0; i < 4; ++i) {
                    int64_t s = 0;
                    for (const auto& cv : v)
                        for (const auto& ch : h)
                            s += int64_t(cv.Weight) * ch.Weight * Ch(At(src, ch.SourceIndex, cv.SourceIndex), i);
                    const auto s32 = static_cast<int32_t>(static_cast<uint32_t>(s));
                    uint32_t b = (static_cast<uint32_t>(s32) >> 16) & 0xFF;
                    if (clamp && s32 > 0xFF0000)
                        b = 255;
                    if (clamp && s32 < 0)
                        b = 0;
                    f |= b << (8 * i);
                }
                break;
            }
            }
            TColor32& b = *dst.PixelAddress(x, y);
            if (mode == dmOpaque)
                b = f;
            else if (mode == dmBlend)
                b = rowForm ? RefBlendRowPixel(f, b, m) : RefBlendOver(f, b, m);
            else
                event(f, b, m);
        }
    }
}

} // namespace palvex::test
