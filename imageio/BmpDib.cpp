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

uint16_t U16(TByteReader& in, size_t at)
{
    in.Seek(at);
    return in.U16LE();
}

uint32_t U32(TByteReader& in, size_t at)
{
    in.Seek(at);
    return in.U32LE();
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

TDibInfo ParseInfo(TByteReader& data, size_t offset)
{
    TDibInfo info;
    info.HeaderSize = U32(data, offset);
    if (!IsKnownHeaderSize(info.HeaderSize))
        Invalid();
    if (offset > data.Size() || info.HeaderSize > data.Size() - offset)
        Short();
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

TDibInfo ParseInfo(std::span<const uint8_t> data, size_t offset)
{
    TByteReader in(data, nullptr);
    return ParseInfo(in, offset);
}

std::vector<TColor32> ReadPalette(const TDibInfo& info, TByteReader& in, size_t limitOffset)
{
    if (info.BitCount > 8)
        return {};
    size_t count = info.PaletteEntries();
    const size_t room = limitOffset > info.PaletteOffset ? limitOffset - info.PaletteOffset : 0;
    count = std::min(count, room / info.PaletteEntrySize);
    in.Seek(info.PaletteOffset);
    const uint8_t* entries = in.Bytes(count * info.PaletteEntrySize).data();
    // Two-bit pictures are held as four-bit ones.
    const int heldBits = info.BitCount == 2 ? 4 : info.BitCount;
    std::vector<TColor32> palette(size_t(1) << heldBits, 0xFF000000);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* e = entries + i * info.PaletteEntrySize;
        palette[i] = Color32(e[2], e[1], e[0], 255);
    }
    return palette;
}

std::vector<TColor32> ReadPalette(const TDibInfo& info, std::span<const uint8_t> data, size_t limitOffset)
{
    TByteReader in(data, nullptr);
    return ReadPalette(info, in, limitOffset);
}

TDibRows::TDibRows(const TDibInfo& info, std::vector<TColor32> palette, TByteReader& in, size_t bitsOffset)
    : m_info(info), m_palette(std::move(palette)), m_in(in), m_bitsOffset(bitsOffset)
{
    const int32_t w = info.Width, h = info.Height;
    const int bits = info.BitCount;
    if (info.Compression == kBI_RLE4 || info.Compression == kBI_RLE8) {
        m_format = bits == 4 ? TPixelFormat::pf4bit : TPixelFormat::pf8bit;
        // Every command once: a short file fails here, and each row's start is noted.
        m_rleRows.resize(size_t(h));
        int64_t y = 0, x = 0;
        uint64_t position = bitsOffset;
        m_rleRows[0] = TRleRow{position, 0, true};
        while (RleRow(y, position, x, nullptr))
            m_rleRows[size_t(y)] = TRleRow{position, x, true};
        m_end = size_t(position);
        return;
    }
    if (bits <= 8)
        m_format = bits == 1 ? TPixelFormat::pf1bit : bits == 8 ? TPixelFormat::pf8bit : TPixelFormat::pf4bit;
    else if ((bits == 24 || bits == 32) && info.Compression == kBI_RGB)
        m_format = bits == 24 ? TPixelFormat::pf24bit : TPixelFormat::pf32bit;
    else
        m_format = info.Masks[3] != 0 ? TPixelFormat::pf32bit : TPixelFormat::pf24bit;
    // The last row may lack its padding.
    m_stride = RowStride(w, bits);
    m_lastRow = (static_cast<size_t>(w) * static_cast<size_t>(bits) + 7) / 8;
    size_t total = 0;
    if (__builtin_mul_overflow(m_stride, static_cast<size_t>(h - 1), &total) ||
        __builtin_add_overflow(total, m_lastRow, &total))
        Invalid();
    if (bitsOffset > in.Size() || total > in.Size() - bitsOffset)
        Short();
    // What follows (an icon's mask) starts after the last row's padding.
    m_end = bitsOffset + total + (m_stride - m_lastRow);
}

// Runs beyond the end of a row are clipped, not wrapped to the next row; a
// delta or end of line past the last row ends the picture. Pixels that no
// command sets keep palette index 0. Data that runs out before every row is
// reached is a short file; a missing end-of-bitmap after the last row is not.
bool TDibRows::RleRow(int64_t& y, uint64_t& position, int64_t& x, uint8_t* row)
{
    const bool rle4 = m_info.Compression == kBI_RLE4;
    const int64_t w = m_info.Width, h = m_info.Height;
    const int64_t start = y;
    auto put = [&](int64_t px, uint8_t index) {
        if (!row || px >= w)
            return;
        if (rle4) {
            uint8_t& b = row[px >> 1];
            b = (px & 1) ? static_cast<uint8_t>((b & 0xF0) | index) : static_cast<uint8_t>((b & 0x0F) | (index << 4));
        } else {
            row[px] = index;
        }
    };
    m_in.Seek(position);
    while (y == start && y < h) {
        if (m_in.Remaining() == 0) {
            if (y == h - 1 && x >= w)
                break;
            Short();
        }
        const uint8_t count = m_in.U8(), value = m_in.U8();
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
            position = m_in.Position();
            return false;
        } else if (value == 2) { // delta
            x += m_in.U8();
            y += m_in.U8();
        } else { // absolute run, padded to 16 bits
            const size_t bytes = rle4 ? (size_t(value) + 1) / 2 : value;
            const uint8_t* d = m_in.Bytes(bytes).data();
            for (int i = 0; i < value && x + i < w; ++i) {
                const uint8_t b = d[rle4 ? size_t(i) / 2 : size_t(i)];
                put(x + i, rle4 ? ((i & 1) ? (b & 0x0F) : (b >> 4)) : b);
            }
            x += value;
            m_in.Skip(std::min(bytes & 1, m_in.Remaining()));
        }
    }
    position = m_in.Position();
    return y < h && y != start;
}

