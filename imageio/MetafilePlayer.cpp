#include "imageio/MetafilePlayer.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include <bit>
#include <cstring>

#include "imageio/Bitmap.h"
#include "imageio/BmpDib.h"
#include "imageio/FileFormats.h"
#include "imageio/MetafileText.h"
#include "platform/Errors.h"

namespace palvex {

void InvalidMetafile() { throw EInvalidGraphic("Metafile is not valid"); }

float TRecordBytes::F32(size_t at) const { return std::bit_cast<float>(U32(at)); }

void TRecordBytes::NeedItems(size_t at, uint64_t count, size_t itemSize) const
{
    if (at > m_data.size() || count > (m_data.size() - at) / itemSize)
        InvalidMetafile();
}

TMetafileObject PenObject(uint32_t style, double width, TColor32 color)
{
    TMetafileObject o;
    o.ObjectKind = TMetafileObject::Kind::Pen;
    o.Pen.Style = style & 15;
    o.Pen.EndCap = (style >> 8) & 15;
    o.Pen.Join = (style >> 12) & 15;
    o.Pen.Width = width;
    o.Pen.Color = color;
    return o;
}

TMetafileObject BrushObject(int style, TColor32 color, int hatch)
{
    TMetafileObject o;
    o.ObjectKind = TMetafileObject::Kind::Brush;
    o.Brush.Style = style == 0 || style == 2 ? style : 1;
    o.Brush.Color = color;
    o.Brush.Hatch = hatch;
    return o;
}

TMetafileObject PaletteObject(const TRecordBytes& bytes, size_t at, size_t count)
{
    TMetafileObject o;
    o.ObjectKind = TMetafileObject::Kind::Palette;
    bytes.NeedItems(at, count, 4);
    for (size_t i = 0; i < count; ++i) {
        const size_t entry = at + 4 * i;
        o.Palette.push_back(Color32(bytes.U8(entry), bytes.U8(entry + 1), bytes.U8(entry + 2)));
    }
    return o;
}

TMetafileObject FontObject(TMetafileFont font)
{
    TMetafileObject o;
    o.ObjectKind = TMetafileObject::Kind::Font;
    o.Font = std::move(font);
    return o;
}

TMetafileObject RegionObject(std::vector<TRect> rects)
{
    TMetafileObject o;
    o.ObjectKind = TMetafileObject::Kind::Region;
    o.Region = std::move(rects);
    return o;
}

TMetafileFont ReadFontFields(const TRecordBytes& bytes, size_t at, bool wide)
{
    const size_t size = wide ? 4 : 2;
    auto number = [&](size_t i) -> int32_t { return wide ? bytes.I32(at + size * i) : bytes.I16(at + size * i); };
    TMetafileFont f;
    f.Height = number(0);
    f.Width = number(1);
    f.Escapement = number(2);
    f.Weight = number(4);
    const size_t flags = at + 5 * size;
    f.Italic = bytes.U8(flags) != 0;
    f.Underline = bytes.U8(flags + 1) != 0;
    f.StrikeOut = bytes.U8(flags + 2) != 0;
    f.CharSet = bytes.U8(flags + 3);
    return f;
}

namespace {

constexpr uint32_t kBI_JPEG = 4;
constexpr uint32_t kBI_PNG = 5;

// A JPEG or PNG held whole in a bitmap record, read by the registered kind
// of its format (which may live in a higher layer).
void EmbeddedPicture(std::span<const uint8_t> bits, const char* extension, TPatternImage& image)
{
    try {
        image.Pixels = LoadEmbeddedPicture(bits, extension, image.Width, image.Height);
        if (image.Pixels.empty())
            image = TPatternImage{};
    } catch (const Exception&) {
        image = TPatternImage{};
    }
}

// A bitmap's rows as 32-bit pixels, each made once, when first asked for.
class TDibImageRows final : public TMetafileCanvas::TImageRows {
public:
    TDibImageRows(std::span<const uint8_t> bits, const dib::TDibInfo& header, std::vector<TColor32> colours)
        : m_in(bits, nullptr), m_rows(header, std::move(colours), m_in, 0), m_keepAlpha(header.BitCount == 32),
          m_held(dib::RowStride(m_rows.Width(), BitsPerPixel(m_rows.HeldFormat()))), m_made(size_t(m_rows.Height()))
    {
    }

    const TColor32* Row(int32_t y) override
    {
        std::vector<TColor32>& row = m_made[size_t(y)];
        if (row.empty()) {
            row.resize(size_t(m_rows.Width()));
            MakeRow(y, row.data());
        }
        return row.data();
    }

