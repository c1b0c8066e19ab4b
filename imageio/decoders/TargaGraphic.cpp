// The Truevision Targa reader.
#include "imageio/decoders/TargaGraphic.h"

#include <vector>

#include "imageio/decoders/Codecs.h"

namespace palvex {

PALVEX_DEFINE_GRAPHIC_CLASS(TTargaGraphic, TDecoderGraphic)

namespace {

struct TargaHeader {
    uint8_t IdLength, ColorMapType, ImageType;
    uint16_t MapFirst, MapLength;
    uint8_t MapEntryBits;
    uint16_t Width, Height;
    uint8_t PixelBits, Descriptor;
};

// Truncating, as ImageMagick does, so both readers agree bit for bit.
inline uint8_t Expand5(uint32_t v) { return static_cast<uint8_t>(v * 255 / 31); }

// A 15/16-bit value: x RRRRR GGGGG BBBBB, little-endian.
inline TColor32 Color555(uint32_t v) { return Color32(Expand5((v >> 10) & 31), Expand5((v >> 5) & 31), Expand5(v & 31)); }

TColor32 MapEntry(const uint8_t* p, int bits)
{
    switch (bits) {
    case 15:
    case 16: return Color555(p[0] | (uint32_t(p[1]) << 8));
    case 24: return Color32(p[2], p[1], p[0]);
    case 32: return Color32(p[2], p[1], p[0], p[3]);
    default: return Color32(p[0], p[0], p[0]); // 8-bit gray maps
    }
}

} // namespace

void TTargaGraphic::Decode(std::span<const uint8_t> data)
{
    TByteReader in(data, FormatName());
    TargaHeader h;
    h.IdLength = in.U8();
    h.ColorMapType = in.U8();
    h.ImageType = in.U8();
    h.MapFirst = in.U16LE();
    h.MapLength = in.U16LE();
    h.MapEntryBits = in.U8();
    in.Skip(4); // origin on screen
    h.Width = in.U16LE();
    h.Height = in.U16LE();
    h.PixelBits = in.U8();
    h.Descriptor = in.U8();

    const bool rle = h.ImageType >= 9 && h.ImageType <= 11;
    const int kind = rle ? h.ImageType - 8 : h.ImageType; // 1 mapped, 2 true colour, 3 gray
    if (h.ImageType == 32 || h.ImageType == 33)
        Unsupported("Huffman compression");
    if (kind < 1 || kind > 3 || h.ColorMapType > 1 || (h.Descriptor & 0xC0) != 0)
        InvalidFormat();
    if (kind == 1 && (h.ColorMapType != 1 || (h.PixelBits != 8 && h.PixelBits != 16)))
        InvalidFormat();
    if (kind == 2 && h.PixelBits != 15 && h.PixelBits != 16 && h.PixelBits != 24 && h.PixelBits != 32)
        InvalidFormat();
    if (kind == 3 && h.PixelBits != 8 && h.PixelBits != 16)
        InvalidFormat();
    if (h.ColorMapType == 1 && h.MapEntryBits != 8 && h.MapEntryBits != 15 && h.MapEntryBits != 16 &&
        h.MapEntryBits != 24 && h.MapEntryBits != 32)
        InvalidPalette();
    if (!IsPictureSizeAllowed(h.Width, h.Height))
        InvalidFormat();

    in.Skip(h.IdLength);
    std::vector<TColor32> map;
    bool mapAlpha = false;
    if (h.ColorMapType == 1) {
        const size_t entryBytes = (h.MapEntryBits + 7u) / 8u;
        const auto bytes = in.Bytes(entryBytes * h.MapLength);
        // Only a colour-mapped picture uses its map; others merely skip it.
        if (kind == 1) {
            map.resize(size_t(h.MapFirst) + h.MapLength, Color32(0, 0, 0));
            for (size_t i = 0; i < h.MapLength; ++i)
                map[h.MapFirst + i] = MapEntry(bytes.data() + i * entryBytes, h.MapEntryBits);
            mapAlpha = h.MapEntryBits == 32;
        }
    }

    const size_t pixelBytes = (h.PixelBits + 7u) / 8u;
    const size_t pixels = size_t(h.Width) * h.Height; // within 2^28 by the check above
    std::vector<uint8_t> raw;
    std::span<const uint8_t> source;
    if (rle) {
        // A packet of 1 + pixelBytes bytes gives at most 128 pixels: data too short
        // to fill the picture is refused before the picture's memory is taken.
        if (pixels / 128 > in.Remaining() / (1 + pixelBytes) + 1)
            ReadError();
        raw.resize(pixels * pixelBytes);
        // The whole picture is one packet stream; a packet may run past the
        // end of a row, so it is decoded before rows are placed. A last
        // packet longer than the picture is cut, as other readers do.
        DecodeTargaRLE(in, pixelBytes, raw);
        source = raw;
    } else {
        source = in.Bytes(pixels * pixelBytes);
    }

    // 16-bit pixels carry a one-bit alpha when the descriptor declares
    // attribute bits. A picture whose alpha is zero everywhere is a writer
    // that left the byte or bit unset, and is shown opaque.
    const bool attributeBit = kind == 2 && pixelBytes == 2 && (h.Descriptor & 0x0F) != 0;
    bool alpha = (kind == 2 && h.PixelBits == 32) || (kind == 3 && h.PixelBits == 16) || mapAlpha || attributeBit;
    if (alpha) {
        bool anyAlpha = false;
        if (kind == 1) {
            for (const TColor32 c : map)
                anyAlpha |= AlphaComponent(c) != 0;
        } else {
            const size_t alphaByte = pixelBytes - 1;
            const uint8_t mask = attributeBit ? 0x80 : 0xFF;
            for (size_t i = alphaByte; i < source.size() && !anyAlpha; i += pixelBytes)
                anyAlpha = (source[i] & mask) != 0;
        }
        alpha = anyAlpha;
    }
    AllocatePicture(h.Width, h.Height, alpha ? TPixelFormat::pf32bit : TPixelFormat::pf24bit);

    const bool topDown = (h.Descriptor & 0x20) != 0;
    const bool rightToLeft = (h.Descriptor & 0x10) != 0;
    std::vector<TColor32> row(h.Width);
    for (size_t fileRow = 0; fileRow < h.Height; ++fileRow) {
        const uint8_t* p = source.data() + fileRow * h.Width * pixelBytes;
        for (size_t i = 0; i < h.Width; ++i, p += pixelBytes) {
            TColor32 c;
            switch (kind) {
            case 1: c = PaletteColor(map, pixelBytes == 2 ? (p[0] | (size_t(p[1]) << 8)) : p[0]); break;
            case 3: c = Color32(p[0], p[0], p[0], pixelBytes == 2 ? p[1] : 0xFF); break;
            default:
                if (pixelBytes == 2)
                    c = Color555(p[0] | (uint32_t(p[1]) << 8)) & (!alpha || (p[1] & 0x80) ? 0xFFFFFFFF : 0x00FFFFFF);
                else
                    c = Color32(p[2], p[1], p[0], pixelBytes == 4 ? p[3] : 0xFF);
                break;
            }
            row[rightToLeft ? h.Width - 1 - i : i] = c;
        }
        StoreRow32(static_cast<int32_t>(topDown ? fileRow : h.Height - 1 - fileRow), row.data());
    }
}

} // namespace palvex
