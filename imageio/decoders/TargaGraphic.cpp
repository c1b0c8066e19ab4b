// The Truevision Targa reader.
#include "imageio/decoders/TargaGraphic.h"

#include <cstring>
#include <vector>

#include "imageio/decoders/Codecs.h"

namespace palvex {

PALVEX_DEFINE_GRAPHIC_CLASS(TTargaGraphic, TDecoderGraphic)

namespace {

constexpr const char* kName = "Targa";

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

// Where a run-length row starts: the byte after the packets read so far, and
// the packet it starts in.
struct TRowStart {
    uint64_t Position = 0;
    TTargaRuns Runs;
};

class TTargaReader final : public TDecoderReader {
public:
    explicit TTargaReader(TStream& stream) : TDecoderReader(kName), m_in(stream, kName)
    {
        ReadHeader();
        // A whole pass over the pixels when the rows must be found (run-length
        // data stored bottom-up) or the alpha must be seen before the first row.
        const bool mayHaveAlpha = m_alpha && m_kind != 1;
        if (mayHaveAlpha || (m_rle && !m_topDown))
            Survey(mayHaveAlpha);
        else if (m_rle)
            m_state.Position = m_dataStart;
        m_fileRow.resize(size_t(m_h.Width) * m_pixelBytes);
        SetPicture(m_h.Width, m_h.Height, m_alpha);
    }

private:
    void ReadHeader()
    {
        TargaHeader& h = m_h;
        h.IdLength = m_in.U8();
        h.ColorMapType = m_in.U8();
        h.ImageType = m_in.U8();
        h.MapFirst = m_in.U16LE();
        h.MapLength = m_in.U16LE();
        h.MapEntryBits = m_in.U8();
        m_in.Skip(4); // origin on screen
        h.Width = m_in.U16LE();
        h.Height = m_in.U16LE();
        h.PixelBits = m_in.U8();
        h.Descriptor = m_in.U8();

        m_rle = h.ImageType >= 9 && h.ImageType <= 11;
        m_kind = m_rle ? h.ImageType - 8 : h.ImageType; // 1 mapped, 2 true colour, 3 gray
        if (h.ImageType == 32 || h.ImageType == 33)
            Unsupported("Huffman compression");
        if (m_kind < 1 || m_kind > 3 || h.ColorMapType > 1 || (h.Descriptor & 0xC0) != 0)
            InvalidFormat();
        if (m_kind == 1 && (h.ColorMapType != 1 || (h.PixelBits != 8 && h.PixelBits != 16)))
            InvalidFormat();
        if (m_kind == 2 && h.PixelBits != 15 && h.PixelBits != 16 && h.PixelBits != 24 && h.PixelBits != 32)
            InvalidFormat();
        if (m_kind == 3 && h.PixelBits != 8 && h.PixelBits != 16)
            InvalidFormat();
        if (h.ColorMapType == 1 && h.MapEntryBits != 8 && h.MapEntryBits != 15 && h.MapEntryBits != 16 &&
            h.MapEntryBits != 24 && h.MapEntryBits != 32)
            InvalidPalette();
        if (!IsPictureSizeAllowed(h.Width, h.Height))
            InvalidFormat();

        m_in.Skip(h.IdLength);
        bool mapAlpha = false;
        if (h.ColorMapType == 1) {
            const size_t entryBytes = (h.MapEntryBits + 7u) / 8u;
            const auto bytes = m_in.Bytes(entryBytes * h.MapLength);
            // Only a colour-mapped picture uses its map; others merely skip it.
            if (m_kind == 1) {
                m_map.resize(size_t(h.MapFirst) + h.MapLength, Color32(0, 0, 0));
                for (size_t i = 0; i < h.MapLength; ++i)
                    m_map[h.MapFirst + i] = MapEntry(bytes.data() + i * entryBytes, h.MapEntryBits);
                mapAlpha = h.MapEntryBits == 32;
            }
        }
        m_dataStart = m_in.Position();

        m_pixelBytes = (h.PixelBits + 7u) / 8u;
        const size_t pixels = size_t(h.Width) * h.Height; // within 2^28 by the check above
        if (m_rle) {
            // A packet of 1 + pixelBytes bytes gives at most 128 pixels: data too short
            // to fill the picture is refused before anything is allocated.
            if (pixels / 128 > m_in.Remaining() / (1 + m_pixelBytes) + 1)
                ReadError();
        } else if (m_in.Remaining() < pixels * m_pixelBytes) {
            ReadError();
        }

        // 16-bit pixels carry a one-bit alpha when the descriptor declares
        // attribute bits. A picture whose alpha is zero everywhere is a writer
        // that left the byte or bit unset, and is shown opaque.
        m_attributeBit = m_kind == 2 && m_pixelBytes == 2 && (h.Descriptor & 0x0F) != 0;
        m_alpha = (m_kind == 2 && h.PixelBits == 32) || (m_kind == 3 && h.PixelBits == 16) || mapAlpha ||
                  m_attributeBit;
        if (m_alpha && m_kind == 1) {
            bool anyAlpha = false;
            for (const TColor32 c : m_map)
                anyAlpha |= AlphaComponent(c) != 0;
            m_alpha = anyAlpha;
        }
        m_topDown = (h.Descriptor & 0x20) != 0;
        m_rightToLeft = (h.Descriptor & 0x10) != 0;
    }

