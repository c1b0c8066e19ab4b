// The Autodesk Animator and Animator Pro reader.
#include "imageio/decoders/AutodeskGraphic.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "imageio/decoders/Codecs.h"

namespace palvex {

PALVEX_DEFINE_GRAPHIC_CLASS(TAutodeskGraphic, TDecoderGraphic)

namespace {

constexpr uint16_t kAnimatorMagic = 0x9119;
constexpr uint16_t kProPictureMagic = 0x9500;
constexpr uint16_t kFliMagic = 0xAF11;
constexpr uint16_t kFlcMagic = 0xAF12;
constexpr uint16_t kFrameMagic = 0xF1FA;

// Chunks of a FLIC frame.
enum : uint16_t {
    kSS2 = 7,
    kColor256 = 4,
    kColor64 = 11,
    kLC = 12,
    kBlack = 13,
    kBRun = 15,
    kCopy = 16,
};

// Animator's 6-bit components widened so that 63 gives 255.
inline uint8_t Expand6(uint8_t v)
{
    v = std::min<uint8_t>(v, 63);
    return static_cast<uint8_t>((v << 2) | (v >> 4));
}

// Animator's default colour map (6-bit components), for pictures that carry
// none. From the Animator Pro source release (NEWDEFAU.COL), copyright Jim
// Kent, BSD-3-Clause.
constexpr uint8_t kDefaultColours[768] = {
    0, 0, 0, 2, 2, 2, 4, 4, 4, 6, 6, 6, 8, 8, 8, 10, 10, 10, 12, 12, 12, 14, 14, 14,
    16, 16, 16, 18, 18, 18, 20, 20, 20, 22, 22, 22, 24, 24, 24, 26, 26, 26, 28, 28, 28, 30, 30, 30,
    33, 33, 33, 35, 35, 35, 37, 37, 37, 39, 39, 39, 41, 41, 41, 43, 43, 43, 45, 45, 45, 47, 47, 47,
    49, 49, 49, 51, 51, 51, 53, 53, 53, 55, 55, 55, 57, 57, 57, 59, 59, 59, 61, 61, 61, 63, 63, 63,
    3, 3, 3, 3, 3, 15, 3, 3, 27, 3, 3, 39, 3, 3, 51, 3, 3, 63, 3, 15, 63, 3, 15, 51,
    3, 15, 39, 3, 15, 27, 3, 15, 15, 3, 15, 3, 3, 27, 3, 3, 27, 15, 3, 27, 27, 3, 27, 39,
    3, 27, 51, 3, 27, 63, 3, 39, 63, 3, 39, 51, 3, 39, 39, 3, 39, 27, 3, 39, 15, 3, 39, 3,
    3, 51, 3, 3, 51, 15, 3, 51, 27, 3, 51, 39, 3, 51, 51, 3, 51, 63, 3, 63, 63, 3, 63, 51,
    3, 63, 39, 3, 63, 27, 3, 63, 15, 3, 63, 3, 15, 63, 3, 15, 51, 3, 15, 39, 3, 15, 27, 3,
    15, 15, 3, 15, 3, 3, 15, 3, 15, 15, 3, 27, 15, 3, 39, 15, 3, 51, 15, 3, 63, 15, 15, 63,
    15, 15, 51, 15, 15, 39, 15, 15, 27, 15, 15, 15, 15, 27, 15, 15, 27, 27, 15, 27, 39, 15, 27, 51,
    15, 27, 63, 15, 39, 63, 15, 39, 51, 15, 39, 39, 15, 39, 27, 15, 39, 15, 15, 51, 15, 15, 51, 27,
    15, 51, 39, 15, 51, 51, 15, 51, 63, 15, 63, 63, 15, 63, 51, 15, 63, 39, 15, 63, 27, 15, 63, 15,
    27, 63, 15, 27, 51, 15, 27, 39, 15, 27, 27, 15, 27, 15, 15, 27, 3, 15, 27, 3, 3, 27, 15, 3,
    27, 27, 3, 27, 39, 3, 27, 51, 3, 27, 63, 3, 39, 63, 3, 39, 51, 3, 39, 39, 3, 39, 27, 3,
    39, 15, 3, 39, 3, 3, 39, 3, 15, 39, 3, 27, 27, 3, 27, 27, 3, 39, 27, 3, 51, 27, 3, 63,
    27, 15, 63, 27, 15, 51, 27, 15, 39, 27, 15, 27, 27, 27, 27, 27, 27, 39, 27, 27, 51, 27, 27, 63,
    27, 39, 63, 27, 39, 51, 27, 39, 39, 27, 39, 27, 27, 51, 27, 27, 51, 39, 27, 51, 51, 27, 51, 63,
    27, 63, 63, 27, 63, 51, 27, 63, 39, 27, 63, 27, 39, 63, 27, 39, 51, 27, 39, 39, 27, 39, 27, 27,
    39, 15, 27, 39, 15, 15, 39, 27, 15, 39, 39, 15, 39, 51, 15, 39, 63, 15, 51, 63, 15, 51, 51, 15,
    51, 39, 15, 51, 27, 15, 51, 15, 15, 51, 3, 15, 51, 3, 3, 51, 15, 3, 51, 27, 3, 51, 39, 3,
    51, 51, 3, 51, 63, 3, 63, 63, 3, 63, 51, 3, 63, 39, 3, 63, 27, 3, 63, 15, 3, 63, 3, 3,
    63, 3, 15, 63, 3, 27, 51, 3, 27, 51, 3, 39, 39, 3, 39, 39, 3, 51, 39, 3, 63, 39, 15, 63,
    39, 15, 51, 39, 15, 39, 39, 27, 39, 39, 27, 51, 39, 27, 63, 39, 39, 63, 39, 39, 51, 39, 39, 39,
    39, 51, 39, 39, 51, 51, 39, 51, 63, 39, 63, 63, 39, 63, 51, 39, 63, 39, 51, 63, 39, 51, 51, 39,
    51, 39, 39, 51, 27, 39, 51, 15, 39, 51, 15, 27, 51, 27, 27, 51, 39, 27, 51, 51, 27, 51, 63, 27,
    63, 63, 27, 63, 51, 27, 63, 39, 27, 63, 27, 27, 63, 15, 27, 63, 15, 15, 63, 27, 15, 63, 39, 15,
    63, 51, 15, 63, 63, 15, 63, 63, 39, 63, 51, 39, 63, 39, 39, 63, 27, 39, 63, 15, 39, 63, 3, 39,
    63, 3, 51, 51, 3, 51, 51, 3, 63, 51, 15, 63, 51, 15, 51, 51, 27, 51, 51, 27, 63, 51, 39, 63,
    51, 39, 51, 51, 51, 51, 51, 51, 63, 51, 63, 63, 51, 63, 51, 63, 63, 51, 63, 51, 51, 63, 39, 51,
    63, 27, 51, 63, 15, 51, 63, 15, 63, 63, 3, 63, 63, 27, 63, 63, 39, 63, 63, 51, 63, 63, 63, 63,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 23, 23, 23, 42, 42, 42, 57, 57, 57, 63, 0, 0,
};

std::vector<TColor32> DefaultPalette()
{
    std::vector<TColor32> palette(256);
    for (size_t i = 0; i < 256; ++i)
        palette[i] = Color32(Expand6(kDefaultColours[3 * i]), Expand6(kDefaultColours[3 * i + 1]),
                             Expand6(kDefaultColours[3 * i + 2]));
    return palette;
}

// The screen an original Animator cel is cut from, and placed back on.
constexpr int64_t kScreenWidth = 320, kScreenHeight = 200;

// A FLIC frame being decoded: width x height indices, and the colour map.
struct FlicFrame {
    size_t Width, Height;
    std::vector<uint8_t> Pixels;
    std::vector<TColor32> Palette = std::vector<TColor32>(256, Color32(0, 0, 0));
    bool HasColors = false;

