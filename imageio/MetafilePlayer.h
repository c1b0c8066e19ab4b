// TMetafilePlayer: the drawing state that the records of a metafile change
// (objects, mapping, colours, modes, clip, path, current position) and the
// drawing calls they make, in logical units. Both metafile formats play
// through it; the record walkers live in WmfRecords.cpp and EmfRecords.cpp.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "imageio/MetafileCanvas.h"

namespace palvex {

class TMetafileFonts;

// Refuses the metafile: EInvalidGraphic "Metafile is not valid".
[[noreturn]] void InvalidMetafile();

// A COLORREF (red in the low byte) as an opaque TColor32.
inline TColor32 ColorFromRef(uint32_t ref)
{
    return Color32(static_cast<uint8_t>(ref), static_cast<uint8_t>(ref >> 8), static_cast<uint8_t>(ref >> 16));
}

struct TMetafilePen {
    int Style = 0;       // low 4 bits: 0 solid .. 5 null, 6 inside frame, 7 user style
    int EndCap = 0;      // 0 round, 1 square, 2 flat
    int Join = 0;        // 0 round, 1 bevel, 2 miter
    bool Geometric = false;
    double Width = 0;    // logical units; 0 is one pixel
    TColor32 Color = 0xFF000000;
    std::vector<double> UserDashes;
};

// A brush's pattern picture (top-down), shared by copies of the brush, or a
// record's bitmap: whole in Pixels, or (a bitmap only blitted) made by Rows
// as the drawing asks for them.
struct TPatternImage {
    int32_t Width = 0;
    int32_t Height = 0;
    std::vector<TColor32> Pixels;
    std::shared_ptr<TMetafileCanvas::TImageRows> Rows;
    bool Monochrome = false; // set bits take the text colour, clear ones the background

    bool Empty() const { return Pixels.empty() && !Rows; }
};

struct TMetafileBrush {
    int Style = 0; // 0 solid, 1 null, 2 hatched, 3 and 5 pattern
    TColor32 Color = 0xFFFFFFFF;
    int Hatch = 0;
    std::shared_ptr<const TPatternImage> Pattern;
};

struct TMetafileFont {
    double Height = -12; // logical units: negative is the character height, positive the cell height
    double Width = 0;
    int Escapement = 0; // tenths of a degree
    int Weight = 400;
    bool Italic = false;
    bool Underline = false;
    bool StrikeOut = false;
    int CharSet = 0;
    std::string Face; // UTF-8
};

struct TMetafileObject {
    enum class Kind { Empty, Pen, Brush, Font, Palette, Region, Other };
    Kind ObjectKind = Kind::Empty;
    TMetafilePen Pen;
    TMetafileBrush Brush;
    TMetafileFont Font;
    std::vector<TRect> Region; // logical (WMF) or device (EMF) rectangles
    std::vector<TColor32> Palette;
};

struct TFigure {
    TPolygonD Points; // device pixels
    bool Closed = false;
};

struct TDeviceContext {
    TMetafilePen Pen;
    TMetafileBrush Brush;
    TMetafileFont Font;
    std::vector<TColor32> Palette;
    int MapMode = 1;
    TPointD WindowOrg{0, 0}, WindowExt{1, 1}, ViewportOrg{0, 0}, ViewportExt{1, 1};
    TAffine World;
    bool OpaqueBack = true;
    TColor32 BackColor = 0xFFFFFFFF;
    TColor32 TextColor = 0xFF000000;
    int Rop2 = 13;
    bool Winding = false;
    uint32_t TextAlign = 0;
    bool ArcClockwise = false;
    int StretchMode = 1;
    double MiterLimit = 10;
    double CharExtra = 0;
    TPointD Current{0, 0}; // logical
    TClipMask Clip;
};

class TMetafilePlayer {
public:
    // base maps page (viewport) units to the canvas; fixedUnit gives the
    // device pixels per millimetre of the reference device, used by the
    // metric mapping modes. wmf: the window always maps onto the canvas.
    TMetafilePlayer(TMetafileCanvas& canvas, const TAffine& base, TPointD pixelsPerMillimetre, bool wmf,
                    TMetafileFonts* fonts);
    ~TMetafilePlayer();

    TDeviceContext& DC() { return m_dc; }
    TMetafileCanvas& Canvas() { return m_canvas; }
    bool DrewAnything() const { return m_drew; }
    // A record left out for a picture that could not be read.
    void NoteSkipped() { m_skipped = true; }
    bool SkippedAny() const { return m_skipped; }

