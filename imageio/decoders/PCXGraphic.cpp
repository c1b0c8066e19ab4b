// The ZSoft Paintbrush reader.
#include "imageio/decoders/PCXGraphic.h"

#include <cstring>
#include <vector>

#include "imageio/decoders/Codecs.h"
#include "platform/Errors.h"

namespace palvex {

PALVEX_DEFINE_GRAPHIC_CLASS(TPCXGraphic, TDecoderGraphic)

namespace {

constexpr const char* kName = "PCX";
constexpr size_t kHeaderSize = 128;
constexpr size_t kVgaPaletteSize = 769; // marker 0x0C and 256 RGB triples

class TPCXReader final : public TDecoderReader {
public:
    explicit TPCXReader(TStream& stream) : TDecoderReader(kName), m_in(stream, kName)
    {
        const uint8_t manufacturer = m_in.U8();
        m_in.U8(); // version: the layout below is the same for all
        const uint8_t encoding = m_in.U8();
        m_bits = m_in.U8();
        const uint16_t xMin = m_in.U16LE(), yMin = m_in.U16LE(), xMax = m_in.U16LE(), yMax = m_in.U16LE();
        m_in.Skip(4); // resolution
        uint8_t egaPalette[48];
        std::memcpy(egaPalette, m_in.Bytes(48).data(), 48);
        m_in.U8();
        m_planes = m_in.U8();
        m_bytesPerLine = m_in.U16LE();
        m_in.Seek(kHeaderSize);

        if (manufacturer != 0x0A || encoding > 1 || xMax < xMin || yMax < yMin)
            InvalidFormat();
        m_width = int64_t(xMax) - xMin + 1;
        const int64_t height = int64_t(yMax) - yMin + 1;
        m_planar1 = m_bits == 1 && m_planes >= 1 && m_planes <= 4;
        const bool packed = (m_bits == 2 || m_bits == 4 || m_bits == 8) && m_planes == 1;
        m_trueColor = m_bits == 8 && (m_planes == 3 || m_planes == 4);
        if (!m_planar1 && !packed && !m_trueColor)
            Unsupported(Format("%d bits in %d planes", m_bits, m_planes));
        size_t planeBytes = 0;
        if (!PackedRowBytes(uint64_t(m_width), m_bits, planeBytes) || m_bytesPerLine < planeBytes)
            InvalidFormat();
        if (!IsPictureSizeAllowed(m_width, height))
            InvalidFormat();

        // 8-bit pictures end with the VGA palette; without one they are gray.
        if (m_bits == 8 && m_planes == 1) {
            m_palette.resize(256);
            const size_t size = m_in.Size();
            bool hasVga = false;
            if (size >= kHeaderSize + kVgaPaletteSize) {
                m_in.Seek(size - kVgaPaletteSize);
                hasVga = m_in.U8() == 0x0C;
            }
            const uint8_t* vga = hasVga ? m_in.Bytes(kVgaPaletteSize - 1).data() : nullptr;
            for (size_t i = 0; i < 256; ++i)
                m_palette[i] = vga ? Color32(vga[3 * i], vga[3 * i + 1], vga[3 * i + 2])
                                   : Color32(uint8_t(i), uint8_t(i), uint8_t(i));
            m_in.Seek(kHeaderSize);
        } else if (m_bits * m_planes == 1) {
            m_palette = {Color32(0, 0, 0), Color32(255, 255, 255)};
        } else if (!m_trueColor) {
            for (size_t i = 0; i < 16; ++i)
                m_palette.push_back(Color32(egaPalette[3 * i], egaPalette[3 * i + 1], egaPalette[3 * i + 2]));
        }

        m_rle = encoding == 1;
        const size_t lineBytes = size_t(m_bytesPerLine) * m_planes;
        const size_t imageBytes = lineBytes * size_t(height); // below 2^16 * 4 * 2^16
        // Two bytes give at most 63: a file that cannot fill the picture is cut
        // off, and is refused before anything is allocated.
        if (m_rle ? imageBytes / 63 > m_in.Remaining() / 2 + 1 : m_in.Remaining() < imageBytes)
            ReadError();
        m_line.resize(lineBytes);
        m_indices.resize(size_t(m_width));
        SetPicture(m_width, height, m_planes == 4 && m_trueColor);
    }

private:
    // The next line's bytes. Runs may cross line ends; a run past the last
    // line is padding.
    const uint8_t* NextLine()
    {
        if (!m_rle)
            return m_in.Bytes(m_line.size()).data();
        m_runs.Decode(m_in, m_line);
        return m_line.data();
    }

    void ReadRow(int32_t, TColor32* out) override
    {
        const uint8_t* line = NextLine();
        const size_t width = size_t(m_width);
        if (m_trueColor) {
            for (size_t x = 0; x < width; ++x)
                out[x] = Color32(line[x], line[m_bytesPerLine + x], line[2 * m_bytesPerLine + x],
                                 m_planes == 4 ? line[3 * m_bytesPerLine + x] : 0xFF);
            return;
        }
        if (m_planar1)
            CombineBitPlanes(line, m_bytesPerLine, m_planes, width, m_indices.data());
        else
            UnpackBits(line, m_bits, width, m_indices.data());
        ExpandPalette(m_indices.data(), width, m_palette, out);
    }

    TByteReader m_in;
    int m_bits = 0;
    int m_planes = 0;
    size_t m_bytesPerLine = 0;
    int64_t m_width = 0;
    bool m_planar1 = false;
    bool m_trueColor = false;
    bool m_rle = false;
    std::vector<TColor32> m_palette;
    std::vector<uint8_t> m_line;
    std::vector<uint8_t> m_indices;
    TPcxRuns m_runs;
};

} // namespace

std::unique_ptr<TPictureReader> TPCXGraphic::OpenRows(TStream& stream)
{
    return std::make_unique<TPCXReader>(stream);
}

} // namespace palvex
