// TMetafileCanvas: the pixel side of metafile playback. Aliased polygon
// fills sampled at pixel centres, one-pixel lines, image blits and glyph
// coverage, all through a clip mask and the raster operations of the
// recorded drawing calls. Coordinates are device pixels as doubles; pixel
// (x, y) covers [x, x+1) x [y, y+1).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "raster/Bitmap32.h"

namespace palvex {

struct TPointD {
    double X = 0;
    double Y = 0;
};
using TPolygonD = std::vector<TPointD>;

// x' = M11 x + M21 y + Dx, y' = M12 x + M22 y + Dy.
struct TAffine {
    double M11 = 1, M12 = 0, M21 = 0, M22 = 1, Dx = 0, Dy = 0;

    TPointD Map(double x, double y) const { return {M11 * x + M21 * y + Dx, M12 * x + M22 * y + Dy}; }
    TPointD Map(TPointD p) const { return Map(p.X, p.Y); }
    // This transform applied after first.
    TAffine After(const TAffine& first) const;
    double Determinant() const { return M11 * M22 - M12 * M21; }
    bool Invert(TAffine& inverse) const;
};

// What a fill lays down: a colour, a hatch or a tiled pattern, combined with
// the destination by a binary raster operation (1..16, 13 copies).
struct TPaint {
    enum class Kind { Solid, Hatch, Pattern };
    Kind PaintKind = Kind::Solid;
    TColor32 Color = 0xFF000000;
    int HatchStyle = 0;
    TColor32 Back = 0xFFFFFFFF; // hatch gaps and monochrome patterns
    bool OpaqueBack = false;    // hatch gaps painted with Back
    const std::vector<TColor32>* Pattern = nullptr; // top-down, PatternWidth x PatternHeight
    int32_t PatternWidth = 0;
    int32_t PatternHeight = 0;
    int Rop2 = 13;

    // The colour the paint offers at a device pixel; false leaves it alone.
    bool At(int32_t x, int32_t y, TColor32& color) const;
};

// Too much drawing for the picture: the playback is stopped.
struct TDrawingBudgetExceeded {};

// A clip as one bit a device pixel, rows of whole 64-bit words. Never changed
// once made, so saved drawing states share it instead of copying it.
using TClipMask = std::shared_ptr<const std::vector<uint64_t>>;

class TMetafileCanvas {
public:
    // Draws into the whole target; work counts pixel and edge steps.
    TMetafileCanvas(TBitmap32& target, uint64_t workBudget);
    // Draws into target, which holds the device rows [top, top + its height)
    // of a device deviceHeight rows high: a band of a picture too large to be
    // held twice. Geometry, clips and work are those of the whole device.
    TMetafileCanvas(TBitmap32& target, int32_t deviceHeight, int32_t top, uint64_t workBudget);

    int32_t Width() const { return m_width; }
    int32_t Height() const { return m_height; }

    // Region combination modes: 1 and, 2 or, 3 xor, 4 difference, 5 copy.
    void ResetClip();
    void ClipPolygons(const std::vector<TPolygonD>& polygons, bool winding, int mode);
    void ClipRects(const std::vector<TRect>& rects, int mode);
    // The clip, for saving and restoring; null: none.
    const TClipMask& ClipMask() const { return m_clip; }
    void SetClipMask(TClipMask mask) { m_clip = std::move(mask); }
    // Moves the clip by whole device pixels.
    void OffsetClip(int64_t dx, int64_t dy);

    void FillPolygons(const std::vector<TPolygonD>& polygons, bool winding, const TPaint& paint);
    void FillRect(const TRect& rect, const TPaint& paint);
    // A one-pixel line through the points (the last point is not set, as
    // a cosmetic pen draws). dashes: on/off lengths in pixels, none = solid;
    // gaps take gapColor when gapOpaque.
    void ThinPolyline(const TPolygonD& points, bool closed, const TPaint& paint, const std::vector<int>& dashes,
                      bool gapOpaque, TColor32 gapColor);
    void SetPixelColor(int32_t x, int32_t y, const TPaint& paint);
    // Coverage gathered in parts, for a stroke too large to fill at once: the
    // union of the parts' non-zero fills over the rows this canvas holds,
    // then painted once, so overlaps are painted once as in one fill.
    std::vector<uint64_t> NewCoverage() const;
    void AddCoverage(std::vector<uint64_t>& coverage, const std::vector<TPolygonD>& polygons);
    void FillCoverage(const std::vector<uint64_t>& coverage, const TPaint& paint);