    uint8_t* Row(size_t y) { return Pixels.data() + y * Width; }

    void Colors(TByteReader& in, bool sixBit)
    {
        HasColors = true;
        size_t index = 0;
        for (uint16_t packets = in.U16LE(); packets > 0; --packets) {
            index += in.U8();
            size_t count = in.U8();
            if (count == 0)
                count = 256;
            for (size_t i = 0; i < count; ++i, ++index) {
                const auto rgb = in.Bytes(3);
                if (index < Palette.size())
                    Palette[index] = sixBit ? Color32(Expand6(rgb[0]), Expand6(rgb[1]), Expand6(rgb[2]))
                                            : Color32(rgb[0], rgb[1], rgb[2]);
            }
        }
    }

    void ByteRun(TByteReader& in)
    {
        for (size_t y = 0; y < Height; ++y) {
            in.Skip(1); // a packet count older players used; the width decides
            DecodeSignedRuns(in, std::span(Row(y), Width), false);
        }
    }

    void Copy(TByteReader& in)
    {
        // Some writers give COPY a size two bytes short; the frame still
        // holds the pixels, so take what is there.
        const auto bytes = in.Bytes(std::min(Pixels.size(), in.Remaining()));
        std::memcpy(Pixels.data(), bytes.data(), bytes.size());
    }

