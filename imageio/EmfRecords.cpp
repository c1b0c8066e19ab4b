// The records of an enhanced metafile, played onto a TMetafilePlayer.
#include <algorithm>
#include <cmath>

#include "imageio/MetafilePlayer.h"
#include "imageio/MetafileText.h"

namespace palvex {

namespace {

// Records 85 to 92 are 2 to 8 and 56 again with 16-bit points.
bool HasSmallPoints(uint32_t type) { return type >= 85 && type <= 92; }

size_t PointBytes(bool small) { return small ? 4 : 8; }

TPolygonD Points(const TRecordBytes& r, size_t at, uint64_t count, bool small)
{
    const size_t step = PointBytes(small);
    r.NeedItems(at, count, step);
    TPolygonD points(count);
    for (size_t i = 0; i < count; ++i) {
        const size_t x = at + step * i, y = x + step / 2;
        points[i] = small ? TPointD{double(r.I16(x)), double(r.I16(y))} : TPointD{double(r.I32(x)), double(r.I32(y))};
    }
    return points;
}

// The points of the single-figure records.
TPolygonD FigurePoints(const TRecordBytes& r, uint32_t type) { return Points(r, 28, r.U32(24), HasSmallPoints(type)); }

// Poly-polygon and poly-polyline records: counts, then all the points.
std::vector<TPolygonD> PolyPoints(const TRecordBytes& r, bool small)
{
    const uint32_t polys = r.U32(24), total = r.U32(28);
    r.NeedItems(32, polys, 4);
    const size_t pointsAt = 32 + 4 * size_t(polys);
    const TPolygonD all = Points(r, pointsAt, total, small);
    std::vector<TPolygonD> list;
    size_t used = 0;
    for (uint32_t i = 0; i < polys; ++i) {
        const uint32_t n = r.U32(32 + 4 * size_t(i));
        if (n > all.size() - used)
            InvalidMetafile();
        list.emplace_back(all.begin() + static_cast<ptrdiff_t>(used), all.begin() + static_cast<ptrdiff_t>(used + n));
        used += n;
    }
    return list;
}

TAffine ReadXform(const TRecordBytes& r, size_t at)
{
    return TAffine{r.F32(at), r.F32(at + 4), r.F32(at + 8), r.F32(at + 12), r.F32(at + 16), r.F32(at + 20)};
}

// Region data: a 32-byte header, then its rectangles (device units).
std::vector<TRect> ReadRegion(const TRecordBytes& r, size_t at, uint32_t size)
{
    if (size < 32)
        return {};
    const TRecordBytes data(r.Bytes(at, size));
    const uint32_t count = data.U32(8);
    data.NeedItems(32, count, 16);
    std::vector<TRect> rects;
    rects.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const size_t a = 32 + 16 * i;
        rects.push_back(TRect{data.I32(a), data.I32(a + 4), data.I32(a + 8), data.I32(a + 12)});
    }
    return rects;
}

// The bitmap a record carries at offBmi/cbBmi/offBits/cbBits, or none.
std::shared_ptr<TPatternImage> RecordDib(const TRecordBytes& r, size_t fields, uint32_t usage, TMetafilePlayer& player,
                                         bool rowsAsDrawn = false)
{
    const uint32_t offBmi = r.U32(fields), cbBmi = r.U32(fields + 4);
    const uint32_t offBits = r.U32(fields + 8), cbBits = r.U32(fields + 12);
    if (cbBmi == 0)
        return nullptr;
    return DecodeMetafileDib(r.Bytes(offBmi, cbBmi), r.Bytes(offBits, cbBits), usage, player.DC().Palette,
                             rowsAsDrawn);
}

std::u32string Utf16(std::span<const uint8_t> bytes)
{
    std::u32string out;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        char32_t c = bytes[i] | (bytes[i + 1] << 8);
        if (c >= 0xD800 && c < 0xDC00 && i + 3 < bytes.size()) {
            const char32_t low = bytes[i + 2] | (bytes[i + 3] << 8);
            if (low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        out.push_back(c);
    }
    return out;
}

void ExtTextOut(const TRecordBytes& r, bool wide, TMetafilePlayer& player)
{
    const double x = r.I32(36), y = r.I32(40);
    const uint32_t count = r.U32(44), offString = r.U32(48), options = r.U32(52);
    const TRect rect{r.I32(56), r.I32(60), r.I32(64), r.I32(68)};
    const uint32_t offDx = r.U32(72);
    if (count > (1u << 20))
        InvalidMetafile();
    const auto bytes = r.Bytes(offString, size_t(count) * (wide ? 2 : 1));
    const std::u32string text =
        wide ? Utf16(bytes) : DecodeCharset(bytes.data(), bytes.size(), player.DC().Font.CharSet);
    std::vector<double> dx;
    if (offDx != 0 && offDx < r.Size()) {
        // ETO_PDY (0x2000) stores an x and a y advance per character.
        const size_t step = (options & 0x2000) ? 8 : 4;
        const size_t n = std::min<size_t>(count, (r.Size() - offDx) / step);
        for (size_t i = 0; i < n; ++i)
            dx.push_back(r.I32(offDx + step * i));
    }
    player.TextOut(x, y, text, dx, options, &rect);
}

// The source rectangle at (xs, ys), ws x hs pixels.
TRect Source(int32_t xs, int32_t ys, int32_t ws, int32_t hs)
{
    return TRect{xs, ys, int32_t(int64_t(xs) + ws), int32_t(int64_t(ys) + hs)};
}

// Gradient fills of rectangles (modes 0 and 1); triangles take the mean colour.
void GradientFill(const TRecordBytes& r, TMetafilePlayer& player)
{
    const uint32_t vertices = r.U32(24), shapes = r.U32(28), mode = r.U32(32);
    r.NeedItems(36, vertices, 16);
    const size_t shapesAt = 36 + 16 * size_t(vertices);
    auto vertex = [&](uint32_t i, double& x, double& y, double rgb[3]) {
        if (i >= vertices)
            InvalidMetafile();
        const size_t a = 36 + 16 * size_t(i);
        x = r.I32(a);
        y = r.I32(a + 4);
        for (int k = 0; k < 3; ++k)
            rgb[k] = r.U16(a + 8 + 2 * size_t(k)) / 256.0;
    };
    TMetafileBrush saved = player.DC().Brush;
    const TMetafilePen pen = player.DC().Pen;
    player.DC().Pen.Style = 5;
    if (mode == 2) {
        r.NeedItems(shapesAt, shapes, 12);
        for (uint32_t s = 0; s < shapes; ++s) {
            TPolygonD tri;
            double sum[3] = {0, 0, 0};
            for (int k = 0; k < 3; ++k) {
                double x, y, rgb[3];
                vertex(r.U32(shapesAt + 12 * size_t(s) + 4 * size_t(k)), x, y, rgb);
                tri.push_back({x, y});
                for (int c = 0; c < 3; ++c)
                    sum[c] += rgb[c] / 3;
            }
            player.DC().Brush = {0, Color32(uint8_t(sum[0]), uint8_t(sum[1]), uint8_t(sum[2])), 0, nullptr};
            player.Polygons({tri});
        }
    } else {
        r.NeedItems(shapesAt, shapes, 8);
        for (uint32_t s = 0; s < shapes; ++s) {
            double x0, y0, x1, y1, c0[3], c1[3];
            vertex(r.U32(shapesAt + 8 * size_t(s)), x0, y0, c0);
            vertex(r.U32(shapesAt + 8 * size_t(s) + 4), x1, y1, c1);
            const double span = mode == 0 ? x1 - x0 : y1 - y0;
            const TPointD d0 = player.ToDevice(x0, y0), d1 = player.ToDevice(x1, y1);
            const double pixels = std::fabs(mode == 0 ? d1.X - d0.X : d1.Y - d0.Y);
            const int steps = std::isnan(pixels) ? 1 : static_cast<int>(std::clamp(pixels, 1.0, 1024.0));
            for (int i = 0; i < steps; ++i) {
                const double t = (i + 0.5) / steps;
                const double a = (mode == 0 ? x0 : y0) + span * i / steps, b = (mode == 0 ? x0 : y0) + span * (i + 1) / steps;
                auto mix = [&](int c) { return static_cast<uint8_t>(std::clamp(c0[c] + (c1[c] - c0[c]) * t, 0.0, 255.0)); };
                player.DC().Brush = {0, Color32(mix(0), mix(1), mix(2)), 0, nullptr};
                if (mode == 0)
                    player.Polygons({{{a, y0}, {b, y0}, {b, y1}, {a, y1}}});
                else
                    player.Polygons({{{x0, a}, {x1, a}, {x1, b}, {x0, b}}});
            }
        }
    }
    player.DC().Brush = saved;
    player.DC().Pen = pen;
}

} // namespace

TRecordHead EmfRecordHead(std::span<const uint8_t> file, size_t offset)
{
    // A head cut short by the end refuses the file as any field outside does.
    const TRecordBytes head(file.subspan(offset));
    const uint32_t size = head.U32(4);
    if (size < 8 || size % 4 != 0 || size > file.size() - offset)
        InvalidMetafile();
    return {head.U32(0), size};
}

void PlayEmfRecords(std::span<const uint8_t> file, TMetafilePlayer& player, bool& sawEmfPlus)
{
    TDeviceContext& dc = player.DC();
    size_t offset = 0;
    while (offset < file.size()) {
        const TRecordHead head = EmfRecordHead(file, offset);
        const uint32_t type = head.Kind;
        const TRecordBytes r(file.subspan(offset, head.Bytes));
        offset += head.Bytes;
        switch (type) {
        case 1: break; // header, read by TMetafile
        case kEmfEndRecord: return;
        case 2:
        case 85: player.PolyBezier(FigurePoints(r, type), false); break;
        case 3:
        case 86: player.Polygons({FigurePoints(r, type)}); break;
        case 4:
        case 87: player.Polyline(FigurePoints(r, type), false); break;
        case 5:
        case 88: player.PolyBezier(FigurePoints(r, type), true); break;
        case 6:
        case 89: player.Polyline(FigurePoints(r, type), true); break;
        case 7:
        case 90: player.Polylines(PolyPoints(r, HasSmallPoints(type))); break;
        case 8:
        case 91: player.Polygons(PolyPoints(r, HasSmallPoints(type))); break;
        case 56:
        case 92: {
            // Point types: 6 move, 2 line, 4 Bézier; bit 1 closes the figure.
            const uint32_t count = r.U32(24);
            const TPolygonD points = FigurePoints(r, type);
            const size_t typesAt = 28 + size_t(count) * PointBytes(HasSmallPoints(type));
            r.NeedItems(typesAt, count, 1);
            for (size_t i = 0; i < count; ++i) {
                const uint8_t kind = r.U8(typesAt + i);
                if ((kind & 6) == 6) {
                    player.MoveTo(points[i].X, points[i].Y);
                } else if ((kind & 6) == 4 && i + 2 < count) {
                    player.PolyBezier({points[i], points[i + 1], points[i + 2]}, true);
                    i += 2;
                } else {
                    player.LineTo(points[i].X, points[i].Y);
                }
                if (r.U8(typesAt + std::min<size_t>(i, count - 1)) & 1)
                    player.CloseFigure();
            }
            break;
        }
        case 9: player.SetWindowExt(r.I32(8), r.I32(12)); break;
        case 10: player.SetWindowOrg(r.I32(8), r.I32(12)); break;
        case 11: player.SetViewportExt(r.I32(8), r.I32(12)); break;
        case 12: player.SetViewportOrg(r.I32(8), r.I32(12)); break;
        case 15: player.SetPixel(r.I32(8), r.I32(12), ColorFromRef(r.U32(16))); break;
        case 17: player.SetMapMode(r.I32(8)); break;
        case 18: dc.OpaqueBack = r.U32(8) == 2; break;
        case 19: dc.Winding = r.U32(8) == 2; break;
        case 20: dc.Rop2 = static_cast<int>(std::clamp<uint32_t>(r.U32(8), 1, 16)); break;
        case 21: dc.StretchMode = r.I32(8); break;
        case 22: dc.TextAlign = r.U32(8); break;
        case 24: dc.TextColor = ColorFromRef(r.U32(8)); break;
        case 25: dc.BackColor = ColorFromRef(r.U32(8)); break;
        case 26: player.OffsetClip(r.I32(8), r.I32(12)); break;
        case 27: player.MoveTo(r.I32(8), r.I32(12)); break;
        case 29: player.ExcludeClipRect(r.I32(8), r.I32(12), r.I32(16), r.I32(20)); break;
        case 30: player.IntersectClipRect(r.I32(8), r.I32(12), r.I32(16), r.I32(20)); break;
        case 31:
        case 32: {
            const double xn = r.I32(8), xd = r.I32(12), yn = r.I32(16), yd = r.I32(20);
            if (xd == 0 || yd == 0)
                break;
            if (type == 31)
                player.SetViewportExt(dc.ViewportExt.X * xn / xd, dc.ViewportExt.Y * yn / yd);
            else
                player.SetWindowExt(dc.WindowExt.X * xn / xd, dc.WindowExt.Y * yn / yd);
            break;
        }
        case 33: player.SaveDC(); break;
        case 34: player.RestoreDC(r.I32(8)); break;
        case 35: player.SetWorldTransform(ReadXform(r, 8)); break;
        case 36: player.ModifyWorldTransform(ReadXform(r, 8), static_cast<int>(r.U32(32))); break;
        case 37: player.SelectObject(r.U32(8)); break;
        case 40: player.DeleteObject(r.U32(8)); break;
        case 38:
            player.PutObject(r.U32(8), PenObject(r.U32(12), std::abs(double(r.I32(16))), ColorFromRef(r.U32(24))));
            break;
        case 95: {
            const uint32_t style = r.U32(28);
            TMetafileObject o = PenObject(style, r.U32(32), ColorFromRef(r.U32(40)));
            o.Pen.Geometric = (style & 0xF0000) == 0x10000;
            if (r.U32(36) == 1) // a null brush draws nothing
                o.Pen.Style = 5;
            const uint32_t entries = r.U32(48);
            if (o.Pen.Style == 7) {
                r.NeedItems(52, entries, 4);
                for (uint32_t i = 0; i < entries && i < 64; ++i)
                    o.Pen.UserDashes.push_back(r.U32(52 + 4 * size_t(i)));
            }
            player.PutObject(r.U32(8), std::move(o));
            break;
        }
        case 39:
            player.PutObject(r.U32(8), BrushObject(static_cast<int>(r.U32(12)), ColorFromRef(r.U32(16)),
                                                   static_cast<int>(r.U32(20))));
            break;
        case 93:
        case 94: {
            TMetafileObject o;
            o.ObjectKind = TMetafileObject::Kind::Brush;
            o.Brush.Style = 5;
            auto image = RecordDib(r, 16, r.U32(12), player);
            if (image && type == 93) {
                auto mono = std::make_shared<TPatternImage>(*image);
                mono->Monochrome = true;
                image = mono;
            }
            o.Brush.Pattern = image;
            if (!image || image->Pixels.empty())
                o.Brush.Style = 1;
            player.PutObject(r.U32(8), std::move(o));
            break;
        }
        case 82: {
            TMetafileFont f = ReadFontFields(r, 12, true);
            std::u32string face = Utf16(r.Bytes(40, std::min<size_t>(64, r.Size() > 40 ? r.Size() - 40 : 0)));
            face.resize(std::find(face.begin(), face.end(), U'\0') - face.begin());
            f.Face = Utf8(face);
            player.PutObject(r.U32(8), FontObject(std::move(f)));
            break;
        }
        case 49: player.PutObject(r.U32(8), PaletteObject(r, 16, r.U16(14))); break;
        case 41: {
            // Angle arc: a line to the arc's start, then the arc.
            const double cx = r.I32(8), cy = r.I32(12), radius = r.U32(16);
            const double start = r.F32(20) * 3.14159265358979 / 180, sweep = r.F32(24) * 3.14159265358979 / 180;
            if (!std::isfinite(start) || !std::isfinite(sweep) || std::fabs(sweep) > 1e4)
                break;
            const int n = std::clamp(static_cast<int>(std::fabs(sweep) * 16), 2, 1024);
            TPolygonD points;
            for (int i = 0; i <= n; ++i) {
                const double a = start + sweep * i / n;
                points.push_back({cx + radius * std::cos(a), cy - radius * std::sin(a)});
            }
            player.Polyline(points, true);
            break;
        }
        case 42: player.Ellipse(r.I32(8), r.I32(12), r.I32(16), r.I32(20)); break;
        case 43: player.Rectangle(r.I32(8), r.I32(12), r.I32(16), r.I32(20)); break;
        case 44: player.RoundRect(r.I32(8), r.I32(12), r.I32(16), r.I32(20), r.I32(24), r.I32(28)); break;
        case 45:
        case 46:
        case 47:
        case 55:
            player.ArcShape(type == 45 ? 0 : type == 46 ? 1 : type == 47 ? 2 : 3, r.I32(8), r.I32(12), r.I32(16),
                            r.I32(20), r.I32(24), r.I32(28), r.I32(32), r.I32(36));
            break;
        case 54: player.LineTo(r.I32(8), r.I32(12)); break;
        case 57: dc.ArcClockwise = r.U32(8) == 2; break;
        case 58: dc.MiterLimit = std::clamp<double>(r.U32(8), 1, 1000); break;
        case 59: player.BeginPath(); break;
        case 60: player.EndPath(); break;
        case 61: player.CloseFigure(); break;
        case 62: player.FillPath(); break;
        case 63: player.StrokeAndFillPath(); break;
        case 64: player.StrokePath(); break;
        case 67: player.SelectClipPath(static_cast<int>(r.U32(8))); break;
        case 68: player.AbortPath(); break;
        case 70:
            if (r.Size() >= 16 && r.U32(12) == 0x2B464D45)
                sawEmfPlus = true;
            break;
        case 71: {
            const TMetafileObject* brush = player.Object(r.U32(28));
            if (brush && brush->ObjectKind == TMetafileObject::Kind::Brush)
                player.FillRegion(ReadRegion(r, 32, r.U32(24)), false, TMetafileBrush(brush->Brush));
            else if (r.U32(28) & 0x80000000u) {
                const TMetafileBrush saved = dc.Brush;
                player.SelectObject(r.U32(28));
                player.FillRegion(ReadRegion(r, 32, r.U32(24)), false, TMetafileBrush(dc.Brush));
                dc.Brush = saved;
            }
            break;
        }
        case 72: {
            const TMetafileObject* brush = player.Object(r.U32(28));
            if (brush && brush->ObjectKind == TMetafileObject::Kind::Brush)
                player.FrameRegion(ReadRegion(r, 40, r.U32(24)), false, TMetafileBrush(brush->Brush), r.I32(32),
                                   r.I32(36));
            break;
        }
        case 73: player.InvertRegion(ReadRegion(r, 28, r.U32(24)), false); break;
        case 74: player.FillRegion(ReadRegion(r, 28, r.U32(24)), false, TMetafileBrush(dc.Brush)); break;
        case 75: player.SelectClipRects(ReadRegion(r, 16, r.U32(8)), false, static_cast<int>(r.U32(12))); break;
        case 76:
        case 77:
        case 78:
        case 116: {
            const double xd = r.I32(24), yd = r.I32(28), wd = r.I32(32), hd = r.I32(36);
            const uint32_t rop = r.U32(40);
            const int32_t xs = r.I32(44), ys = r.I32(48);
            const auto image = RecordDib(r, 84, r.U32(80), player, true);
            int32_t ws = static_cast<int32_t>(wd), hs = static_cast<int32_t>(hd);
            if (type != 76 && type != 78 && image) {
                ws = r.I32(100);
                hs = r.I32(104);
            }
            if (type == 116)
                player.BlitPicture(image, Source(xs, ys, ws, hs), xd, yd, wd, hd, 0x00CC0020, false, 255, true,
                                   ColorFromRef(rop));
            else
                player.BlitPicture(image, Source(xs, ys, ws, hs), xd, yd, wd, hd, rop);
            break;
        }
        case 114: {
            const double xd = r.I32(24), yd = r.I32(28), wd = r.I32(32), hd = r.I32(36);
            const uint8_t constant = r.U8(42), format = r.U8(43);
            const auto image = RecordDib(r, 84, r.U32(80), player);
            if (!image || image->Pixels.empty()) {
                player.NoteSkipped();
                break;
            }
            // Without a per-pixel alpha the constant alone blends.
            auto blended = image;
            if (!(format & 1)) {
                auto copy = std::make_shared<TPatternImage>(*image);
                for (TColor32& c : copy->Pixels)
                    c |= 0xFF000000;
                blended = copy;
            }
            player.BlitPicture(blended, Source(r.I32(44), r.I32(48), r.I32(100), r.I32(104)), xd, yd, wd, hd,
                               0x00CC0020, true, constant);
            break;
        }
        case 80:
        case 81: {
            const double xd = r.I32(24), yd = r.I32(28);
            const int32_t xs = r.I32(32), ys = r.I32(36), ws = r.I32(40), hs = r.I32(44);
            const auto image = RecordDib(r, 48, r.U32(64), player, true);
            if (!image || image->Empty()) {
                player.NoteSkipped();
                break;
            }
            const double wd = type == 81 ? r.I32(72) : ws, hd = type == 81 ? r.I32(76) : hs;
            const uint32_t rop = type == 81 ? r.U32(68) : 0x00CC0020;
            // Source rows count from the bottom of a bottom-up bitmap.
            const int32_t top = static_cast<int32_t>(std::clamp<int64_t>(int64_t(image->Height) - ys - hs, INT32_MIN, INT32_MAX));
            player.BlitPicture(image, Source(xs, top, ws, hs), xd, yd, wd, hd, rop);
            break;
        }
        case 83:
        case 84: ExtTextOut(r, type == 84, player); break;
        case 108: {
            const double x = r.I32(8), y = r.I32(12);
            const uint32_t count = r.U32(16), options = r.U32(20);
            size_t at = 36;
            TRect rect;
            if (!(options & 0x100)) {
                rect = TRect{r.I32(36), r.I32(40), r.I32(44), r.I32(48)};
                at = 52;
            }
            if (count > (1u << 20))
                InvalidMetafile();
            const bool small = options & 0x200;
            const auto bytes = r.Bytes(at, size_t(count) * (small ? 1 : 2));
            player.TextOut(x, y, small ? DecodeCharset(bytes.data(), bytes.size(), dc.Font.CharSet) : Utf16(bytes), {},
                           options & 6, (options & 0x100) ? nullptr : &rect);
            break;
        }
        case 118: GradientFill(r, player); break;
        default: break; // palettes, colour management, escapes and the rest draw nothing here
        }
    }
}

} // namespace palvex