    // A picture's rows made as they are first asked for, so that a large
    // bitmap drawn small costs only the rows it shows.
    class TImageRows {
    public:
        virtual ~TImageRows() = default;
        virtual const TColor32* Row(int32_t y) = 0;
    };
    struct TImage {
        const TColor32* Pixels = nullptr; // whole, top-down; or null and Rows
        int32_t Width = 0;
        int32_t Height = 0;
        TImageRows* Rows = nullptr;

        const TColor32* Row(int32_t y) const
        {
            return Rows ? Rows->Row(y) : Pixels + static_cast<size_t>(y) * static_cast<size_t>(Width);
        }
    };

    // Copies a source picture through a device-to-source transform: each
    // device pixel whose centre maps inside srcRect takes the nearest source
    // pixel, combined by the ternary raster operation rop3 (source, pattern
    // brush, destination). Pixels whose source alpha is 0 are skipped when
    // skipTransparent. With alphaBlend the source's (premultiplied) alpha
    // and constantAlpha blend it over the destination instead.
    void DrawImage(const TImage& image, const TRect& srcRect, const TAffine& deviceToSource, const TPolygonD& area,
                   uint32_t rop3, const TPaint& brush, bool alphaBlend = false, uint8_t constantAlpha = 255,
                   bool skipTransparent = false);

    // Blends a colour through 8-bit coverage (a glyph), origin at (x, y).
    void BlendCoverage(int32_t x, int32_t y, const uint8_t* coverage, int32_t width, int32_t height, int32_t pitch,
                       TColor32 color);

    // Applies a raster operation of a binary kind (1..16) to pen and destination.
    static TColor32 Rop2(int rop, TColor32 pen, TColor32 dest);
    static TColor32 Rop3(uint32_t rop, TColor32 pattern, TColor32 source, TColor32 dest);

    void Spend(uint64_t work);

private:
    // Calls span(y, x0, x1) for the covered pixels [x0, x1) of each row in
    // [firstRow, lastRow).
    template <class Span>
    void ScanPolygons(const std::vector<TPolygonD>& polygons, bool winding, int64_t firstRow, int64_t lastRow,
                      Span span);
    // The same over the rows this canvas holds.
    template <class Span>
    void ScanHeld(const std::vector<TPolygonD>& polygons, bool winding, Span span)
    {
        ScanPolygons(polygons, winding, m_top, m_top + m_target.Height(), span);
    }
    bool Held(int64_t y) const { return y >= m_top && y < m_top + m_target.Height(); }
    TColor32& Pixel(int32_t x, int32_t y) { return *m_target.PixelAddress(x, y - m_top); }
    bool Visible(int32_t x, int32_t y) const
    {
        return !m_clip || ((*m_clip)[static_cast<size_t>(y) * m_rowWords + static_cast<size_t>(x) / 64] >> (x % 64) & 1);
    }
    void Put(int32_t x, int32_t y, TColor32 color, int rop2);
    // An empty mask of the device, counted against the clips' allowance.
    std::vector<uint64_t> NewMask();
    void SetSpan(std::vector<uint64_t>& mask, int32_t y, int32_t x0, int32_t x1) const;
    void CombineClip(std::vector<uint64_t>& shape, int mode);

    TBitmap32& m_target;
    int32_t m_width;
    int32_t m_height;
    int32_t m_top = 0;
    size_t m_rowWords;
    TClipMask m_clip;
    // Every mask made, to bound those alive at once: a file could otherwise
    // keep thousands of different clips in saved states.
    std::vector<std::weak_ptr<const std::vector<uint64_t>>> m_masks;
    uint64_t m_budget;
};

} // namespace palvex