    // Byte packets of a changed line: a column skip, then n > 0 literal bytes
    // or n < 0 one byte repeated -n times.
    void LineChanges(TByteReader& in)
    {
        size_t y = in.U16LE();
        for (uint16_t lines = in.U16LE(); lines > 0; --lines, ++y) {
            size_t x = 0;
            for (uint8_t packets = in.U8(); packets > 0; --packets) {
                x += in.U8();
                const int n = static_cast<int8_t>(in.U8());
                const size_t count = size_t(n < 0 ? -n : n);
                const auto bytes = in.Bytes(n < 0 ? 1 : count);
                for (size_t i = 0; i < count; ++i, ++x)
                    if (y < Height && x < Width)
                        Row(y)[x] = bytes[n < 0 ? 0 : i];
            }
        }
    }

    // Word packets of changed lines, with line skips and a last-pixel opcode.
    // False on an opcode the format leaves undefined.
    bool WordChanges(TByteReader& in)
    {
        size_t y = 0;
        for (uint16_t lines = in.U16LE(); lines > 0;) {
            const uint16_t op = in.U16LE();
            if ((op & 0xC000) == 0xC000) {
                y += size_t(0x10000 - op);
                continue;
            }
            if ((op & 0xC000) == 0x4000)
                return false;
            if ((op & 0xC000) == 0x8000) {
                if (y < Height)
                    Row(y)[Width - 1] = static_cast<uint8_t>(op);
                continue;
            }
            size_t x = 0;
            for (uint16_t packets = op; packets > 0; --packets) {
                x += in.U8();
                const int n = static_cast<int8_t>(in.U8());
                const size_t words = size_t(n < 0 ? -n : n);
                const auto bytes = in.Bytes(n < 0 ? 2 : 2 * words);
                for (size_t i = 0; i < 2 * words; ++i, ++x)
                    if (y < Height && x < Width)
                        Row(y)[x] = bytes[n < 0 ? i % 2 : i];
            }
            ++y;
            --lines;
        }
        return true;
    }
};

class AutodeskReader final : public TDecoderReader {
public:
    AutodeskReader(TStream& stream, const char* name) : TDecoderReader(name), m_in(stream, name)
    {
        if (m_in.Size() >= 2 && m_in.U16LE() == kAnimatorMagic) {
            OpenAnimator();
        } else {
            m_in.Seek(4);
            const uint16_t magic = m_in.U16LE();
            m_in.Seek(0);
            if (magic == kProPictureMagic)
                OpenProPicture();
            else if (magic == kFlcMagic || magic == kFliMagic)
                OpenFlic();
            else
                InvalidFormat();
        }
        if (m_placed.Width == 0)
            m_placed = {m_width, m_height, 0, 0};
        SetPicture(m_placed.Width, m_placed.Height, false);
    }

private:
    void OpenAnimator();
    void OpenProPicture();
    void OpenFlic();
    void ReadRow(int32_t y, TColor32* out) override;

