// Decoding of device-independent bitmaps, shared by the BMP and icon readers.
#include "imageio/BmpDib.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>

#include "imageio/Bitmap.h"
#include "platform/Errors.h"

namespace palvex::dib {

namespace {

[[noreturn]] void Invalid() { throw EInvalidGraphic("Bitmap image is not valid"); }
[[noreturn]] void Short() { throw EReadError(kSReadError); }

void Need(std::span<const uint8_t> data, size_t offset, size_t count)
{
    if (offset > data.size() || count > data.size() - offset)
        Short();
}

uint16_t U16(std::span<const uint8_t> d, size_t at)
{
    Need(d, at, 2);
    return static_cast<uint16_t>(d[at] | (d[at + 1] << 8));
}

uint32_t U32(std::span<const uint8_t> d, size_t at)
{
    Need(d, at, 4);
    return uint32_t(d[at]) | (uint32_t(d[at + 1]) << 8) | (uint32_t(d[at + 2]) << 16) | (uint32_t(d[at + 3]) << 24);
}

bool IsKnownHeaderSize(uint32_t size)
{
    switch (size) {
    case 12:  // OS/2 1.x core header
    case 16:  // OS/2 2.x, shortened
    case 40:  // Windows info header
    case 52:  // with red, green and blue masks
    case 56:  // with an alpha mask as well
    case 64:  // OS/2 2.x
    case 108: // V4
    case 124: // V5
        return true;
    default:
        return false;
    }
}

// One colour channel of a bit-field pixel, scaled to 0..255: narrow fields
// repeat their bits (as the 15- and 16-bit formats expand), wide ones keep
// their top eight.
struct TChannel {
    uint32_t Mask = 0;
    int Shift = 0;
    int Bits = 0;