    void MakeRow(int32_t y, TColor32* out)
    {
        m_rows.ReadHeld(y, m_held.data());
        ConvertRowTo32(m_rows.HeldFormat(), m_rows.Palette(), m_held.data(), m_rows.Width(), out);
        if (!m_keepAlpha)
            for (int32_t x = 0; x < m_rows.Width(); ++x)
                out[x] |= 0xFF000000;
    }

private:
    TByteReader m_in;
    dib::TDibRows m_rows;
    bool m_keepAlpha;
    std::vector<uint8_t> m_held;
    std::vector<std::vector<TColor32>> m_made;
};

} // namespace

std::shared_ptr<TPatternImage> DecodeMetafileDib(std::span<const uint8_t> info, std::span<const uint8_t> bits,
                                                 uint32_t usage, const std::vector<TColor32>& palette,
                                                 bool rowsAsDrawn)
{
    auto image = std::make_shared<TPatternImage>();
    const TRecordBytes head(info);
    if (info.size() >= 20 && head.U32(0) >= 40 && head.U16(14) == 0 &&
        (head.U32(16) == kBI_JPEG || head.U32(16) == kBI_PNG)) {
        EmbeddedPicture(bits, head.U32(16) == kBI_PNG ? "png" : "jpg", *image);
        return image;
    }
    try {
        // The header is read as if the bits followed it at once (a 40-byte
        // header's masks may be their first bytes); no header reaches past 140.
        std::vector<uint8_t> start(info.begin(), info.end());
        start.insert(start.end(), bits.begin(), bits.begin() + std::min<size_t>(bits.size(), 140));
        const dib::TDibInfo header = dib::ParseInfo(start, 0);
        // Run-length bits cover at most a few thousand pixels a byte, even
        // with jumps: more is a header asking for memory the data cannot fill.
        if ((header.Compression == dib::kBI_RLE4 || header.Compression == dib::kBI_RLE8) &&
            uint64_t(header.Width) * uint64_t(header.Height) > (uint64_t(bits.size()) + 1) * 16384)
            return std::make_shared<TPatternImage>();
        std::vector<TColor32> colours = dib::ReadPalette(header, start, info.size());
        if (usage == 1) {
            // The colour table holds 16-bit indices into the logical palette.
            for (size_t i = 0; i < colours.size(); ++i) {
                const size_t at = header.PaletteOffset + 2 * i;
                const size_t index = at + 1 < info.size() ? (info[at] | (info[at + 1] << 8)) : 0;
                colours[i] = index < palette.size() ? palette[index] : 0xFF000000;
            }
        }
        if (header.Width <= 0 || header.Height <= 0)
            return std::make_shared<TPatternImage>();
        // Made here, the rows have been checked against the bits: making one
        // later cannot fail.
        auto rows = std::make_shared<TDibImageRows>(bits, header, std::move(colours));
        image->Width = header.Width;
        image->Height = header.Height;
        if (rowsAsDrawn) {
            image->Rows = std::move(rows);
            return image;
        }
        image->Pixels.resize(size_t(image->Width) * size_t(image->Height));
        for (int32_t y = 0; y < image->Height; ++y)
            rows->MakeRow(y, image->Pixels.data() + size_t(y) * size_t(image->Width));
    } catch (const Exception&) {
        return std::make_shared<TPatternImage>();
    }
    return image;
}

namespace {

constexpr double kPi = std::numbers::pi;

// A step count from a length that may be huge or not a number.
int Steps(double v, int low, int high)
{
    return std::isnan(v) ? low : static_cast<int>(std::clamp(v, double(low), double(high)));
}

double SignedArea(const TPolygonD& p)
{
    double a = 0;
    for (size_t i = 0; i < p.size(); ++i) {
        const TPointD& u = p[i];
        const TPointD& v = p[(i + 1) % p.size()];
        a += u.X * v.Y - v.X * u.Y;
    }
    return a / 2;
}

// Pieces of a wide stroke are filled together by the non-zero rule, so each
// must turn the same way for their overlaps to add up.
void AddPiece(std::vector<TPolygonD>& out, TPolygonD piece)
{
    if (SignedArea(piece) < 0)
        std::reverse(piece.begin(), piece.end());
    out.push_back(std::move(piece));
}

TPolygonD Circle(TPointD c, double r)
{
    const int n = Steps(std::ceil(2 * kPi * r / 1.5), 8, 256);
    TPolygonD p;
    p.reserve(n);
    for (int i = 0; i < n; ++i) {
        const double a = 2 * kPi * i / n;
        p.push_back({c.X + r * std::cos(a), c.Y + r * std::sin(a)});
    }
    return p;
}

// Hands each "on" run of a dash pattern (lengths in pixels) along a polyline
// to run, one at a time: a long line of short dashes has millions.
template <class Run>
void ForEachDash(const TFigure& figure, const std::vector<double>& dashes, Run run)
{
    double total = 0;
    for (double d : dashes)
        total += d;
    if (dashes.empty() || !(total > 0)) {
        run(figure);
        return;
    }
    TPolygonD pts = figure.Points;
    if (figure.Closed && !pts.empty())
        pts.push_back(pts.front());
    size_t index = 0;
    double left = dashes[0];
    TFigure current;
    bool on = true;
    current.Points.push_back(pts.empty() ? TPointD{} : pts[0]);
    size_t budget = 1 << 20;
    for (size_t i = 0; i + 1 < pts.size(); ++i) {
        TPointD a = pts[i];
        const TPointD b = pts[i + 1];
        double len = std::hypot(b.X - a.X, b.Y - a.Y);
        while (len > left && budget-- > 0) {
            const double t = left / len;
            const TPointD m{a.X + (b.X - a.X) * t, a.Y + (b.Y - a.Y) * t};
            if (on) {
                current.Points.push_back(m);
                run(current);
            }
            current.Points.assign(1, m);
            on = !on;
            len -= left;
            a = m;
            index = (index + 1) % dashes.size();
            left = dashes[index];
            if (!(left > 0))
                left = 1;
        }
        left -= len;
        if (on)
            current.Points.push_back(b);
    }
    if (on && current.Points.size() > 1)
        run(current);
}

// The outline of a wide stroke as pieces for a non-zero fill.
void StrokeOutline(const TFigure& figure, double width, int cap, int join, double miterLimit,
                   std::vector<TPolygonD>& out)
{
    TPolygonD pts;
    for (const TPointD& p : figure.Points)
        if (pts.empty() || std::hypot(p.X - pts.back().X, p.Y - pts.back().Y) > 1e-9)
            pts.push_back(p);
    const bool closed = figure.Closed && pts.size() > 2;
    if (closed && std::hypot(pts.front().X - pts.back().X, pts.front().Y - pts.back().Y) <= 1e-9)
        pts.pop_back();
    const double h = width / 2;
    if (pts.size() == 1) {
        if (cap == 0)
            AddPiece(out, Circle(pts[0], h));
        else if (cap == 1)
            AddPiece(out, {{pts[0].X - h, pts[0].Y - h}, {pts[0].X + h, pts[0].Y - h}, {pts[0].X + h, pts[0].Y + h},
                           {pts[0].X - h, pts[0].Y + h}});
        return;
    }
    const size_t segments = closed ? pts.size() : pts.size() - 1;
    for (size_t i = 0; i < segments; ++i) {
        TPointD a = pts[i], b = pts[(i + 1) % pts.size()];
        const double len = std::hypot(b.X - a.X, b.Y - a.Y);
        const double ux = (b.X - a.X) / len, uy = (b.Y - a.Y) / len;
        if (!closed && cap == 1) {
            if (i == 0)
                a = {a.X - ux * h, a.Y - uy * h};
            if (i + 1 == segments)
                b = {b.X + ux * h, b.Y + uy * h};
        }
        const double nx = -uy * h, ny = ux * h;
        AddPiece(out, {{a.X + nx, a.Y + ny}, {b.X + nx, b.Y + ny}, {b.X - nx, b.Y - ny}, {a.X - nx, a.Y - ny}});
    }
    if (!closed && cap == 0) {
        AddPiece(out, Circle(pts.front(), h));
        AddPiece(out, Circle(pts.back(), h));
    }
    const size_t first = closed ? 0 : 1;
    const size_t last = closed ? pts.size() : pts.size() - 1;
    for (size_t i = first; i < last; ++i) {
        const TPointD& p = pts[i];
        if (join == 0) {
            AddPiece(out, Circle(p, h));
            continue;
        }
        const TPointD& prev = pts[(i + pts.size() - 1) % pts.size()];
        const TPointD& next = pts[(i + 1) % pts.size()];
        const double l1 = std::hypot(p.X - prev.X, p.Y - prev.Y), l2 = std::hypot(next.X - p.X, next.Y - p.Y);
        const double u1x = (p.X - prev.X) / l1, u1y = (p.Y - prev.Y) / l1;
        const double u2x = (next.X - p.X) / l2, u2y = (next.Y - p.Y) / l2;
        const double cross = u1x * u2y - u1y * u2x;
        if (std::fabs(cross) < 1e-12)
            continue;
        // The outer side of the turn.
        const double s = cross > 0 ? -1 : 1;
        const TPointD o1{p.X - u1y * h * s, p.Y + u1x * h * s};
        const TPointD o2{p.X - u2y * h * s, p.Y + u2x * h * s};
        if (join == 2) {
            const double cosTheta = std::clamp(-(u1x * u2x + u1y * u2y), -1.0, 1.0);
            const double miter = 1 / std::sin(std::acos(cosTheta) / 2);
            if (miter <= miterLimit) {
                const double bx = o1.X + o2.X - 2 * p.X, by = o1.Y + o2.Y - 2 * p.Y;
                const double bl = std::hypot(bx, by);
                if (bl > 1e-12) {
                    const TPointD tip{p.X + bx / bl * h * miter, p.Y + by / bl * h * miter};
                    AddPiece(out, {p, o1, tip, o2});
                    continue;
                }
            }
        }
        AddPiece(out, {p, o1, o2});
    }
}

std::vector<double> PenDashes(int style, double width, bool cosmetic)
{
    const double w = cosmetic ? 1 : width;
    switch (style) {
    case 1: return cosmetic ? std::vector<double>{18, 6} : std::vector<double>{3 * w, w};
    case 2: return cosmetic ? std::vector<double>{3, 3} : std::vector<double>{w, w};
    case 3: return cosmetic ? std::vector<double>{9, 6, 3, 6} : std::vector<double>{3 * w, w, w, w};
    case 4: return cosmetic ? std::vector<double>{9, 3, 3, 3, 3, 3} : std::vector<double>{3 * w, w, w, w, w, w};
    case 8: return {1, 1};
    default: return {};
    }
}

} // namespace

TMetafilePlayer::TMetafilePlayer(TMetafileCanvas& canvas, const TAffine& base, TPointD pixelsPerMillimetre, bool wmf,
                                 TMetafileFonts* fonts)
    : m_canvas(canvas), m_base(base), m_pixelsPerMillimetre(pixelsPerMillimetre), m_wmf(wmf), m_fonts(fonts)
{
    if (wmf) {
        m_dc.MapMode = 8;
        m_dc.ViewportExt = {double(canvas.Width()), double(canvas.Height())};
    }
}

TMetafilePlayer::~TMetafilePlayer() = default;

// Objects -----------------------------------------------------------------

void TMetafilePlayer::SetObjectTableSize(size_t size) { m_objects.assign(std::min<size_t>(size, 65536), {}); }

size_t TMetafilePlayer::AddObject(TMetafileObject object)
{
    for (size_t i = 0; i < m_objects.size(); ++i)
        if (m_objects[i].ObjectKind == TMetafileObject::Kind::Empty) {
            m_objects[i] = std::move(object);
            return i;
        }
    // A table fuller than the header declares: the object gets no slot, as
    // a player with a table of the declared size would do.
    return m_objects.size();
}

void TMetafilePlayer::PutObject(uint32_t index, TMetafileObject object)
{
    if (index == 0 || index >= m_objects.size())
        return;
    m_objects[index] = std::move(object);
}

const TMetafileObject* TMetafilePlayer::Object(uint32_t index) const
{
    return index < m_objects.size() ? &m_objects[index] : nullptr;
}

void TMetafilePlayer::SelectObject(uint32_t index)
{
    if (index & 0x80000000u) {
        // Stock objects.
        switch (index & 0x7FFFFFFF) {
        case 0: m_dc.Brush = {0, 0xFFFFFFFF, 0, nullptr}; break;
        case 1: m_dc.Brush = {0, 0xFFC0C0C0, 0, nullptr}; break;
        case 2: m_dc.Brush = {0, 0xFF808080, 0, nullptr}; break;
        case 3: m_dc.Brush = {0, 0xFF404040, 0, nullptr}; break;
        case 4: m_dc.Brush = {0, 0xFF000000, 0, nullptr}; break;
        case 5: m_dc.Brush = {1, 0xFF000000, 0, nullptr}; break;
        case 6: m_dc.Pen = TMetafilePen{}, m_dc.Pen.Color = 0xFFFFFFFF; break;
        case 7: m_dc.Pen = TMetafilePen{}; break;
        case 8: m_dc.Pen = TMetafilePen{}, m_dc.Pen.Style = 5; break;
        case 10: case 11: case 12: case 13: case 14: case 16: case 17: m_dc.Font = TMetafileFont{}; break;
        default: break;
        }
        return;
    }
    const TMetafileObject* o = Object(index);
    if (!o)
        return;
    switch (o->ObjectKind) {
    case TMetafileObject::Kind::Pen: m_dc.Pen = o->Pen; break;
    case TMetafileObject::Kind::Brush: m_dc.Brush = o->Brush; break;
    case TMetafileObject::Kind::Font: m_dc.Font = o->Font; break;
    case TMetafileObject::Kind::Palette: m_dc.Palette = o->Palette; break;
    case TMetafileObject::Kind::Region: SelectClipRects(o->Region, m_wmf, 5); break;
    default: break;
    }
}

void TMetafilePlayer::DeleteObject(uint32_t index)
{
    if (index < m_objects.size())
        m_objects[index] = TMetafileObject{};
}

void TMetafilePlayer::SaveDC()
{
    if (m_saved.size() >= 4096)
        return;
    m_dc.Clip = m_canvas.ClipMask();
    m_saved.push_back(m_dc);
}

void TMetafilePlayer::RestoreDC(int32_t which)
{
    // Negative: relative to the current level; positive: an absolute level.
    size_t keep;
    if (which < 0) {
        const size_t back = static_cast<size_t>(-static_cast<int64_t>(which));
        if (back > m_saved.size())
            return;
        keep = m_saved.size() - back;
    } else {
        if (which == 0 || static_cast<size_t>(which) > m_saved.size())
            return;
        keep = static_cast<size_t>(which) - 1;
    }
    m_dc = std::move(m_saved[keep]);
    m_saved.resize(keep);
    m_canvas.SetClipMask(m_dc.Clip);
    m_dc.Clip.reset();
}

// Mapping -----------------------------------------------------------------

void TMetafilePlayer::SetMapMode(int mode)
{
    if (mode < 1 || mode > 8)
        return;
    // A placed WMF always maps its window onto the picture.
    if (m_wmf)
        m_dc.MapMode = mode == 7 ? 7 : 8;
    else
        m_dc.MapMode = mode;
}

void TMetafilePlayer::SetWindowOrg(double x, double y) { m_dc.WindowOrg = {x, y}; }

void TMetafilePlayer::SetWindowExt(double x, double y)
{
    if (x != 0 && y != 0 && std::isfinite(x) && std::isfinite(y))
        m_dc.WindowExt = {x, y};
}

void TMetafilePlayer::SetViewportOrg(double x, double y)
{
    if (!m_wmf)
        m_dc.ViewportOrg = {x, y};
}

void TMetafilePlayer::SetViewportExt(double x, double y)
{
    if (!m_wmf && x != 0 && y != 0 && std::isfinite(x) && std::isfinite(y))
        m_dc.ViewportExt = {x, y};
}

void TMetafilePlayer::SetWorldTransform(const TAffine& xform)
{
    const double v[] = {xform.M11, xform.M12, xform.M21, xform.M22, xform.Dx, xform.Dy};
    for (double d : v)
        if (!std::isfinite(d))
            return;
    if (xform.Determinant() == 0)
        return;
    m_dc.World = xform;
}

void TMetafilePlayer::ModifyWorldTransform(const TAffine& xform, int mode)
{
    switch (mode) {
    case 1: m_dc.World = TAffine{}; break;
    case 2: SetWorldTransform(m_dc.World.After(xform)); break; // xform first, then the current one
    case 3: SetWorldTransform(xform.After(m_dc.World)); break;
    case 4: SetWorldTransform(xform); break;
    default: break;
    }
}

TAffine TMetafilePlayer::LogicalToDevice() const
{
    double sx = 1, sy = 1;
    const TPointD mm = m_pixelsPerMillimetre;
    switch (m_dc.MapMode) {
    case 2: sx = 0.1 * mm.X, sy = -0.1 * mm.Y; break;
    case 3: sx = 0.01 * mm.X, sy = -0.01 * mm.Y; break;
    case 4: sx = 0.254 * mm.X, sy = -0.254 * mm.Y; break;
    case 5: sx = 0.0254 * mm.X, sy = -0.0254 * mm.Y; break;
    case 6: sx = 25.4 / 1440 * mm.X, sy = -25.4 / 1440 * mm.Y; break;
    case 7:
    case 8:
        sx = m_dc.ViewportExt.X / m_dc.WindowExt.X;
        sy = m_dc.ViewportExt.Y / m_dc.WindowExt.Y;
        if (m_dc.MapMode == 7) {
            const double s = std::min(std::fabs(sx), std::fabs(sy));
            sx = std::copysign(s, sx);
            sy = std::copysign(s, sy);
        }
        break;
    default: break;
    }
    TAffine page;
    page.M11 = sx;
    page.M22 = sy;
    page.Dx = m_dc.ViewportOrg.X - m_dc.WindowOrg.X * sx;
    page.Dy = m_dc.ViewportOrg.Y - m_dc.WindowOrg.Y * sy;
    return m_base.After(page.After(m_dc.World));
}

double TMetafilePlayer::DeviceScale() const { return std::sqrt(std::fabs(LogicalToDevice().Determinant())); }

TPolygonD TMetafilePlayer::MapPoints(const TPolygonD& logical) const
{
    const TAffine m = LogicalToDevice();
    TPolygonD out;
    out.reserve(logical.size());
    for (const TPointD& p : logical)
        out.push_back(m.Map(p));
    return out;
}

// Drawing -----------------------------------------------------------------

TPaint TMetafilePlayer::BrushPaint(const TMetafileBrush& brush) const
{
    TPaint paint;
    paint.Rop2 = m_dc.Rop2;
    paint.Color = brush.Color;
    paint.Back = m_dc.BackColor;
    paint.OpaqueBack = m_dc.OpaqueBack;
    if (brush.Style == 2) {
        paint.PaintKind = TPaint::Kind::Hatch;
        paint.HatchStyle = brush.Hatch;
    } else if ((brush.Style == 3 || brush.Style == 5) && brush.Pattern && !brush.Pattern->Pixels.empty()) {
        paint.PaintKind = TPaint::Kind::Pattern;
        paint.Pattern = &brush.Pattern->Pixels;
        paint.PatternWidth = brush.Pattern->Width;
        paint.PatternHeight = brush.Pattern->Height;
    }
    return paint;
}

void TMetafilePlayer::FillFigures(const std::vector<TFigure>& figures, const TMetafileBrush& brush)
{
    if (brush.Style == 1)
        return;
    std::vector<TPolygonD> polys;
    for (const TFigure& f : figures)
        if (f.Points.size() > 2)
            polys.push_back(f.Points);
    if (polys.empty())
        return;
    TPaint paint = BrushPaint(brush);
    // A monochrome pattern takes the text and background colours.
    std::vector<TColor32> tinted;
    if (paint.PaintKind == TPaint::Kind::Pattern && brush.Pattern->Monochrome) {
        tinted = brush.Pattern->Pixels;
        for (TColor32& c : tinted)
            c = (c & 0x00FFFFFF) ? m_dc.BackColor : m_dc.TextColor;
        paint.Pattern = &tinted;
    }
    m_canvas.FillPolygons(polys, m_dc.Winding, paint);
    m_drew = true;
}

void TMetafilePlayer::StrokeFigures(const std::vector<TFigure>& figures)
{
    const TMetafilePen& pen = m_dc.Pen;
    const int style = pen.Style & 15;
    if (style == 5)
        return;
    TPaint paint;
    paint.Color = pen.Color;
    paint.Rop2 = m_dc.Rop2;
    const double width = pen.Width * DeviceScale();
    const bool thin = pen.Width == 0 || !pen.Geometric ? width <= 1.5 : width < 1;
    if (thin) {
        std::vector<int> dashes;
        if (style == 7) {
            for (double d : pen.UserDashes)
                dashes.push_back(Steps(std::round(d), 1, 1 << 16));
        } else {
            for (double d : PenDashes(style, 1, true))
                dashes.push_back(static_cast<int>(d));
        }
        for (const TFigure& f : figures)
            m_canvas.ThinPolyline(f.Points, f.Closed, paint, dashes, m_dc.OpaqueBack && !dashes.empty(), m_dc.BackColor);
        m_drew = true;
        return;
    }
    std::vector<double> dashes;
    if (pen.Geometric) {
        if (style == 7)
            for (double d : pen.UserDashes)
                dashes.push_back(std::max(d * DeviceScale(), 0.5));
        else
            dashes = PenDashes(style, width, false);
    }
    // The pieces of a stroke are filled together; a stroke of very many
    // (short dashes with round caps) is gathered as coverage in parts instead,
    // so that its pieces are never all held at once.
    constexpr size_t kPointsAtOnce = 1 << 16;
    std::vector<TPolygonD> pieces;
    size_t points = 0;
    std::vector<uint64_t> coverage;
    for (const TFigure& f : figures)
        ForEachDash(f, dashes, [&](const TFigure& run) {
            const size_t before = pieces.size();
            StrokeOutline(run, width, pen.EndCap, pen.Join, m_dc.MiterLimit, pieces);
            m_canvas.Spend(run.Points.size());
            for (size_t i = before; i < pieces.size(); ++i)
                points += pieces[i].size();
            if (points >= kPointsAtOnce) {
                if (coverage.empty())
                    coverage = m_canvas.NewCoverage();
                m_canvas.AddCoverage(coverage, pieces);
                pieces.clear();
                points = 0;
            }
        });
    paint.PaintKind = TPaint::Kind::Solid;
    if (coverage.empty()) {
        m_canvas.FillPolygons(pieces, true, paint);
    } else {
        m_canvas.AddCoverage(coverage, pieces);
        m_canvas.FillCoverage(coverage, paint);
    }
    m_drew = true;
}

void TMetafilePlayer::Draw(std::vector<TFigure> figures, bool fill, bool stroke)
{
    if (m_inPath) {
        for (TFigure& f : figures)
            m_path.push_back(std::move(f));
        m_figureOpen = false;
        return;
    }
    if (fill)
        FillFigures(figures, m_dc.Brush);
    if (stroke)
        StrokeFigures(figures);
}

void TMetafilePlayer::MoveTo(double x, double y)
{
    m_dc.Current = {x, y};
    m_figureOpen = false;
}

void TMetafilePlayer::LineTo(double x, double y)
{
    Polyline({{x, y}}, true);
}

void TMetafilePlayer::Polyline(const TPolygonD& points, bool fromCurrent)
{
    if (points.empty())
        return;
    TPolygonD logical;
    if (fromCurrent)
        logical.push_back(m_dc.Current);
    logical.insert(logical.end(), points.begin(), points.end());
    if (fromCurrent)
        m_dc.Current = points.back();
    TPolygonD device = MapPoints(logical);
    OpenLine(std::move(device), fromCurrent);
}

void TMetafilePlayer::OpenLine(TPolygonD device, bool fromCurrent)
{
    if (!m_inPath) {
        StrokeFigures({{std::move(device), false}});
        return;
    }
    if (fromCurrent && m_figureOpen && !m_path.empty()) {
        m_path.back().Points.insert(m_path.back().Points.end(), device.begin() + 1, device.end());
    } else {
        m_path.push_back({std::move(device), false});
        m_figureOpen = fromCurrent;
    }
}

void TMetafilePlayer::Polylines(const std::vector<TPolygonD>& lines)
{
    std::vector<TFigure> figures;
    for (const TPolygonD& l : lines)
        figures.push_back({MapPoints(l), false});
    Draw(std::move(figures), false, true);
}

void TMetafilePlayer::Polygons(const std::vector<TPolygonD>& polygons)
{
    std::vector<TFigure> figures;
    for (const TPolygonD& p : polygons)
        figures.push_back({MapPoints(p), true});
    Draw(std::move(figures), true, true);
}

void TMetafilePlayer::PolyBezier(const TPolygonD& points, bool fromCurrent)
{
    TPolygonD control;
    if (fromCurrent)
        control.push_back(m_dc.Current);
    control.insert(control.end(), points.begin(), points.end());
    if (control.size() < 4)
        return;
    const TPolygonD device = MapPoints(control);
    TPolygonD flat{device[0]};
    for (size_t i = 0; i + 3 < device.size(); i += 3) {
        const TPointD &p0 = device[i], &p1 = device[i + 1], &p2 = device[i + 2], &p3 = device[i + 3];
        const double len = std::hypot(p1.X - p0.X, p1.Y - p0.Y) + std::hypot(p2.X - p1.X, p2.Y - p1.Y) +
                           std::hypot(p3.X - p2.X, p3.Y - p2.Y);
        const int n = Steps(len / 3, 2, 256);
        m_canvas.Spend(n);
        for (int k = 1; k <= n; ++k) {
            const double t = double(k) / n, u = 1 - t;
            flat.push_back({u * u * u * p0.X + 3 * u * u * t * p1.X + 3 * u * t * t * p2.X + t * t * t * p3.X,
                            u * u * u * p0.Y + 3 * u * u * t * p1.Y + 3 * u * t * t * p2.Y + t * t * t * p3.Y});
        }
    }
    if (fromCurrent)
        m_dc.Current = control[(control.size() - 1) / 3 * 3];
    OpenLine(std::move(flat), fromCurrent);
}

void TMetafilePlayer::Rectangle(double l, double t, double r, double b)
{
    Draw({{MapPoints({{l, t}, {r, t}, {r, b}, {l, b}}), true}}, true, false);
    if (m_inPath)
        return;
    // A one-pixel outline lies inside the filled area, as the fill excludes
    // the right and bottom edges.
    const TAffine m = LogicalToDevice();
    TPointD a = m.Map(l, t), c = m.Map(r, b);
    const double width = m_dc.Pen.Width * DeviceScale();
    if (m.M12 == 0 && m.M21 == 0 && width <= 1.5) {
        const double x0 = std::min(a.X, c.X), x1 = std::max(a.X, c.X) - 1;
        const double y0 = std::min(a.Y, c.Y), y1 = std::max(a.Y, c.Y) - 1;
        StrokeFigures({{{{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}}, true}});
    } else {
        StrokeFigures({{MapPoints({{l, t}, {r, t}, {r, b}, {l, b}}), true}});
    }
}

TPolygonD TMetafilePlayer::EllipsePoints(double l, double t, double r, double b) const
{
    const double cx = (l + r) / 2, cy = (t + b) / 2, rx = std::fabs(r - l) / 2, ry = std::fabs(b - t) / 2;
    const double size = (rx + ry) * DeviceScale();
    const int n = Steps(size * 1.6, 12, 4096);
    TPolygonD p;
    p.reserve(n);
    for (int i = 0; i < n; ++i) {
        const double a = 2 * kPi * i / n;
        p.push_back({cx + rx * std::cos(a), cy - ry * std::sin(a)});
    }
    return p;
}

void TMetafilePlayer::Ellipse(double l, double t, double r, double b)
{
    Draw({{MapPoints(EllipsePoints(l, t, r, b)), true}}, true, true);
}

void TMetafilePlayer::RoundRect(double l, double t, double r, double b, double w, double h)
{
    if (l > r)
        std::swap(l, r);
    if (t > b)
        std::swap(t, b);
    const double rx = std::min(std::fabs(w) / 2, (r - l) / 2), ry = std::min(std::fabs(h) / 2, (b - t) / 2);
    const double size = (rx + ry) * DeviceScale();
    const int n = Steps(size * 0.4, 3, 1024);
    TPolygonD p;
    const TPointD centres[4] = {{r - rx, t + ry}, {l + rx, t + ry}, {l + rx, b - ry}, {r - rx, b - ry}};
    for (int q = 0; q < 4; ++q)
        for (int i = 0; i <= n; ++i) {
            const double a = kPi / 2 * (q + double(i) / n);
            p.push_back({centres[q].X + rx * std::cos(a), centres[q].Y - ry * std::sin(a)});
        }
    Draw({{MapPoints(p), true}}, true, true);
}

void TMetafilePlayer::ArcShape(int kind, double l, double t, double r, double b, double xs, double ys, double xe,
                               double ye)
{
    const double cx = (l + r) / 2, cy = (t + b) / 2, rx = std::fabs(r - l) / 2, ry = std::fabs(b - t) / 2;
    if (rx == 0 || ry == 0)
        return;
    double a0 = std::atan2((cy - ys) / ry, (xs - cx) / rx);
    double a1 = std::atan2((cy - ye) / ry, (xe - cx) / rx);
    // Directions are seen on the device: a mapping that flips an axis flips them.
    const bool clockwise = m_dc.ArcClockwise != (LogicalToDevice().Determinant() < 0);
    if (clockwise) {
        while (a1 >= a0)
            a1 -= 2 * kPi;
    } else {
        while (a1 <= a0)
            a1 += 2 * kPi;
    }
    const double size = (rx + ry) * DeviceScale();
    const int full = Steps(size * 1.6, 12, 4096);
    const int n = Steps(full * std::fabs(a1 - a0) / (2 * kPi), 2, 4096);
    TPolygonD p;
    if (kind == 2)
        p.push_back({cx, cy});
    for (int i = 0; i <= n; ++i) {
        const double a = a0 + (a1 - a0) * i / n;
        p.push_back({cx + rx * std::cos(a), cy - ry * std::sin(a)});
    }
    if (kind == 3) {
        const TPointD end = p.back();
        Polyline(p, true);
        m_dc.Current = end;
        return;
    }
    if (kind == 0) {
        std::vector<TFigure> figures{{MapPoints(p), false}};
        Draw(std::move(figures), false, true);
        return;
    }
    Draw({{MapPoints(p), true}}, true, true);
}

void TMetafilePlayer::SetPixel(double x, double y, TColor32 color)
{
    const TPointD d = ToDevice(x, y);
    if (!std::isfinite(d.X) || !std::isfinite(d.Y) || std::fabs(d.X) > 1e9 || std::fabs(d.Y) > 1e9)
        return;
    TPaint paint;
    paint.Color = color;
    m_canvas.SetPixelColor(static_cast<int32_t>(std::floor(d.X)), static_cast<int32_t>(std::floor(d.Y)), paint);
    m_drew = true;
}

// Paths -------------------------------------------------------------------

void TMetafilePlayer::BeginPath()
{
    m_inPath = true;
    m_path.clear();
    m_figureOpen = false;
}

void TMetafilePlayer::EndPath() { m_inPath = false; }

void TMetafilePlayer::AbortPath()
{
    m_inPath = false;
    m_path.clear();
}

void TMetafilePlayer::CloseFigure()
{
    if (m_inPath && !m_path.empty()) {
        m_path.back().Closed = true;
        m_figureOpen = false;
    }
}

void TMetafilePlayer::FillPath()
{
    if (m_inPath)
        return;
    FillFigures(m_path, m_dc.Brush);
    m_path.clear();
}

void TMetafilePlayer::StrokePath()
{
    if (m_inPath)
        return;
    StrokeFigures(m_path);
    m_path.clear();
}

void TMetafilePlayer::StrokeAndFillPath()
{
    if (m_inPath)
        return;
    FillFigures(m_path, m_dc.Brush);
    StrokeFigures(m_path);
    m_path.clear();
}

void TMetafilePlayer::SelectClipPath(int mode)
{
    if (m_inPath)
        return;
    std::vector<TPolygonD> polys;
    for (const TFigure& f : m_path)
        polys.push_back(f.Points);
    if (mode >= 1 && mode <= 5)
        m_canvas.ClipPolygons(polys, m_dc.Winding, mode);
    m_path.clear();
}

// Clipping and regions ------------------------------------------------------

void TMetafilePlayer::IntersectClipRect(double l, double t, double r, double b)
{
    m_canvas.ClipPolygons({MapPoints({{l, t}, {r, t}, {r, b}, {l, b}})}, false, 1);
}

void TMetafilePlayer::ExcludeClipRect(double l, double t, double r, double b)
{
    m_canvas.ClipPolygons({MapPoints({{l, t}, {r, t}, {r, b}, {l, b}})}, false, 4);
}

void TMetafilePlayer::OffsetClip(double dx, double dy)
{
    const TAffine m = LogicalToDevice();
    const double ox = m.M11 * dx + m.M21 * dy, oy = m.M12 * dx + m.M22 * dy;
    if (!std::isfinite(ox) || !std::isfinite(oy))
        return;
    m_canvas.OffsetClip(std::llround(std::clamp(ox, -1e6, 1e6)), std::llround(std::clamp(oy, -1e6, 1e6)));
}

std::vector<TRect> TMetafilePlayer::DeviceRects(const std::vector<TRect>& rects, bool logical) const
{
    const TAffine m = logical ? LogicalToDevice() : m_base;
    std::vector<TRect> out;
    for (const TRect& r : rects) {
        const TPointD a = m.Map(r.Left, r.Top), b = m.Map(r.Right, r.Bottom);
        auto edge = [](double v) {
            return static_cast<int32_t>(std::clamp(std::ceil(std::isnan(v) ? 0 : v - 0.5), -1e9, 1e9));
        };
        out.push_back(TRect{edge(std::min(a.X, b.X)), edge(std::min(a.Y, b.Y)), edge(std::max(a.X, b.X)),
                            edge(std::max(a.Y, b.Y))});
    }
    return out;
}

void TMetafilePlayer::SelectClipRects(const std::vector<TRect>& rects, bool logical, int mode)
{
    if (mode < 1 || mode > 5)
        return;
    if (rects.empty() && mode == 5) {
        m_canvas.ResetClip();
        return;
    }
    m_canvas.ClipRects(DeviceRects(rects, logical), mode);
}

void TMetafilePlayer::FillRegion(const std::vector<TRect>& rects, bool logical, const TMetafileBrush& brush)
{
    if (brush.Style == 1)
        return;
    const TPaint paint = BrushPaint(brush);
    for (const TRect& r : DeviceRects(rects, logical))
        m_canvas.FillRect(r, paint);
    m_drew = true;
}

void TMetafilePlayer::FrameRegion(const std::vector<TRect>& rects, bool logical, const TMetafileBrush& brush, double w,
                                  double h)
{
    if (brush.Style == 1)
        return;
    const TPaint paint = BrushPaint(brush);
    const TAffine m = LogicalToDevice();
    const int32_t fw = Steps(std::round(std::fabs(w * m.M11)), 1, 1 << 16);
    const int32_t fh = Steps(std::round(std::fabs(h * m.M22)), 1, 1 << 16);
    for (const TRect& r : DeviceRects(rects, logical)) {
        m_canvas.FillRect({r.Left, r.Top, r.Right, std::min(r.Bottom, r.Top + fh)}, paint);
        m_canvas.FillRect({r.Left, std::max(r.Top, r.Bottom - fh), r.Right, r.Bottom}, paint);
        m_canvas.FillRect({r.Left, r.Top, std::min(r.Right, r.Left + fw), r.Bottom}, paint);
        m_canvas.FillRect({std::max(r.Left, r.Right - fw), r.Top, r.Right, r.Bottom}, paint);
    }
    m_drew = true;
}

void TMetafilePlayer::InvertRegion(const std::vector<TRect>& rects, bool logical)
{
    TPaint paint;
    paint.Rop2 = 6;
    for (const TRect& r : DeviceRects(rects, logical))
        m_canvas.FillRect(r, paint);
    m_drew = true;
}

// Pictures ------------------------------------------------------------------

void TMetafilePlayer::Blit(const TMetafileCanvas::TImage* image, const TRect& srcRect, TPointD topLeft,
                           TPointD topRight, TPointD bottomLeft, uint32_t rop3, bool alphaBlend,
                           uint8_t constantAlpha, bool transparentColourKey, TColor32 key)
{
    const TAffine m = LogicalToDevice();
    const TPointD p0 = m.Map(topLeft), p1 = m.Map(topRight), p2 = m.Map(bottomLeft);
    const TPointD p3{p1.X + p2.X - p0.X, p1.Y + p2.Y - p0.Y};
    TAffine toDevice;
    toDevice.M11 = p1.X - p0.X;
    toDevice.M12 = p1.Y - p0.Y;
    toDevice.M21 = p2.X - p0.X;
    toDevice.M22 = p2.Y - p0.Y;
    toDevice.Dx = p0.X;
    toDevice.Dy = p0.Y;
    TAffine fromDevice;
    if (!toDevice.Invert(fromDevice))
        return;
    TAffine unitToSource;
    unitToSource.M11 = srcRect.Width();
    unitToSource.M22 = srcRect.Height();
    unitToSource.Dx = srcRect.Left;
    unitToSource.Dy = srcRect.Top;
    TRect src = srcRect;
    if (src.Right < src.Left)
        std::swap(src.Left, src.Right);
    if (src.Bottom < src.Top)
        std::swap(src.Top, src.Bottom);
    TMetafileCanvas::TImage keyed;
    std::vector<TColor32> copy;
    if (image && transparentColourKey) {
        copy.resize(size_t(image->Width) * size_t(image->Height));
        for (int32_t y = 0; y < image->Height; ++y) {
            const TColor32* row = image->Row(y);
            TColor32* out = copy.data() + size_t(y) * size_t(image->Width);
            for (int32_t x = 0; x < image->Width; ++x)
                out[x] = (row[x] & 0x00FFFFFF) == (key & 0x00FFFFFF) ? 0 : (row[x] | 0xFF000000);
        }
        keyed = {copy.data(), image->Width, image->Height};
        image = &keyed;
    }
    const TMetafileCanvas::TImage none;
    TPaint brush = BrushPaint(m_dc.Brush);
    if (m_dc.Brush.Style == 1)
        brush.Color = 0xFF000000;
    m_canvas.DrawImage(image ? *image : none, src, unitToSource.After(fromDevice), {p0, p1, p3, p2}, rop3, brush,
                       alphaBlend, constantAlpha, transparentColourKey);
    m_drew = true;
}

void TMetafilePlayer::PatBlt(double x, double y, double w, double h, uint32_t rop3)
{
    Blit(nullptr, TRect{0, 0, 1, 1}, {x, y}, {x + w, y}, {x, y + h}, rop3);
}

void TMetafilePlayer::BlitPicture(const std::shared_ptr<TPatternImage>& image, const TRect& srcRect, double x,
                                  double y, double w, double h, uint32_t rop3, bool alphaBlend, uint8_t constantAlpha,
                                  bool transparentColourKey, TColor32 key)
{
    if (!image) {
        PatBlt(x, y, w, h, rop3);
        return;
    }
    if (image->Empty()) {
        NoteSkipped();
        return;
    }
    const TMetafileCanvas::TImage view{image->Pixels.empty() ? nullptr : image->Pixels.data(), image->Width,
                                       image->Height, image->Rows.get()};
    Blit(&view, srcRect, {x, y}, {x + w, y}, {x, y + h}, rop3, alphaBlend, constantAlpha, transparentColourKey, key);
}

// Text ----------------------------------------------------------------------

void TMetafilePlayer::TextOut(double x, double y, const std::u32string& text, const std::vector<double>& advances,
                              uint32_t options, const TRect* rect)
{
    const TAffine m = LogicalToDevice();
    TClipMask savedClip;
    bool clipped = false;
    if (rect && (options & 6)) {
        const TPolygonD box = MapPoints({{double(rect->Left), double(rect->Top)},
                                         {double(rect->Right), double(rect->Top)},
                                         {double(rect->Right), double(rect->Bottom)},
                                         {double(rect->Left), double(rect->Bottom)}});
        if (options & 2) {
            TPaint back;
            back.Color = m_dc.BackColor;
            m_canvas.FillPolygons({box}, false, back);
            m_drew = true;
        }
        if (options & 4) {
            savedClip = m_canvas.ClipMask();
            m_canvas.ClipPolygons({box}, false, 1);
            clipped = true;
        }
    }
    if (m_fonts && !text.empty()) {
        TTextRun run;
        run.Text = &text;
        // With TA_UPDATECP the text starts at the current position.
        run.Origin = (m_dc.TextAlign & 1) ? m_dc.Current : TPointD{x, y};
        run.Advances = &advances;
        run.ToDevice = m;
        run.Font = &m_dc.Font;
        run.Align = m_dc.TextAlign;
        run.Color = m_dc.TextColor;
        run.OpaqueBack = m_dc.OpaqueBack && !(options & 2);
        run.BackColor = m_dc.BackColor;
        run.CharExtra = m_dc.CharExtra;
        TPointD next{x, y};
        if (m_fonts->Draw(m_canvas, run, next))
            m_drew = true;
        if (m_dc.TextAlign & 1)
            m_dc.Current = next;
    }
    if (clipped)
        m_canvas.SetClipMask(std::move(savedClip));
}

} // namespace palvex
