// TDecoderGraphic: the common base of the decoder family. A reader loads the
// whole file into memory, then decodes it into this platform bitmap.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "imageio/Bitmap.h"

namespace palvex {

class TDecoderGraphic : public TBitmap {
    PALVEX_GRAPHIC_CLASS(TDecoderGraphic)

public:
    TDecoderGraphic() = default;

    // Reads every byte from the stream's position, then Decode. A failed
    // decode leaves the bitmap empty.
    void LoadStream(TStream& stream) override;

    // The format's name in the family's messages ("Truevision", "PNG", ...).
    virtual const char* FormatName() const { return "unknown"; }

protected:
    // Decodes a complete file image into this bitmap.
    virtual void Decode(std::span<const uint8_t> data);

    // The family's failures, with the format's name filled in.
    [[noreturn]] void InvalidFormat() const;        // "Cannot load image. Invalid or unexpected %s image format."
    [[noreturn]] void ReadError() const;            // "Stream read error in %s file."
    [[noreturn]] void Unsupported(const std::string& what) const; // "Cannot load image. %s not supported for %s files."
    [[noreturn]] void InvalidPalette() const;       // "Cannot load image. Palette in %s file is invalid."
    [[noreturn]] void CompressionError() const;     // "Cannot load image. Compression error found in %s file."
    [[noreturn]] void CrcError() const;             // "Cannot load image. CRC error found in %s file."
    [[noreturn]] void ExtraData() const;            // "Cannot load image. Extra compressed data found in %s file."
    [[noreturn]] void InvalidColorFormat() const;   // "Invalid color format in %s file."

    // Sizes the bitmap for a declared picture, refusing anything beyond the
    // picture limits with InvalidFormat before a byte is allocated.
    void AllocatePicture(int64_t width, int64_t height, TPixelFormat format);

    // Stores one row of 32-bit pixels into a pf24bit (alpha dropped) or
    // pf32bit bitmap allocated by AllocatePicture.
    void StoreRow32(int32_t y, const TColor32* pixels);
};

// Bounds-checked little- and big-endian reads over loaded bytes; running out
// raises "Stream read error in %s file." with the format's name.
class TByteReader {
public:
    TByteReader(std::span<const uint8_t> data, const char* formatName) : m_data(data), m_formatName(formatName) {}

    size_t Position() const { return m_pos; }
    size_t Size() const { return m_data.size(); }
    size_t Remaining() const { return m_data.size() - m_pos; }
    void Seek(size_t position)
    {
        if (position > m_data.size())
            Short();
        m_pos = position;
    }
    void Skip(size_t count) { Need(count), m_pos += count; }

    uint8_t U8()
    {
        Need(1);
        return m_data[m_pos++];
    }
    uint16_t U16LE()
    {
        Need(2);
        const uint16_t v = static_cast<uint16_t>(m_data[m_pos] | (m_data[m_pos + 1] << 8));
        m_pos += 2;
        return v;
    }
    uint16_t U16BE()
    {
        Need(2);
        const uint16_t v = static_cast<uint16_t>((m_data[m_pos] << 8) | m_data[m_pos + 1]);
        m_pos += 2;
        return v;
    }
    uint32_t U32LE()
    {
        Need(4);
        const uint32_t v = uint32_t(m_data[m_pos]) | (uint32_t(m_data[m_pos + 1]) << 8) |
                           (uint32_t(m_data[m_pos + 2]) << 16) | (uint32_t(m_data[m_pos + 3]) << 24);
        m_pos += 4;
        return v;
    }
    uint32_t U32BE()
    {
        Need(4);
        const uint32_t v = (uint32_t(m_data[m_pos]) << 24) | (uint32_t(m_data[m_pos + 1]) << 16) |
                           (uint32_t(m_data[m_pos + 2]) << 8) | uint32_t(m_data[m_pos + 3]);
        m_pos += 4;
        return v;
    }
    std::span<const uint8_t> Bytes(size_t count)
    {
        Need(count);
        auto s = m_data.subspan(m_pos, count);
        m_pos += count;
        return s;
    }

private:
    void Need(size_t count)
    {
        if (count > m_data.size() - m_pos)
            Short();
    }
    [[noreturn]] void Short() const;

    std::span<const uint8_t> m_data;
    size_t m_pos = 0;
    const char* m_formatName;
};

} // namespace palvex
