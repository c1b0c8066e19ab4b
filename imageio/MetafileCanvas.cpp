#include "imageio/MetafileCanvas.h"

#include <algorithm>
#include <cmath>

namespace palvex {

namespace {

// Beyond this a coordinate only matters for being off the picture; keeping
// it here keeps every later conversion to an integer defined.
constexpr double kFar = 1e9;

double Tame(double v)
{
    if (std::isnan(v))
        return -kFar;
    return std::clamp(v, -kFar, kFar);
}

// The first pixel whose centre lies at or after v.
int64_t FirstCentreAtOrAfter(double v) { return static_cast<int64_t>(std::ceil(Tame(v) - 0.5)); }

bool HatchAt(int style, int32_t x, int32_t y)
{
    const bool horizontal = (y & 7) == 0;
    const bool vertical = (x & 7) == 0;
    const bool forward = ((x - y) & 7) == 0;
    const bool backward = ((x + y) & 7) == 7;
    switch (style) {
    case 0: return horizontal;
    case 1: return vertical;
    case 2: return forward;
    case 3: return backward;
    case 4: return horizontal || vertical;
    default: return forward || backward;
    }
}

struct Edge {
    double X0, Y0, Slope; // x at y is X0 + (y - Y0) * Slope
    int64_t First, Last;  // rows [First, Last)
    int Direction;
};

} // namespace

TAffine TAffine::After(const TAffine& first) const
{
    TAffine r;
    r.M11 = first.M11 * M11 + first.M12 * M21;
    r.M12 = first.M11 * M12 + first.M12 * M22;
    r.M21 = first.M21 * M11 + first.M22 * M21;
    r.M22 = first.M21 * M12 + first.M22 * M22;
    r.Dx = first.Dx * M11 + first.Dy * M21 + Dx;
    r.Dy = first.Dx * M12 + first.Dy * M22 + Dy;
    return r;
}

bool TAffine::Invert(TAffine& inverse) const
{
    const double det = Determinant();
    if (!std::isfinite(det) || std::fabs(det) < 1e-300)
        return false;
    inverse.M11 = M22 / det;
    inverse.M12 = -M12 / det;
    inverse.M21 = -M21 / det;
    inverse.M22 = M11 / det;
    inverse.Dx = -(Dx * inverse.M11 + Dy * inverse.M21);
    inverse.Dy = -(Dx * inverse.M12 + Dy * inverse.M22);
    return std::isfinite(inverse.Dx) && std::isfinite(inverse.Dy);
}

bool TPaint::At(int32_t x, int32_t y, TColor32& color) const
{
    switch (PaintKind) {
    case Kind::Solid: color = Color; return true;
    case Kind::Hatch:
        if (HatchAt(HatchStyle, x, y)) {
            color = Color;
            return true;
        }
        color = Back;
        return OpaqueBack;
    case Kind::Pattern:
        if (!Pattern || PatternWidth <= 0 || PatternHeight <= 0) {
            color = Color;
            return true;
        }
        {
            const int32_t px = ((x % PatternWidth) + PatternWidth) % PatternWidth;
            const int32_t py = ((y % PatternHeight) + PatternHeight) % PatternHeight;
            color = (*Pattern)[static_cast<size_t>(py) * static_cast<size_t>(PatternWidth) + px];
        }
        return true;
    }
    return false;
}

TMetafileCanvas::TMetafileCanvas(TBitmap32& target, uint64_t workBudget)
    : TMetafileCanvas(target, target.Height(), 0, workBudget)
{
}

TMetafileCanvas::TMetafileCanvas(TBitmap32& target, int32_t deviceHeight, int32_t top, uint64_t workBudget)
    : m_target(target), m_width(target.Width()), m_height(deviceHeight), m_top(top),
      m_rowWords((static_cast<size_t>(target.Width()) + 63) / 64), m_budget(workBudget)
{
}

void TMetafileCanvas::Spend(uint64_t work)
{
    if (work > m_budget)
        throw TDrawingBudgetExceeded{};
    m_budget -= work;
}

TColor32 TMetafileCanvas::Rop2(int rop, TColor32 pen, TColor32 dest)
{
    if (rop == 13)
        return pen | 0xFF000000;
    const uint32_t table = static_cast<uint32_t>(rop - 1) & 15;
    uint32_t r = 0;
    for (uint32_t i = 0; i < 4; ++i)
        if (table & (1u << i))
            r |= ((i & 2) ? pen : ~pen) & ((i & 1) ? dest : ~dest);
    return (r & 0x00FFFFFF) | 0xFF000000;
}

TColor32 TMetafileCanvas::Rop3(uint32_t rop, TColor32 pattern, TColor32 source, TColor32 dest)
{
    const uint32_t table = (rop >> 16) & 0xFF;
    if (table == 0xCC)
        return source | 0xFF000000;
    uint32_t r = 0;
    for (uint32_t i = 0; i < 8; ++i)
        if (table & (1u << i))
            r |= ((i & 4) ? pattern : ~pattern) & ((i & 2) ? source : ~source) & ((i & 1) ? dest : ~dest);
    return (r & 0x00FFFFFF) | 0xFF000000;
}

void TMetafileCanvas::Put(int32_t x, int32_t y, TColor32 color, int rop2)
{
    if (!Held(y))
        return;
    TColor32& d = Pixel(x, y);
    d = Rop2(rop2, color, d);
}

template <class Span>
void TMetafileCanvas::ScanPolygons(const std::vector<TPolygonD>& polygons, bool winding, int64_t firstRow,
                                   int64_t lastRow, Span span)
{
    std::vector<Edge> edges;
    for (const TPolygonD& poly : polygons) {
        Spend(poly.size());
        for (size_t i = 0; i < poly.size(); ++i) {
            const TPointD a{Tame(poly[i].X), Tame(poly[i].Y)};
            const TPointD& next = poly[(i + 1) % poly.size()];
            const TPointD b{Tame(next.X), Tame(next.Y)};
            if (a.Y == b.Y)
                continue;
            const bool down = b.Y > a.Y;
            const TPointD& top = down ? a : b;
            const TPointD& bottom = down ? b : a;
            Edge e;
            e.X0 = top.X;
            e.Y0 = top.Y;
            e.Slope = (bottom.X - top.X) / (bottom.Y - top.Y);
            e.First = std::max<int64_t>(firstRow, FirstCentreAtOrAfter(top.Y));
            e.Last = std::min<int64_t>(lastRow, FirstCentreAtOrAfter(bottom.Y));
            e.Direction = down ? 1 : -1;
            if (e.First < e.Last)
                edges.push_back(e);
        }
    }
    if (edges.empty())
        return;
    std::sort(edges.begin(), edges.end(), [](const Edge& a, const Edge& b) { return a.First < b.First; });
    std::vector<const Edge*> active;
    std::vector<std::pair<double, int>> crossings;
    size_t next = 0;
    for (int64_t y = edges.front().First; y < lastRow; ++y) {
        active.erase(std::remove_if(active.begin(), active.end(), [y](const Edge* e) { return e->Last <= y; }),
                     active.end());
        while (next < edges.size() && edges[next].First <= y)
            active.push_back(&edges[next++]);
        if (active.empty()) {
            if (next == edges.size())
                break;
            y = edges[next].First - 1;
            continue;
        }
        Spend(active.size());
        const double yc = static_cast<double>(y) + 0.5;
        crossings.clear();
        for (const Edge* e : active)
            crossings.emplace_back(e->X0 + (yc - e->Y0) * e->Slope, e->Direction);
        std::sort(crossings.begin(), crossings.end());
        int count = 0;
        for (size_t i = 0; i + 1 < crossings.size(); ++i) {
            count += winding ? crossings[i].second : 1;
            const bool inside = winding ? count != 0 : (count & 1) != 0;
            if (!inside)
                continue;
            const int64_t x0 = std::max<int64_t>(0, FirstCentreAtOrAfter(crossings[i].first));
            const int64_t x1 = std::min<int64_t>(m_width, FirstCentreAtOrAfter(crossings[i + 1].first));
            if (x0 < x1) {
                Spend(static_cast<uint64_t>(x1 - x0));
                span(static_cast<int32_t>(y), static_cast<int32_t>(x0), static_cast<int32_t>(x1));
            }
        }
    }
}

void TMetafileCanvas::FillPolygons(const std::vector<TPolygonD>& polygons, bool winding, const TPaint& paint)
{
    if (paint.Rop2 == 11)
        return;
    ScanHeld(polygons, winding, [&](int32_t y, int32_t x0, int32_t x1) {
        for (int32_t x = x0; x < x1; ++x) {
            TColor32 c;
            if (Visible(x, y) && paint.At(x, y, c))
                Put(x, y, c, paint.Rop2);
        }
    });
}

void TMetafileCanvas::FillRect(const TRect& rect, const TPaint& paint)
{
    const double l = rect.Left, t = rect.Top, r = rect.Right, b = rect.Bottom;
    FillPolygons({TPolygonD{{l, t}, {r, t}, {r, b}, {l, b}}}, false, paint);
}

void TMetafileCanvas::SetPixelColor(int32_t x, int32_t y, const TPaint& paint)
{
    TColor32 c;
    if (x >= 0 && y >= 0 && x < m_width && y < m_height && Visible(x, y) && paint.At(x, y, c))
        Put(x, y, c, paint.Rop2);
}

std::vector<uint64_t> TMetafileCanvas::NewCoverage() const
{
    return std::vector<uint64_t>(m_rowWords * static_cast<size_t>(m_target.Height()), 0);
}

void TMetafileCanvas::AddCoverage(std::vector<uint64_t>& coverage, const std::vector<TPolygonD>& polygons)
{
    ScanHeld(polygons, true, [&](int32_t y, int32_t x0, int32_t x1) { SetSpan(coverage, y - m_top, x0, x1); });
}

void TMetafileCanvas::FillCoverage(const std::vector<uint64_t>& coverage, const TPaint& paint)
{
    if (paint.Rop2 == 11)
        return;
    for (int32_t row = 0; row < m_target.Height(); ++row) {
        const uint64_t* words = coverage.data() + static_cast<size_t>(row) * m_rowWords;
        const int32_t y = m_top + row;
        for (int32_t x = 0; x < m_width; ++x) {
            TColor32 c;
            if ((words[x / 64] >> (x % 64) & 1) && Visible(x, y) && paint.At(x, y, c))
                Put(x, y, c, paint.Rop2);
        }
    }
}

void TMetafileCanvas::ThinPolyline(const TPolygonD& points, bool closed, const TPaint& paint,
                                   const std::vector<int>& dashes, bool gapOpaque, TColor32 gapColor)
{
    if (points.empty() || paint.Rop2 == 11)
        return;
    int total = 0;
    for (int d : dashes)
        total += d;
    size_t dashIndex = 0;
    int dashLeft = dashes.empty() ? 0 : dashes[0];
    const size_t segments = closed ? points.size() : points.size() - 1;
    for (size_t i = 0; i < segments; ++i) {
        const TPointD& a = points[i];
        const TPointD& b = points[(i + 1) % points.size()];
        int64_t x = FirstCentreAtOrAfter(a.X), y = FirstCentreAtOrAfter(a.Y);
        const int64_t x1 = FirstCentreAtOrAfter(b.X), y1 = FirstCentreAtOrAfter(b.Y);
        const int64_t dx = std::llabs(x1 - x), dy = -std::llabs(y1 - y);
        const int sx = x < x1 ? 1 : -1, sy = y < y1 ? 1 : -1;
        // Only the part of a long line near the picture is walked.
        const int64_t steps = std::max(dx, -dy);
        const int64_t reach = int64_t(m_width) + m_height + 2;
        if (steps > 4 * reach) {
            const bool aInside = x > -reach && x < reach && y > -reach && y < reach;
            const bool bInside = x1 > -reach && x1 < reach && y1 > -reach && y1 < reach;
            if (!aInside && !bInside)
                continue;
        }
        Spend(static_cast<uint64_t>(std::min<int64_t>(steps, 8 * reach)) + 1);
        int64_t err = dx + dy;
        for (int64_t n = 0; n < 8 * reach && (x != x1 || y != y1); ++n) {
            bool on = true;
            if (total > 0) {
                on = (dashIndex & 1) == 0;
                if (--dashLeft <= 0) {
                    dashIndex = (dashIndex + 1) % dashes.size();
                    dashLeft = dashes[dashIndex];
                }
            }
            if (x >= 0 && y >= 0 && x < m_width && y < m_height && Visible(int32_t(x), int32_t(y))) {
                TColor32 c;
                if (on && paint.At(int32_t(x), int32_t(y), c))
                    Put(int32_t(x), int32_t(y), c, paint.Rop2);
                else if (!on && gapOpaque)
                    Put(int32_t(x), int32_t(y), gapColor, 13);
            }
            const int64_t e2 = 2 * err;
            if (e2 >= dy) {
                err += dy;
                x += sx;
            }
            if (e2 <= dx) {
                err += dx;
                y += sy;
            }
        }
    }
}

void TMetafileCanvas::DrawImage(const TImage& image, const TRect& srcRect, const TAffine& deviceToSource,
                                const TPolygonD& area, uint32_t rop3, const TPaint& brush, bool alphaBlend,
                                uint8_t constantAlpha, bool skipTransparent)
{
    const TRect src = IntersectRect(srcRect, TRect{0, 0, image.Width, image.Height});
    const uint32_t table = (rop3 >> 16) & 0xFF;
    const bool usesSource = (((table >> 2) ^ table) & 0x33) != 0 || alphaBlend;
    if (usesSource && IsRectEmpty(src))
        return;
    ScanHeld({area}, false, [&](int32_t y, int32_t x0, int32_t x1) {
        for (int32_t x = x0; x < x1; ++x) {
            if (!Visible(x, y))
                continue;
            TColor32 s = 0;
            if (usesSource) {
                const TPointD p = deviceToSource.Map(x + 0.5, y + 0.5);
                const double fx = std::floor(Tame(p.X)), fy = std::floor(Tame(p.Y));
                if (fx < src.Left || fy < src.Top || fx >= src.Right || fy >= src.Bottom)
                    continue;
                s = image.Row(static_cast<int32_t>(fy))[static_cast<size_t>(fx)];
                if (skipTransparent && AlphaComponent(s) == 0)
                    continue;
            }
            TColor32& d = Pixel(x, y);
            if (alphaBlend) {
                const uint32_t a = AlphaComponent(s) * constantAlpha / 255;
                auto mix = [&](uint32_t sc, uint32_t dc) {
                    const uint32_t v = (sc * constantAlpha + dc * (255 - a) + 127) / 255;
                    return static_cast<uint8_t>(std::min<uint32_t>(v, 255));
                };
                d = Color32(mix(RedComponent(s), RedComponent(d)), mix(GreenComponent(s), GreenComponent(d)),
                            mix(BlueComponent(s), BlueComponent(d)));
                continue;
            }
            TColor32 p = 0;
            if (!brush.At(x, y, p))
                p = brush.Back;
            d = Rop3(rop3, p, s, d);
        }
    });
}

void TMetafileCanvas::BlendCoverage(int32_t x, int32_t y, const uint8_t* coverage, int32_t width, int32_t height,
                                    int32_t pitch, TColor32 color)
{
    const int32_t r0 = std::max(0, -y), r1 = std::min(height, m_height - y);
    // Only the rows this canvas holds are blended; the work is the whole glyph's.
    const int32_t c0 = std::max(0, -x), c1 = std::min(width, m_width - x);
    if (r0 >= r1 || c0 >= c1)
        return;
    Spend(static_cast<uint64_t>(r1 - r0) * static_cast<uint64_t>(c1 - c0));
    for (int32_t r = r0; r < r1; ++r) {
        const uint8_t* row = coverage + static_cast<ptrdiff_t>(r) * pitch;
        for (int32_t c = c0; c < c1; ++c) {
            const uint32_t a = row[c];
            if (a == 0 || !Held(y + r) || !Visible(x + c, y + r))
                continue;
            TColor32& d = Pixel(x + c, y + r);
            auto mix = [a](uint32_t fc, uint32_t bc) { return static_cast<uint8_t>((fc * a + bc * (255 - a) + 127) / 255); };
            d = Color32(mix(RedComponent(color), RedComponent(d)), mix(GreenComponent(color), GreenComponent(d)),
                        mix(BlueComponent(color), BlueComponent(d)));
        }
    }
}

void TMetafileCanvas::ResetClip() { m_clip.reset(); }

std::vector<uint64_t> TMetafileCanvas::NewMask()
{
    const size_t words = m_rowWords * static_cast<size_t>(m_height);
    // Room for a few nested clips of any picture, and many of a small one.
    const size_t allowance = (size_t(16) << 20) + static_cast<size_t>(m_width) * static_cast<size_t>(m_height) / 2;
    std::erase_if(m_masks, [](const auto& mask) { return mask.expired(); });
    if ((m_masks.size() + 1) * words * sizeof(uint64_t) > allowance)
        throw TDrawingBudgetExceeded{};
    return std::vector<uint64_t>(words, 0);
}

void TMetafileCanvas::SetSpan(std::vector<uint64_t>& mask, int32_t y, int32_t x0, int32_t x1) const
{
    uint64_t* row = mask.data() + static_cast<size_t>(y) * m_rowWords;
    for (int32_t x = x0; x < x1;) {
        const int32_t bit = x % 64, n = std::min(64 - bit, x1 - x);
        row[x / 64] |= (n == 64 ? ~uint64_t(0) : ((uint64_t(1) << n) - 1)) << bit;
        x += n;
    }
}

void TMetafileCanvas::CombineClip(std::vector<uint64_t>& shape, int mode)
{
    Spend(static_cast<uint64_t>(m_width) * static_cast<uint64_t>(m_height));
    // The result goes into shape: the old clip may be shared by saved states.
    if (mode != 5) {
        for (size_t i = 0; i < shape.size(); ++i) {
            const uint64_t a = m_clip ? (*m_clip)[i] : ~uint64_t(0), b = shape[i];
            switch (mode) {
            case 1: shape[i] = a & b; break;
            case 2: shape[i] = a | b; break;
            case 3: shape[i] = a ^ b; break;
            case 4: shape[i] = a & ~b; break;
            default: shape[i] = a; break;
            }
        }
    }
    auto mask = std::make_shared<const std::vector<uint64_t>>(std::move(shape));
    m_masks.push_back(mask);
    m_clip = std::move(mask);
}

void TMetafileCanvas::ClipPolygons(const std::vector<TPolygonD>& polygons, bool winding, int mode)
{
    std::vector<uint64_t> shape = NewMask();
    ScanPolygons(polygons, winding, 0, m_height,
                 [&](int32_t y, int32_t x0, int32_t x1) { SetSpan(shape, y, x0, x1); });
    CombineClip(shape, mode);
}

void TMetafileCanvas::ClipRects(const std::vector<TRect>& rects, int mode)
{
    std::vector<uint64_t> shape = NewMask();
    for (const TRect& r : rects) {
        const TRect c = IntersectRect(r, TRect{0, 0, m_width, m_height});
        if (IsRectEmpty(c))
            continue;
        Spend(static_cast<uint64_t>(c.Width()) * static_cast<uint64_t>(c.Height()));
        for (int32_t y = c.Top; y < c.Bottom; ++y)
            SetSpan(shape, y, c.Left, c.Right);
    }
    CombineClip(shape, mode);
}

void TMetafileCanvas::OffsetClip(int64_t dx, int64_t dy)
{
    if (!m_clip)
        return;
    std::vector<uint64_t> moved = NewMask();
    for (int32_t y = 0; y < m_height; ++y)
        for (int32_t x = 0; x < m_width; ++x) {
            const int64_t fx = x - dx, fy = y - dy;
            if (fx >= 0 && fy >= 0 && fx < m_width && fy < m_height && Visible(int32_t(fx), int32_t(fy)))
                SetSpan(moved, y, x, x + 1);
        }
    CombineClip(moved, 5);
}

} // namespace palvex