    explicit TChannel(uint32_t mask) : Mask(mask)
    {
        if (mask != 0) {
            Shift = std::countr_zero(mask);
            Bits = std::bit_width(mask >> Shift);
        }
    }
    uint8_t Get(uint32_t pixel) const
    {
        if (Bits == 0)
            return 0;
        const uint32_t v = (pixel & Mask) >> Shift;
        if (Bits >= 8)
            return static_cast<uint8_t>(v >> (Bits - 8));
        uint32_t out = 0;
        for (int s = 8 - Bits; s > -Bits; s -= Bits)
            out |= s >= 0 ? (v << s) : (v >> -s);
        return static_cast<uint8_t>(out);
    }
};

void Allocate(TBitmap& bitmap, int32_t width, int32_t height, TPixelFormat format, std::vector<TColor32> palette)
{
    bitmap.SetSize(0, 0);
    bitmap.SetPixelFormat(format);
    bitmap.SetSize(width, height);
    bitmap.SetPalette(std::move(palette));
}

// Runs beyond the end of a row are clipped, not wrapped to the next row; a
// delta or end of line past the last row ends the picture. Pixels that no
// command sets keep palette index 0. Data that runs out before every row is
// reached is a short file; a missing end-of-bitmap after the last row is not.
size_t DecodeRle(const TDibInfo& info, std::span<const uint8_t> d, size_t p, TBitmap& bitmap)
{
    const bool rle4 = info.Compression == kBI_RLE4;
    const int64_t w = info.Width, h = info.Height;
    int64_t x = 0, y = 0;
    auto put = [&](int64_t px, uint8_t index) {
        if (px >= w || y >= h)
            return;
        uint8_t* row = bitmap.ScanLine(static_cast<int32_t>(h - 1 - y));
        if (rle4) {
            uint8_t& b = row[px >> 1];
            b = (px & 1) ? static_cast<uint8_t>((b & 0xF0) | index) : static_cast<uint8_t>((b & 0x0F) | (index << 4));
        } else {
            row[px] = index;
        }
    };
    while (y < h) {
        if (p >= d.size()) {
            if (y == h - 1 && x >= w)
                break;
            Short();
        }
        Need(d, p, 2);
        const uint8_t count = d[p], value = d[p + 1];
        p += 2;
        if (count > 0) {
            for (int i = 0; i < count && x + i < w; ++i)
                put(x + i, rle4 ? ((i & 1) ? (value & 0x0F) : (value >> 4)) : value);
            x += count;
            continue;
        }
        if (value == 0) { // end of line
            x = 0;
            ++y;
        } else if (value == 1) { // end of bitmap
            break;
        } else if (value == 2) { // delta
            Need(d, p, 2);
            x += d[p];
            y += d[p + 1];
            p += 2;
        } else { // absolute run, padded to 16 bits
            const size_t bytes = rle4 ? (size_t(value) + 1) / 2 : value;
            Need(d, p, bytes);
            for (int i = 0; i < value && x + i < w; ++i) {
                const uint8_t b = d[p + (rle4 ? size_t(i) / 2 : size_t(i))];
                put(x + i, rle4 ? ((i & 1) ? (b & 0x0F) : (b >> 4)) : b);
            }
            x += value;
            p += std::min(bytes + (bytes & 1), d.size() - p);
        }
    }
    return p;
}

} // namespace

size_t RowStride(int32_t width, int bitsPerPixel)
{
    return ((static_cast<size_t>(width) * static_cast<size_t>(bitsPerPixel) + 31) / 32) * 4;
}

size_t TDibInfo::PaletteEntries() const
{
    if (BitCount > 8)
        return 0;
    const size_t full = size_t(1) << BitCount;
    return ColorsUsed == 0 ? full : std::min<size_t>(ColorsUsed, full);
}

TDibInfo ParseInfo(std::span<const uint8_t> data, size_t offset)
{
    TDibInfo info;
    info.HeaderSize = U32(data, offset);
    if (!IsKnownHeaderSize(info.HeaderSize))
        Invalid();
    Need(data, offset, info.HeaderSize);
    int64_t height;
    if (info.HeaderSize == 12) {
        info.Width = U16(data, offset + 4);
        height = U16(data, offset + 6);
        info.Planes = U16(data, offset + 8);
        info.BitCount = U16(data, offset + 10);
        info.PaletteEntrySize = 3;
    } else {
        info.Width = static_cast<int32_t>(U32(data, offset + 4));
        const auto rawHeight = static_cast<int32_t>(U32(data, offset + 8));
        if (rawHeight == INT32_MIN)
            Invalid();
        info.TopDown = rawHeight < 0;
        height = rawHeight < 0 ? -int64_t(rawHeight) : rawHeight;
        info.Planes = U16(data, offset + 12);
        info.BitCount = U16(data, offset + 14);
        if (info.HeaderSize >= 20)
            info.Compression = U32(data, offset + 16);
        if (info.HeaderSize >= 36)
            info.ColorsUsed = U32(data, offset + 32);
        // OS/2 2.x numbers its Huffman and RLE24 compressions 3 and 4; neither is read.
        if ((info.HeaderSize == 16 || info.HeaderSize == 64) && info.Compression >= 3)
            Invalid();
    }
    info.PaletteOffset = offset + info.HeaderSize;
    if (info.UsesBitFields()) {
        if (info.HeaderSize >= 52) {
            for (int i = 0; i < 3; ++i)
                info.Masks[i] = U32(data, offset + 40 + 4 * size_t(i));
            if (info.HeaderSize >= 56)
                info.Masks[3] = U32(data, offset + 52);
        } else if (info.HeaderSize == 40) {
            const int count = info.Compression == kBI_ALPHABITFIELDS ? 4 : 3;
            for (int i = 0; i < count; ++i)
                info.Masks[i] = U32(data, info.PaletteOffset + 4 * size_t(i));
            info.PaletteOffset += 4 * size_t(count);
        }
    }

    if (info.Planes != 1 || !IsPictureSizeAllowed(info.Width, height))
        Invalid();
    info.Height = static_cast<int32_t>(height);
    const uint16_t bits = info.BitCount;
    switch (info.Compression) {
    case kBI_RGB:
        if (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
            Invalid();
        if (bits == 16) {
            info.Masks[0] = 0x7C00;
            info.Masks[1] = 0x03E0;
            info.Masks[2] = 0x001F;
            info.Masks[3] = 0;
        }
        break;
    case kBI_RLE8:
    case kBI_RLE4:
        // Run-length data is always stored bottom-up.
        if (bits != (info.Compression == kBI_RLE8 ? 8 : 4) || info.TopDown)
            Invalid();
        break;
    case kBI_BITFIELDS:
    case kBI_ALPHABITFIELDS:
        if (bits != 16 && bits != 32)
            Invalid();
        if ((info.Masks[0] | info.Masks[1] | info.Masks[2]) == 0) {
            const bool five = bits == 16;
            info.Masks[0] = five ? 0x7C00 : 0x00FF0000;
            info.Masks[1] = five ? 0x03E0 : 0x0000FF00;
            info.Masks[2] = five ? 0x001F : 0x000000FF;
        }
        if (bits == 16)
            for (uint32_t& m : info.Masks)
                m &= 0xFFFF;
        break;
    default:
        Invalid();
    }
    return info;
}

std::vector<TColor32> ReadPalette(const TDibInfo& info, std::span<const uint8_t> data, size_t limitOffset)
{
    if (info.BitCount > 8)
        return {};
    size_t count = info.PaletteEntries();
    const size_t room = limitOffset > info.PaletteOffset ? limitOffset - info.PaletteOffset : 0;
    count = std::min(count, room / info.PaletteEntrySize);
    Need(data, info.PaletteOffset, count * info.PaletteEntrySize);
    // Two-bit pictures are held as four-bit ones.
    const int heldBits = info.BitCount == 2 ? 4 : info.BitCount;
    std::vector<TColor32> palette(size_t(1) << heldBits, 0xFF000000);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* e = data.data() + info.PaletteOffset + i * info.PaletteEntrySize;
        palette[i] = Color32(e[2], e[1], e[0], 255);
    }
    return palette;
}

size_t DecodePixels(const TDibInfo& info, std::vector<TColor32> palette, std::span<const uint8_t> data,
                    size_t bitsOffset, TBitmap& bitmap)
{
    const int32_t w = info.Width, h = info.Height;
    const int bits = info.BitCount;
    if (info.Compression == kBI_RLE4 || info.Compression == kBI_RLE8) {
        Allocate(bitmap, w, h, bits == 4 ? TPixelFormat::pf4bit : TPixelFormat::pf8bit, std::move(palette));
        return DecodeRle(info, data, bitsOffset, bitmap);
    }

    // The last row may lack its padding.
    const size_t stride = RowStride(w, bits);
    const size_t lastRow = (static_cast<size_t>(w) * static_cast<size_t>(bits) + 7) / 8;
    size_t total = 0;
    if (__builtin_mul_overflow(stride, static_cast<size_t>(h - 1), &total) ||
        __builtin_add_overflow(total, lastRow, &total))
        Invalid();
    Need(data, bitsOffset, total);
    auto source = [&](int32_t i) { return data.data() + bitsOffset + static_cast<size_t>(i) * stride; };
    auto target = [&](int32_t i) { return bitmap.ScanLine(info.TopDown ? i : h - 1 - i); };
    auto rowBytes = [&](int32_t i) { return i == h - 1 ? lastRow : stride; };

    if (bits <= 8 && bits != 2) {
        const TPixelFormat format =
            bits == 1 ? TPixelFormat::pf1bit : (bits == 4 ? TPixelFormat::pf4bit : TPixelFormat::pf8bit);
        Allocate(bitmap, w, h, format, std::move(palette));
        for (int32_t i = 0; i < h; ++i)
            std::memcpy(target(i), source(i), rowBytes(i));
    } else if (bits == 2) {
        Allocate(bitmap, w, h, TPixelFormat::pf4bit, std::move(palette));
        for (int32_t i = 0; i < h; ++i) {
            const uint8_t* in = source(i);
            uint8_t* out = target(i);
            for (int32_t x = 0; x < w; ++x) {
                const uint8_t index = (in[x >> 2] >> (6 - 2 * (x & 3))) & 3;
                out[x >> 1] |= (x & 1) ? index : static_cast<uint8_t>(index << 4);
            }
        }
    } else if ((bits == 24 || bits == 32) && info.Compression == kBI_RGB) {
        // 32-bit pixels keep their fourth byte as it is stored.
        Allocate(bitmap, w, h, bits == 24 ? TPixelFormat::pf24bit : TPixelFormat::pf32bit, {});
        for (int32_t i = 0; i < h; ++i)
            std::memcpy(target(i), source(i), rowBytes(i));
    } else {
        const TChannel r(info.Masks[0]), g(info.Masks[1]), b(info.Masks[2]), a(info.Masks[3]);
        const bool alpha = info.Masks[3] != 0;
        Allocate(bitmap, w, h, alpha ? TPixelFormat::pf32bit : TPixelFormat::pf24bit, {});
        const int pixelBytes = bits / 8;
        for (int32_t i = 0; i < h; ++i) {
            const uint8_t* in = source(i);
            uint8_t* out = target(i);
            for (int32_t x = 0; x < w; ++x, in += pixelBytes) {
                uint32_t v = in[0] | (uint32_t(in[1]) << 8);
                if (pixelBytes == 4)
                    v |= (uint32_t(in[2]) << 16) | (uint32_t(in[3]) << 24);
                *out++ = b.Get(v);
                *out++ = g.Get(v);
                *out++ = r.Get(v);
                if (alpha)
                    *out++ = a.Get(v);
            }
        }
    }
    // What follows (an icon's mask) starts after the last row's padding.
    return bitsOffset + total + (stride - lastRow);
}

} // namespace palvex::dib
