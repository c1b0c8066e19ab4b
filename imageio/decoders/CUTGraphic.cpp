// The Dr. Halo CUT reader and its companion palette.
#include "imageio/decoders/CUTGraphic.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "imageio/Streams.h"
#include "imageio/decoders/Codecs.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/UpperCase.h"

namespace palvex {

PALVEX_DEFINE_GRAPHIC_CLASS(TCUTGraphic, TDecoderGraphic)

namespace {

constexpr size_t kPaletteHeaderBytes = 40;
constexpr int64_t kMaxPaletteFileBytes = 65536;

// One line's packets: a code with the top bit set repeats the next byte (its
// low seven bits) times, another copies that many bytes, 0 (or 0x80) ends the
// line. Runs past the width are cut; pixels the line leaves out stay 0.
// Returns the pixels the packets give, including any that were cut.
size_t DecodeLine(TByteReader& in, std::span<uint8_t> out)
{
    size_t pos = 0;
    while (in.Remaining() > 0) {
        const uint8_t code = in.U8();
        const size_t count = code & 0x7F;
        if (count == 0)
            break;
        if (code & 0x80) {
            const uint8_t value = in.U8();
            if (pos < out.size())
                std::memset(out.data() + pos, value, std::min(count, out.size() - pos));
        } else {
            const auto bytes = in.Bytes(count);
            if (pos < out.size())
                std::memcpy(out.data() + pos, bytes.data(), std::min(count, out.size() - pos));
        }
        pos += count;
    }
    return pos;
}

// A Dr. Halo palette: "AH", a 40-byte header, then 16-bit R, G, B entries
// that never straddle a 512-byte block. Empty when the file is no such
// palette; entries the file lacks are left out (black).
std::vector<TColor32> ParsePalette(std::span<const uint8_t> bytes)
{
    std::vector<TColor32> palette;
    if (bytes.size() < kPaletteHeaderBytes || bytes[0] != 'A' || bytes[1] != 'H')
        return palette;
    TByteReader in(bytes, "CUT");
    in.Seek(12);
    const uint16_t maxIndex = in.U16LE();
    uint16_t maxima[3];
    for (uint16_t& m : maxima) {
        m = in.U16LE();
        if (m == 0)
            m = 255;
    }
    if (maxIndex < 1)
        return palette;
    const size_t count = std::min<size_t>(size_t(maxIndex) + 1, 256);
    in.Seek(kPaletteHeaderBytes);
    for (size_t i = 0; i < count; ++i) {
        if (in.Position() % 512 > 506)
            in.Seek(std::min(in.Size(), (in.Position() / 512 + 1) * 512));
        if (in.Remaining() < 6)
            break;
        // Truncated, as ImageMagick scales them.
        uint8_t rgb[3];
        for (int c = 0; c < 3; ++c)
            rgb[c] = static_cast<uint8_t>(std::min<uint32_t>(in.U16LE(), maxima[c]) * 255 / maxima[c]);
        palette.push_back(Color32(rgb[0], rgb[1], rgb[2]));
    }
    return palette;
}

// The bytes of the regular file beside fileName named like it with the
// extension .pal in any letter case; empty when there is none.
std::vector<uint8_t> ReadCompanionPalette(const std::string& fileName)
{
    size_t nameStart = fileName.size();
    while (nameStart > 0 && !IsPathDelimiter(fileName[nameStart - 1]))
        --nameStart;
    const std::string folder = fileName.substr(0, nameStart); // with its delimiter
    const std::string name = fileName.substr(nameStart);
    if (name.empty())
        return {};
    const std::string wanted = name.substr(0, name.rfind('.')) + ".pal";
    for (const TSearchRec& rec : FindFiles(folder.empty() ? "." : folder, wanted)) {
        // Sockets, pipes and devices are never opened: they could block.
        if (UpperCase(rec.Name) != UpperCase(wanted) || !(rec.Attr & faArchive) ||
            (rec.Attr & (faDirectory | faDevice)) || rec.Size > kMaxPaletteFileBytes)
            continue;
        try {
            TFileStream stream(folder + rec.Name, TFileStream::Mode::OpenRead);
            TByteReader in(stream, "CUT");
            const auto bytes = in.Bytes(in.Size());
            return std::vector<uint8_t>(bytes.begin(), bytes.end());
        } catch (const Exception&) {
            return {}; // unreadable: as if there were none
        }
    }
    return {};
}

class CUTReader final : public TDecoderReader {
public:
    CUTReader(TStream& stream, const char* name) : TDecoderReader(name), m_in(stream, name)
    {
        m_width = m_in.U16LE();
        const uint16_t height = m_in.U16LE();
        const uint16_t reserved = m_in.U16LE();
        if (reserved != 0 || !IsPictureSizeAllowed(m_width, height))
            InvalidFormat();
        // Each line is at least its byte count and its end code.
        if (m_in.Remaining() / 3 < height)
            ReadError();
        // No signature: the first line must give exactly the width, as a Dr.
        // Halo writer makes it.
        m_indices.resize(m_width);
        {
            TByteReader line(m_in.Bytes(m_in.U16LE()), name);
            if (DecodeLine(line, m_indices) != m_width)
                InvalidFormat();
        }
        m_in.Seek(6);
        m_palette = ParsePalette(ReadCompanionPalette(stream.FileName()));
        if (m_palette.empty())
            for (int i = 0; i < 256; ++i)
                m_palette.push_back(Color32(uint8_t(i), uint8_t(i), uint8_t(i)));
        SetPicture(m_width, height, false);
    }

private:
    void ReadRow(int32_t, TColor32* out) override
    {
        TByteReader line(m_in.Bytes(m_in.U16LE()), FormatName());
        std::fill(m_indices.begin(), m_indices.end(), 0);
        DecodeLine(line, m_indices);
        ExpandPalette(m_indices.data(), m_width, m_palette, out);
    }

    TByteReader m_in;
    uint16_t m_width = 0;
    std::vector<uint8_t> m_indices;
    std::vector<TColor32> m_palette;
};

} // namespace

std::unique_ptr<TPictureReader> TCUTGraphic::OpenRows(TStream& stream)
{
    return std::make_unique<CUTReader>(stream, FormatName());
}

} // namespace palvex