    TByteReader m_in;
    uint16_t m_width = 0, m_height = 0; // of the cel or picture the file holds
    // The picture handed out, and where the file's pixels lie in it.
    struct {
        int64_t Width = 0, Height = 0, Left = 0, Top = 0;
    } m_placed;
    int m_bits = 8;              // 1 for an Animator Pro mask
    size_t m_pixels = 0;         // where the rows start in the file
    size_t m_rowBytes = 0;
    bool m_flic = false;
    std::vector<uint8_t> m_frame; // a FLIC's first frame, decoded
    std::vector<TColor32> m_palette = DefaultPalette();
    std::vector<uint8_t> m_indices;
};

void AutodeskReader::ReadRow(int32_t y, TColor32* out)
{
    if (m_placed.Width != m_width || m_placed.Height != m_height) {
        // A cel back on its screen: around it the screen's colour 0.
        std::fill(out, out + m_placed.Width, m_palette[0]);
        if (y < m_placed.Top || y >= m_placed.Top + m_height)
            return;
        y -= int32_t(m_placed.Top);
        out += m_placed.Left;
    }
    const uint8_t* row;
    if (m_flic) {
        row = m_frame.data() + size_t(y) * m_width;
    } else {
        m_in.Seek(m_pixels + size_t(y) * m_rowBytes);
        row = m_in.Bytes(m_rowBytes).data();
    }
    if (m_bits == 1) {
        // A mask: set bits white.
        static const TColor32 mono[2] = {Color32(0, 0, 0), Color32(255, 255, 255)};
        m_indices.resize(m_width);
        UnpackBits(row, 1, m_width, m_indices.data());
        ExpandPalette(m_indices.data(), m_width, mono, out);
        return;
    }
    ExpandPalette(row, m_width, m_palette, out);
}

void AutodeskReader::OpenAnimator()
{
    m_width = m_in.U16LE();
    m_height = m_in.U16LE();
    const auto left = static_cast<int16_t>(m_in.U16LE());
    const auto top = static_cast<int16_t>(m_in.U16LE());
    const uint8_t bits = m_in.U8();
    const uint8_t compression = m_in.U8();
    m_in.Skip(4 + 16); // data size, reserved
    if (bits != 8 || compression != 0 || !IsPictureSizeAllowed(m_width, m_height))
        InvalidFormat();
    const auto rgb = m_in.Bytes(768);
    for (size_t i = 0; i < 256; ++i)
        m_palette[i] = Color32(Expand6(rgb[3 * i]), Expand6(rgb[3 * i + 1]), Expand6(rgb[3 * i + 2]));
    m_pixels = m_in.Position();
    m_rowBytes = m_width;
    if (m_in.Remaining() / m_width < m_height)
        ReadError();
    // A cel is a piece of the 320x200 screen at its offset: the picture is
    // that screen, grown where the cel reaches past it so nothing is cut. A
    // cel wholly off the screen is shown alone: a far offset must not make a
    // few bytes into a picture of millions of empty pixels.
    if (left >= kScreenWidth || left + m_width <= 0 || top >= kScreenHeight || top + m_height <= 0)
        return;
    const int64_t x0 = std::min<int64_t>(0, left), y0 = std::min<int64_t>(0, top);
    const int64_t x1 = std::max<int64_t>(kScreenWidth, left + m_width);
    const int64_t y1 = std::max<int64_t>(kScreenHeight, top + m_height);
    if (!IsPictureSizeAllowed(x1 - x0, y1 - y0))
        InvalidFormat();
    m_placed = {x1 - x0, y1 - y0, left - x0, top - y0};
}

void AutodeskReader::OpenProPicture()
{
    m_in.Skip(6);
    m_width = m_in.U16LE();
    m_height = m_in.U16LE();
    m_in.Skip(8); // placement, user id
    m_bits = m_in.U8();
    m_in.Seek(64);
    if ((m_bits != 8 && m_bits != 1) || !IsPictureSizeAllowed(m_width, m_height))
        InvalidFormat();
    m_rowBytes = m_bits == 8 ? m_width : (size_t(m_width) + 7) / 8;
    bool pixels = false;
    while (m_in.Remaining() > 0) {
        const size_t start = m_in.Position();
        const uint32_t size = m_in.U32LE();
        const uint16_t type = m_in.U16LE();
        if (size < 6)
            InvalidFormat();
        if (size - 6 > m_in.Remaining())
            ReadError();
        if (type == 0) {
            if (size < 8 || m_in.U16LE() != 0 || (size - 8) % 3 != 0)
                InvalidPalette();
            const size_t count = std::min<size_t>((size - 8) / 3, 256);
            const auto rgb = m_in.Bytes(3 * count);
            m_palette.assign(count, 0);
            for (size_t i = 0; i < count; ++i)
                m_palette[i] = Color32(rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]);
        } else if ((type == 1 && m_bits == 8) || (type == 2 && m_bits == 1)) {
            if ((size - 6) / m_rowBytes < m_height)
                ReadError();
            m_pixels = start + 6;
            pixels = true;
        }
        m_in.Seek(start + size);
    }
    if (!pixels)
        InvalidFormat();
}

void AutodeskReader::OpenFlic()
{
    m_in.Skip(6);
    m_in.Skip(2); // frame count: the first frame is all we read
    m_width = m_in.U16LE();
    m_height = m_in.U16LE();
    const uint16_t depth = m_in.U16LE();
    if ((depth != 8 && depth != 0) || !IsPictureSizeAllowed(m_width, m_height))
        InvalidFormat();
    m_in.Seek(128);

    // A prefix chunk (cel placement) and others may come before the first frame.
    size_t frameSize = 0;
    for (;;) {
        const uint32_t size = m_in.U32LE();
        const uint16_t type = m_in.U16LE();
        if (size < 6)
            InvalidFormat();
        if (type == kFrameMagic) {
            frameSize = size;
            break;
        }
        m_in.Skip(size - 6);
    }
    if (frameSize < 16)
        InvalidFormat();
    const auto bytes = m_in.Bytes(frameSize - 6);
    TByteReader frameData(bytes, FormatName());
    const uint16_t chunks = frameData.U16LE();
    frameData.Skip(8);

    // Each chunk of the frame as (type, its bytes to the frame's end): a
    // chunk's decoder may read on to the frame's end (see Copy).
    auto forEachChunk = [&](auto visit) {
        frameData.Seek(2 + 8);
        for (uint16_t i = 0; i < chunks && frameData.Remaining() >= 6; ++i) {
            const size_t start = frameData.Position();
            const uint32_t size = frameData.U32LE();
            const uint16_t type = frameData.U16LE();
            if (size < 6)
                InvalidFormat();
            visit(type, bytes.subspan(start + 6));
            if (size > frameData.Size() - start)
                break;
            frameData.Seek(start + size);
        }
    };
    // Byte runs give at most 127 pixels for two bytes, after a byte a line:
    // runs too short to fill the frame are refused before it is taken.
    const size_t leastRunBytes = size_t(m_height) * (1 + 2 * size_t(m_width) / 127);
    forEachChunk([&](uint16_t type, std::span<const uint8_t> rest) {
        if (type == kBRun && rest.size() < leastRunBytes)
            ReadError();
    });

    FlicFrame frame{m_width, m_height, std::vector<uint8_t>(size_t(m_width) * m_height)};
    forEachChunk([&](uint16_t type, std::span<const uint8_t> rest) {
        TByteReader chunk(rest, FormatName());
        switch (type) {
        case kColor256: frame.Colors(chunk, false); break;
        case kColor64: frame.Colors(chunk, true); break;
        case kBlack: std::fill(frame.Pixels.begin(), frame.Pixels.end(), 0); break;
        case kBRun: frame.ByteRun(chunk); break;
        case kCopy: frame.Copy(chunk); break;
        case kLC: frame.LineChanges(chunk); break;
        case kSS2:
            if (!frame.WordChanges(chunk))
                CompressionError();
            break;
        default: break; // stamps and chunks of later players
        }
    });
    if (frame.HasColors)
        m_palette = frame.Palette;
    m_frame = std::move(frame.Pixels);
    m_flic = true;
}

} // namespace

std::unique_ptr<TPictureReader> TAutodeskGraphic::OpenRows(TStream& stream)
{
    return std::make_unique<AutodeskReader>(stream, FormatName());
}

} // namespace palvex