    // Objects: WMF takes the lowest free slot, EMF names its index.
    void SetObjectTableSize(size_t size);
    size_t AddObject(TMetafileObject object);          // WMF
    void PutObject(uint32_t index, TMetafileObject object); // EMF
    void SelectObject(uint32_t index);
    void DeleteObject(uint32_t index);
    const TMetafileObject* Object(uint32_t index) const;

    void SaveDC();
    void RestoreDC(int32_t which);

    // Mapping.
    void SetMapMode(int mode);
    void SetWindowOrg(double x, double y);
    void SetWindowExt(double x, double y);
    void SetViewportOrg(double x, double y);
    void SetViewportExt(double x, double y);
    void SetWorldTransform(const TAffine& xform);
    void ModifyWorldTransform(const TAffine& xform, int mode);
    TAffine LogicalToDevice() const;
    TPointD ToDevice(double x, double y) const { return LogicalToDevice().Map(x, y); }

    // Drawing in logical units.
    void MoveTo(double x, double y);
    void LineTo(double x, double y);
    void Polyline(const TPolygonD& points, bool fromCurrent);
    void Polygons(const std::vector<TPolygonD>& polygons);
    void Polylines(const std::vector<TPolygonD>& lines);
    void PolyBezier(const TPolygonD& points, bool fromCurrent);
    void Rectangle(double l, double t, double r, double b);
    void RoundRect(double l, double t, double r, double b, double w, double h);
    void Ellipse(double l, double t, double r, double b);
    // kind: 0 arc, 1 chord, 2 pie; 3 arc from the current position (ArcTo).
    void ArcShape(int kind, double l, double t, double r, double b, double xs, double ys, double xe, double ye);
    void SetPixel(double x, double y, TColor32 color);

    // Paths.
    void BeginPath();
    void EndPath();
    void AbortPath();
    void CloseFigure();
    void FillPath();
    void StrokePath();
    void StrokeAndFillPath();
    void SelectClipPath(int mode);

    // Clipping, logical rectangles.
    void IntersectClipRect(double l, double t, double r, double b);
    void ExcludeClipRect(double l, double t, double r, double b);
    void OffsetClip(double dx, double dy);
    void SelectClipRects(const std::vector<TRect>& rects, bool logical, int mode);

    // Regions: rectangles in logical (WMF) or device (EMF) units.
    void FillRegion(const std::vector<TRect>& rects, bool logical, const TMetafileBrush& brush);
    void FrameRegion(const std::vector<TRect>& rects, bool logical, const TMetafileBrush& brush, double w, double h);
    void InvertRegion(const std::vector<TRect>& rects, bool logical);

    // Pictures: the destination parallelogram's corners in logical units
    // (top-left, top-right, bottom-left); srcRect in the picture.
    void Blit(const TMetafileCanvas::TImage* image, const TRect& srcRect, TPointD topLeft, TPointD topRight,
              TPointD bottomLeft, uint32_t rop3, bool alphaBlend = false, uint8_t constantAlpha = 255,
              bool transparentColourKey = false, TColor32 key = 0);
    void PatBlt(double x, double y, double w, double h, uint32_t rop3);
    // A record's bitmap into the logical rectangle (x, y, w, h): no bitmap
    // paints the brush through rop3, one that could not be read is left out.
    void BlitPicture(const std::shared_ptr<TPatternImage>& image, const TRect& srcRect, double x, double y, double w,
                     double h, uint32_t rop3, bool alphaBlend = false, uint8_t constantAlpha = 255,
                     bool transparentColourKey = false, TColor32 key = 0);

    // Text: UTF-32 characters at a logical point; advances (logical, may be
    // empty) between character origins. options: 2 opaque rect, 4 clipped.
    void TextOut(double x, double y, const std::u32string& text, const std::vector<double>& advances,
                 uint32_t options, const TRect* rect);

    void NoteDrawing() { m_drew = true; }

private:
    void Draw(std::vector<TFigure> figures, bool fill, bool stroke);
    void FillFigures(const std::vector<TFigure>& figures, const TMetafileBrush& brush);
    void StrokeFigures(const std::vector<TFigure>& figures);
    // Strokes a line of device points, or in a path adds it; a line drawn from
    // the current position goes on with the path's open figure.
    void OpenLine(TPolygonD device, bool fromCurrent);
    TPaint BrushPaint(const TMetafileBrush& brush) const;
    double DeviceScale() const;
    TPolygonD MapPoints(const TPolygonD& logical) const;
    std::vector<TRect> DeviceRects(const std::vector<TRect>& rects, bool logical) const;
    TPolygonD EllipsePoints(double l, double t, double r, double b) const;