void TDibRows::ReadHeld(int32_t y, uint8_t* out)
{
    const int32_t w = m_info.Width, h = m_info.Height;
    const size_t heldStride = RowStride(w, BitsPerPixel(m_format));
    if (!m_rleRows.empty()) {
        std::memset(out, 0, heldStride);
        const TRleRow& start = m_rleRows[size_t(h - 1 - y)];
        if (start.Entered) {
            int64_t row = h - 1 - y, x = start.X;
            uint64_t position = start.Position;
            RleRow(row, position, x, out);
        }
        return;
    }
    const int32_t i = m_info.TopDown ? y : h - 1 - y;
    const size_t bytes = i == h - 1 ? m_lastRow : m_stride;
    m_in.Seek(m_bitsOffset + static_cast<size_t>(i) * m_stride);
    const uint8_t* in = m_in.Bytes(bytes).data();
    const int bits = m_info.BitCount;
    if (bits == 2) {
        std::memset(out, 0, heldStride);
        for (int32_t x = 0; x < w; ++x) {
            const uint8_t index = (in[x >> 2] >> (6 - 2 * (x & 3))) & 3;
            out[x >> 1] |= (x & 1) ? index : static_cast<uint8_t>(index << 4);
        }
    } else if (bits <= 8 || ((bits == 24 || bits == 32) && m_info.Compression == kBI_RGB)) {
        // 32-bit pixels keep their fourth byte as it is stored.
        std::memcpy(out, in, bytes);
        std::memset(out + bytes, 0, heldStride - bytes);
    } else {
        const TChannel r(m_info.Masks[0]), g(m_info.Masks[1]), b(m_info.Masks[2]), a(m_info.Masks[3]);
        const bool alpha = m_info.Masks[3] != 0;
        const int pixelBytes = bits / 8;
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

size_t DecodePixels(const TDibInfo& info, std::vector<TColor32> palette, std::span<const uint8_t> data,
                    size_t bitsOffset, TBitmap& bitmap)
{
    TByteReader in(data, nullptr);
    TDibRows rows(info, std::move(palette), in, bitsOffset);
    bitmap.SetSize(0, 0);
    bitmap.SetPixelFormat(rows.HeldFormat());
    bitmap.SetSize(info.Width, info.Height);
    bitmap.SetPalette(rows.Palette());
    for (int32_t y = 0; y < info.Height; ++y)
        rows.ReadHeld(y, bitmap.ScanLine(y));
    return rows.EndOffset();
}

} // namespace palvex::dib
