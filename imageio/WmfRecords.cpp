// The records of a Windows metafile, played onto a TMetafilePlayer. WMF
// parameters are 16-bit words stored last parameter first.
#include <algorithm>
#include <cstring>

#include "imageio/MetafilePlayer.h"
#include "imageio/MetafileText.h"

namespace palvex {

namespace {

// One record's parameters, in words.
class Params {
public:
    Params(std::span<const uint8_t> bytes, uint16_t function) : m_bytes(bytes), m_function(function) {}

    int16_t operator[](size_t i) const { return m_bytes.I16(2 * i); }
    uint16_t U(size_t i) const { return m_bytes.U16(2 * i); }
    uint32_t U32(size_t i) const { return m_bytes.U32(2 * i); }
    size_t Words() const { return m_bytes.Size() / 2; }
    const TRecordBytes& Bytes() const { return m_bytes; }
    // Blit records without a bitmap are as long as the function's high byte says.
    bool HasBitmap() const { return Words() != static_cast<size_t>(m_function >> 8); }

private:
    TRecordBytes m_bytes;
    uint16_t m_function;
};

TPolygonD Points(const Params& p, size_t first, size_t count)
{
    p.Bytes().NeedItems(2 * first, count, 4);
    TPolygonD points(count);
    for (size_t i = 0; i < count; ++i)
        points[i] = {double(p[first + 2 * i]), double(p[first + 2 * i + 1])};
    return points;
}

TMetafileFont ReadFont(const TRecordBytes& b)
{
    TMetafileFont f = ReadFontFields(b, 0, false);
    // The face name may be cut short by the record.
    const size_t room = b.Size() > 18 ? std::min<size_t>(32, b.Size() - 18) : 0;
    const auto name = b.Bytes(18, room);
    f.Face = Utf8(DecodeCharset(name.data(), std::find(name.begin(), name.end(), 0) - name.begin(), 0));
    return f;
}

// A Region16 object as its rectangles (logical units). Writers disagree on
// the scan layout; scans that do not fit the record leave the bounding box.
std::vector<TRect> ReadRegion(const TRecordBytes& b)
{
    // Some writers leave the object empty: an empty region, still an object.
    if (b.Size() < 22)
        return {};
    const TRect bounds{b.I16(14), b.I16(16), b.I16(18), b.I16(20)};
    const uint16_t scanCount = b.U16(10);
    std::vector<TRect> rects;
    size_t at = 22;
    for (uint16_t s = 0; s < scanCount; ++s) {
        if (at + 6 > b.Size())
            return {bounds};
        const uint16_t count = b.U16(at);
        const int16_t top = b.I16(at + 2), bottom = b.I16(at + 4);
        if (count % 2 != 0 || at + 8 + 2 * size_t(count) > b.Size())
            return {bounds};
        for (uint16_t k = 0; k < count; k += 2)
            rects.push_back(TRect{b.I16(at + 6 + 2 * size_t(k)), top, b.I16(at + 8 + 2 * size_t(k)), bottom});
        at += 6 + 2 * size_t(count) + 2;
    }
    if (scanCount == 0)
        rects.push_back(bounds);
    return rects;
}

// A Bitmap16 (device-dependent, one plane, rows top-down): monochrome, or
// 24 and 32 bits blue first.
std::shared_ptr<TPatternImage> ReadBitmap16(const TRecordBytes& b, size_t at, size_t bitsAt)
{
    const int16_t width = b.I16(at + 2), height = b.I16(at + 4), widthBytes = b.I16(at + 6);
    const uint8_t planes = b.U8(at + 8), bitsPixel = b.U8(at + 9);
    if (width <= 0 || height <= 0 || planes != 1 || (bitsPixel != 1 && bitsPixel != 24 && bitsPixel != 32) ||
        widthBytes < (int32_t(width) * bitsPixel + 7) / 8 || bitsAt > b.Size() ||
        uint64_t(widthBytes) * uint64_t(height) > b.Size() - bitsAt)
        return nullptr;
    auto image = std::make_shared<TPatternImage>();
    image->Width = width;
    image->Height = height;
    image->Monochrome = bitsPixel == 1;
    image->Pixels.resize(size_t(width) * size_t(height));
    for (int32_t y = 0; y < height; ++y) {
        const size_t row = bitsAt + size_t(y) * size_t(widthBytes);
        for (int32_t x = 0; x < width; ++x) {
            TColor32 c;
            if (bitsPixel == 1) {
                c = (b.U8(row + size_t(x / 8)) >> (7 - x % 8)) & 1 ? 0xFFFFFFFF : 0xFF000000;
            } else {
                const size_t p = row + size_t(x) * (bitsPixel / 8);
                c = Color32(b.U8(p + 2), b.U8(p + 1), b.U8(p));
            }
            image->Pixels[size_t(y) * size_t(width) + size_t(x)] = c;
        }
    }
    return image;
}

// A packed DIB (header, colours, bits) from byte at to the end of the record.
std::shared_ptr<TPatternImage> PackedDib(const TRecordBytes& b, size_t at, uint32_t usage, TMetafilePlayer& player,
                                         bool rowsAsDrawn = false)
{
    const uint32_t headerSize = b.U32(at);
    if (headerSize < 12 || headerSize > b.Size() - at)
        InvalidMetafile();
    // Where the bits start: after the header, the masks and the colour table.
    const uint16_t bitCount = headerSize == 12 ? b.U16(at + 10) : b.U16(at + 14);
    const uint32_t compression = headerSize >= 20 ? b.U32(at + 16) : 0;
    const uint32_t used = headerSize >= 36 ? b.U32(at + 32) : 0;
    // A bit count of 0 (a whole JPEG or PNG) has no colour table.
    size_t colours = bitCount >= 1 && bitCount <= 8
                         ? (used ? std::min<size_t>(used, size_t(1) << bitCount) : size_t(1) << bitCount)
                         : 0;
    size_t table = colours * (usage == 1 ? 2 : headerSize == 12 ? 3 : 4);
    if (headerSize == 40 && (compression == 3 || compression == 6))
        table += compression == 6 ? 16 : 12;
    if (bitCount > 8 && used && headerSize >= 40)
        table += size_t(std::min<uint32_t>(used, 256)) * 4;
    const size_t infoSize = std::min<size_t>(b.Size() - at, headerSize + table);
    return DecodeMetafileDib(b.Bytes(at, infoSize), b.Bytes(at + infoSize, b.Size() - at - infoSize), usage,
                             player.DC().Palette, rowsAsDrawn);
}

// A source rectangle in the (already top-down) rows of a picture.
TRect Source(double xs, double ys, double ws, double hs)
{
    return TRect{int32_t(xs), int32_t(ys), int32_t(xs + ws), int32_t(ys + hs)};
}

// BitBlt (0x0922 with a Bitmap16, 0x0940 with a DIB) and StretchBlt (0x0B23,
// 0x0B41): rop, [srcHeight, srcWidth,] ySrc, xSrc, [reserved,] destHeight,
// destWidth, yDest, xDest, [bitmap]. A BitBlt's source is as large as its
// destination; without a bitmap the record fills with the brush (and has the
// reserved word).
void PlayBlit(const Params& p, uint16_t function, TMetafilePlayer& player)
{
    const bool stretch = function == 0x0B23 || function == 0x0B41;
    const size_t src = stretch ? 4 : 2;
    const size_t dest = src + (p.HasBitmap() ? 2 : 3);
    if (!p.HasBitmap()) {
        player.PatBlt(p[dest + 3], p[dest + 2], p[dest + 1], p[dest], p.U32(0));
        return;
    }
    const size_t bitmapAt = 2 * (dest + 4);
    auto image = function == 0x0940 || function == 0x0B41 ? PackedDib(p.Bytes(), bitmapAt, 0, player, true)
                                                          : ReadBitmap16(p.Bytes(), bitmapAt, bitmapAt + 10);
    if (!image)
        image = std::make_shared<TPatternImage>();
    const size_t srcSize = stretch ? 2 : dest;
    player.BlitPicture(image, Source(p[src + 1], p[src], p[srcSize + 1], p[srcSize]), p[dest + 3], p[dest + 2],
                       p[dest + 1], p[dest], p.U32(0));
}

} // namespace

TRecordHead WmfRecordHead(std::span<const uint8_t> records, size_t offset)
{
    // A head cut short by the end refuses the file as any field outside does.
    const TRecordBytes head(records.subspan(offset));
    const uint32_t words = head.U32(0);
    if (words < 3 || words > (records.size() - offset) / 2)
        InvalidMetafile();
    return {head.U16(4), size_t(words) * 2};
}

void PlayWmfRecords(std::span<const uint8_t> records, TMetafilePlayer& player)
{
    TDeviceContext& dc = player.DC();
    size_t offset = 0;
    while (offset < records.size()) {
        const TRecordHead head = WmfRecordHead(records, offset);
        const uint16_t function = uint16_t(head.Kind);
        const Params p(records.subspan(offset + 6, head.Bytes - 6), function);
        offset += head.Bytes;
        switch (function) {
        case kWmfEndRecord: return;
        case 0x0102: dc.OpaqueBack = p[0] == 2; break;
        case 0x0103: player.SetMapMode(p[0]); break;
        case 0x0104: dc.Rop2 = std::clamp<int>(p[0], 1, 16); break;
        case 0x0106: dc.Winding = p[0] == 2; break;
        case 0x0107: dc.StretchMode = p[0]; break;
        case 0x0108: dc.CharExtra = p[0]; break;
        case 0x012E: dc.TextAlign = p.U(0); break;
        case 0x0201: dc.BackColor = ColorFromRef(p.U32(0)); break;
        case 0x0209: dc.TextColor = ColorFromRef(p.U32(0)); break;
        case 0x020B: player.SetWindowOrg(p[1], p[0]); break;
        case 0x020C: player.SetWindowExt(p[1], p[0]); break;
        case 0x020D: player.SetViewportOrg(p[1], p[0]); break;
        case 0x020E: player.SetViewportExt(p[1], p[0]); break;
        case 0x020F: player.SetWindowOrg(dc.WindowOrg.X + p[1], dc.WindowOrg.Y + p[0]); break;
        case 0x0410:
            if (p[0] != 0 && p[2] != 0)
                player.SetWindowExt(dc.WindowExt.X * p[3] / p[2], dc.WindowExt.Y * p[1] / p[0]);
            break;
        case 0x0213: player.LineTo(p[1], p[0]); break;
        case 0x0214: player.MoveTo(p[1], p[0]); break;
        case 0x0324: player.Polygons({Points(p, 1, uint16_t(p[0]))}); break;
        case 0x0325: player.Polyline(Points(p, 1, uint16_t(p[0])), false); break;
        case 0x0538: {
            const size_t polys = p.U(0);
            p.Bytes().NeedItems(2, polys, 2);
            std::vector<TPolygonD> list;
            size_t at = 1 + polys;
            for (size_t i = 0; i < polys; ++i) {
                const size_t n = p.U(1 + i);
                list.push_back(Points(p, at, n));
                at += 2 * n;
            }
            player.Polygons(list);
            break;
        }
        case 0x041B: player.Rectangle(p[3], p[2], p[1], p[0]); break;
        case 0x061C: player.RoundRect(p[5], p[4], p[3], p[2], p[1], p[0]); break;
        case 0x0418: player.Ellipse(p[3], p[2], p[1], p[0]); break;
        case 0x0817:
        case 0x0830:
        case 0x081A:
            player.ArcShape(function == 0x0817 ? 0 : function == 0x0830 ? 1 : 2, p[7], p[6], p[5], p[4], p[3], p[2],
                            p[1], p[0]);
            break;
        case 0x041F: player.SetPixel(p[3], p[2], ColorFromRef(p.U32(0))); break;
        case 0x0415: player.ExcludeClipRect(p[3], p[2], p[1], p[0]); break;
        case 0x0416: player.IntersectClipRect(p[3], p[2], p[1], p[0]); break;
        case 0x0220: player.OffsetClip(p[1], p[0]); break;
        case 0x001E: player.SaveDC(); break;
        case 0x0127: player.RestoreDC(p[0]); break;
        case 0x012D: player.SelectObject(p.U(0)); break;
        case 0x01F0: player.DeleteObject(p.U(0)); break;
        case 0x02FA: player.AddObject(PenObject(p.U(0), std::abs(p[1]), ColorFromRef(p.U32(3)))); break;
        case 0x02FC: player.AddObject(BrushObject(p.U(0), ColorFromRef(p.U32(1)), p.U(3))); break;
        case 0x02FB: player.AddObject(FontObject(ReadFont(p.Bytes()))); break;
        case 0x00F7: player.AddObject(PaletteObject(p.Bytes(), 4, p.U(1))); break;
        case 0x06FF: player.AddObject(RegionObject(ReadRegion(p.Bytes()))); break;
        case 0x0142:
        case 0x01F9: {
            TMetafileObject o;
            o.ObjectKind = TMetafileObject::Kind::Brush;
            o.Brush.Style = 3;
            // A pattern-style brush carries a Bitmap16, the others a DIB.
            if (function == 0x0142 && p.U(0) != 3)
                o.Brush.Pattern = PackedDib(p.Bytes(), 4, p.U(1), player);
            else
                o.Brush.Pattern = function == 0x0142 ? ReadBitmap16(p.Bytes(), 4, 14) : ReadBitmap16(p.Bytes(), 0, 32);
            if (!o.Brush.Pattern || o.Brush.Pattern->Pixels.empty())
                o.Brush.Style = 1;
            player.AddObject(std::move(o));
            break;
        }
        case 0x0228:
        case 0x012B:
        case 0x0429: {
            const TMetafileObject* region = player.Object(p.U(0));
            if (!region || region->ObjectKind != TMetafileObject::Kind::Region)
                break;
            const std::vector<TRect> rects = region->Region;
            if (function == 0x012B) {
                player.FillRegion(rects, true, dc.Brush);
                break;
            }
            const TMetafileObject* brush = player.Object(p.U(1));
            if (!brush || brush->ObjectKind != TMetafileObject::Kind::Brush)
                break;
            const TMetafileBrush b = brush->Brush;
            if (function == 0x0228)
                player.FillRegion(rects, true, b);
            else
                player.FrameRegion(rects, true, b, p[3], p[2]);
            break;
        }
        case 0x012A: {
            const TMetafileObject* region = player.Object(p.U(0));
            if (region && region->ObjectKind == TMetafileObject::Kind::Region)
                player.InvertRegion(std::vector<TRect>(region->Region), true);
            break;
        }
        case 0x012C: {
            const TMetafileObject* region = player.Object(p.U(0));
            if (region && region->ObjectKind == TMetafileObject::Kind::Region)
                player.SelectClipRects(std::vector<TRect>(region->Region), true, 5);
            else
                player.SelectClipRects({}, true, 5);
            break;
        }
        case 0x0521: {
            const size_t count = p.U(0);
            const auto text = p.Bytes().Bytes(2, count);
            const size_t at = 1 + (count + 1) / 2;
            player.TextOut(p[at + 1], p[at], DecodeCharset(text.data(), text.size(), dc.Font.CharSet), {}, 0, nullptr);
            break;
        }
        case 0x0A32: {
            const double y = p[0], x = p[1];
            const size_t count = p.U(2);
            const uint16_t options = p.U(3);
            size_t at = 4;
            TRect rect;
            const bool hasRect = (options & 6) != 0;
            if (hasRect) {
                rect = TRect{p[4], p[5], p[6], p[7]};
                at = 8;
            }
            const auto text = p.Bytes().Bytes(2 * at, count);
            at += (count + 1) / 2;
            std::vector<double> dx;
            if (p.Words() >= at + count)
                for (size_t i = 0; i < count; ++i)
                    dx.push_back(p[at + i]);
            player.TextOut(x, y, DecodeCharset(text.data(), text.size(), dc.Font.CharSet), dx, options,
                           hasRect ? &rect : nullptr);
            break;
        }
        case 0x061D: player.PatBlt(p[5], p[4], p[3], p[2], p.U32(0)); break;
        case 0x0922:
        case 0x0940:
        case 0x0B23:
        case 0x0B41: PlayBlit(p, function, player); break;
        case 0x0F43: {
            // rop, colorUsage, srcHeight, srcWidth, ySrc, xSrc, destHeight, destWidth, yDest, xDest, DIB
            const auto image = PackedDib(p.Bytes(), 22, p.U(2), player, true);
            player.BlitPicture(image, Source(p[6], image->Height - p[5] - p[3], p[4], p[3]), p[10], p[9], p[8], p[7],
                               p.U32(0));
            break;
        }
        case 0x0D33: {
            // colorUsage, scanCount, startScan, yDib, xDib, height, width, yDest, xDest, DIB
            const auto image = PackedDib(p.Bytes(), 18, p.U(0), player, true);
            player.BlitPicture(image, Source(p[4], image->Height - p[3] - p[5], p[6], p[5]), p[8], p[7], p[6], p[5],
                               0x00CC0020);
            break;
        }
        default: break; // palettes, escapes, flood fills and the rest draw nothing here
        }
    }
}

} // namespace palvex