    TMetafileCanvas& m_canvas;
    TAffine m_base;
    TPointD m_pixelsPerMillimetre;
    bool m_wmf;
    TMetafileFonts* m_fonts;
    TDeviceContext m_dc;
    std::vector<TDeviceContext> m_saved;
    std::vector<TMetafileObject> m_objects;
    bool m_inPath = false;
    std::vector<TFigure> m_path;
    bool m_figureOpen = false;
    bool m_drew = false;
    bool m_skipped = false;
};

// Little-endian fields of one record; a field outside it refuses the metafile.
class TRecordBytes {
public:
    explicit TRecordBytes(std::span<const uint8_t> data) : m_data(data) {}

    size_t Size() const { return m_data.size(); }
    uint8_t U8(size_t at) const { return Need(at, 1), m_data[at]; }
    uint16_t U16(size_t at) const { return Need(at, 2), static_cast<uint16_t>(m_data[at] | (m_data[at + 1] << 8)); }
    int16_t I16(size_t at) const { return static_cast<int16_t>(U16(at)); }
    uint32_t U32(size_t at) const
    {
        Need(at, 4);
        return uint32_t(m_data[at]) | (uint32_t(m_data[at + 1]) << 8) | (uint32_t(m_data[at + 2]) << 16) |
               (uint32_t(m_data[at + 3]) << 24);
    }
    int32_t I32(size_t at) const { return static_cast<int32_t>(U32(at)); }
    float F32(size_t at) const;
    std::span<const uint8_t> Bytes(size_t at, size_t count) const { return Need(at, count), m_data.subspan(at, count); }
    // count items of itemSize bytes from at, all inside the record.
    void NeedItems(size_t at, uint64_t count, size_t itemSize) const;

private:
    void Need(size_t at, size_t count) const
    {
        if (at > m_data.size() || count > m_data.size() - at)
            InvalidMetafile();
    }
    std::span<const uint8_t> m_data;
};

// The objects that both record formats create, from their fields as recorded.
// A pen's style holds the line style in bits 0-3, the end cap in 8-11 and the
// join in 12-15.
TMetafileObject PenObject(uint32_t style, double width, TColor32 color);
// A brush of a style that needs a pattern it does not have draws nothing.
TMetafileObject BrushObject(int style, TColor32 color, int hatch);
// count palette entries (red, green, blue, flags) from at.
TMetafileObject PaletteObject(const TRecordBytes& bytes, size_t at, size_t count);
TMetafileObject FontObject(TMetafileFont font);
TMetafileObject RegionObject(std::vector<TRect> rects);

// A LOGFONT's fields before its face name, which the formats store apart:
// height, width, escapement, orientation and weight, 16-bit (WMF) or 32-bit
// (EMF, wide) numbers from at, then the italic, underline, strike-out and
// character-set bytes.
TMetafileFont ReadFontFields(const TRecordBytes& bytes, size_t at, bool wide);

// A bitmap of a record: the info header with its colour table, then the
// bits (or a whole JPEG or PNG). usage 1: the colour table holds indices
// into the palette. A bitmap that cannot be read gives an empty picture:
// its record is left out. With rowsAsDrawn the bits' rows are made as a blit
// asks for them (the bytes must outlive the picture); else the picture is
// whole in Pixels, as a brush or a change of its pixels needs.
std::shared_ptr<TPatternImage> DecodeMetafileDib(std::span<const uint8_t> info, std::span<const uint8_t> bits,
                                                 uint32_t usage, const std::vector<TColor32>& palette,
                                                 bool rowsAsDrawn = false);

// The record at offset of a WMF record list or an EMF file: its kind (the WMF
// function, the EMF type) and its length in bytes. A head the bytes do not
// hold, or a length past them, refuses the metafile.
struct TRecordHead {
    uint32_t Kind = 0;
    size_t Bytes = 0;
};
TRecordHead WmfRecordHead(std::span<const uint8_t> records, size_t offset);
TRecordHead EmfRecordHead(std::span<const uint8_t> file, size_t offset);
inline constexpr uint32_t kWmfEndRecord = 0x0000;
inline constexpr uint32_t kEmfEndRecord = 14;

// Plays records onto a player; malformed records refuse the metafile.
void PlayWmfRecords(std::span<const uint8_t> records, TMetafilePlayer& player);
void PlayEmfRecords(std::span<const uint8_t> file, TMetafilePlayer& player, bool& sawEmfPlus);

} // namespace palvex