    // One pass over the pixel data: the start of every run-length row, and
    // whether any pixel has alpha.
    void Survey(bool checkAlpha)
    {
        const size_t alphaByte = m_pixelBytes - 1;
        const uint8_t mask = m_attributeBit ? 0x80 : 0xFF;
        bool anyAlpha = false;
        if (!m_rle) {
            const size_t rowBytes = size_t(m_h.Width) * m_pixelBytes;
            for (size_t r = 0; r < m_h.Height && !anyAlpha; ++r) {
                const auto row = m_in.Bytes(rowBytes);
                for (size_t i = alphaByte; i < rowBytes && !anyAlpha; i += m_pixelBytes)
                    anyAlpha = (row[i] & mask) != 0;
            }
        } else {
            if (!m_topDown)
                m_rows.resize(m_h.Height);
            m_state.Position = m_dataStart;
            std::vector<uint8_t> scratch(size_t(m_h.Width) * m_pixelBytes);
            for (size_t r = 0; r < m_h.Height; ++r) {
                if (!m_topDown)
                    m_rows[r] = m_state;
                DecodeRunRow(scratch.data());
                for (size_t i = alphaByte; checkAlpha && !anyAlpha && i < scratch.size(); i += m_pixelBytes)
                    anyAlpha = (scratch[i] & mask) != 0;
            }
            m_state = TRowStart{m_dataStart, TTargaRuns{}};
        }
        if (checkAlpha)
            m_alpha = anyAlpha;
    }

    // The next Width pixels of the packet stream from m_state. Packets may
    // span rows; a last packet longer than the picture is cut, as other
    // readers do.
    void DecodeRunRow(uint8_t* out)
    {
        m_in.Seek(m_state.Position);
        m_state.Runs.Decode(m_in, m_pixelBytes, out, m_h.Width);
        m_state.Position = m_in.Position();
    }

    void ReadRow(int32_t y, TColor32* out) override
    {
        const size_t fileRow = m_topDown ? size_t(y) : size_t(m_h.Height) - 1 - size_t(y);
        const size_t rowBytes = m_fileRow.size();
        const uint8_t* p;
        if (m_rle) {
            if (!m_topDown)
                m_state = m_rows[fileRow];
            DecodeRunRow(m_fileRow.data());
            p = m_fileRow.data();
        } else {
            m_in.Seek(m_dataStart + fileRow * rowBytes);
            p = m_in.Bytes(rowBytes).data();
        }
        const size_t width = m_h.Width;
        const TColor32 opaque = m_alpha ? 0 : 0xFF000000u;
        for (size_t i = 0; i < width; ++i, p += m_pixelBytes) {
            TColor32 c;
            switch (m_kind) {
            case 1: c = PaletteColor(m_map, m_pixelBytes == 2 ? (p[0] | (size_t(p[1]) << 8)) : p[0]); break;
            case 3: c = Color32(p[0], p[0], p[0], m_pixelBytes == 2 ? p[1] : 0xFF); break;
            default:
                if (m_pixelBytes == 2)
                    c = Color555(p[0] | (uint32_t(p[1]) << 8)) & (!m_alpha || (p[1] & 0x80) ? 0xFFFFFFFF : 0x00FFFFFF);
                else
                    c = Color32(p[2], p[1], p[0], m_pixelBytes == 4 ? p[3] : 0xFF);
                break;
            }
            out[m_rightToLeft ? width - 1 - i : i] = c | opaque;
        }
    }

    TByteReader m_in;
    TargaHeader m_h{};
    int m_kind = 0;
    bool m_rle = false;
    bool m_topDown = false;
    bool m_rightToLeft = false;
    bool m_attributeBit = false;
    bool m_alpha = false;
    size_t m_pixelBytes = 0;
    size_t m_dataStart = 0;
    std::vector<TColor32> m_map;
    std::vector<uint8_t> m_fileRow;
    TRowStart m_state;              // the packet stream where the next row starts
    std::vector<TRowStart> m_rows;  // bottom-up run-length data: each file row's start
};

} // namespace

std::unique_ptr<TPictureReader> TTargaGraphic::OpenRows(TStream& stream)
{
    return std::make_unique<TTargaReader>(stream);
}

} // namespace palvex
