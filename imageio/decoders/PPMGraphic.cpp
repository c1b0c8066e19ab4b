// The portable map reader.
#include "imageio/decoders/PPMGraphic.h"

#include <vector>

#include "imageio/decoders/Codecs.h"

namespace palvex {

PALVEX_DEFINE_GRAPHIC_CLASS(TPPMGraphic, TDecoderGraphic)

namespace {

inline bool IsSpace(uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// Reads the text parts of a portable map; running out is a read error.
class TextReader {
public:
    explicit TextReader(TByteReader& in) : m_in(in) {}

    // Skips white space and comments (from '#' to the end of the line).
    void SkipSpace()
    {
        while (m_in.Remaining() > 0) {
            const uint8_t c = Peek();
            if (c == '#') {
                while (m_in.Remaining() > 0 && Peek() != '\n' && Peek() != '\r')
                    m_in.U8();
            } else if (IsSpace(c)) {
                m_in.U8();
            } else {
                return;
            }
        }
    }

    // A decimal number no larger than limit; anything else is invalid content.
    // Returns false when the value is not a number at all.
    bool Number(uint32_t limit, uint32_t& value)
    {
        SkipSpace();
        if (m_in.Remaining() == 0)
            m_in.U8(); // raises the read error
        if (Peek() < '0' || Peek() > '9')
            return false;
        uint64_t v = 0;
        while (m_in.Remaining() > 0 && Peek() >= '0' && Peek() <= '9') {
            v = v * 10 + (m_in.U8() - '0');
            if (v > limit)
                return false;
        }
        value = static_cast<uint32_t>(v);
        return true;
    }

    // One plain-bitmap digit; white space between digits is optional.
    bool Bit(uint8_t& bit)
    {
        SkipSpace();
        const uint8_t c = m_in.U8();
        if (c != '0' && c != '1')
            return false;
        bit = c - '0';
        return true;
    }

private:
    uint8_t Peek()
    {
        const uint8_t c = m_in.U8();
        m_in.Seek(m_in.Position() - 1);
        return c;
    }

    TByteReader& m_in;
};

} // namespace

void TPPMGraphic::Decode(std::span<const uint8_t> data)
{
    TByteReader in(data, FormatName());
    if (in.U8() != 'P')
        InvalidFormat();
    const uint8_t kind = in.U8();
    if (kind < '1' || kind > '6')
        InvalidFormat();
    const bool plain = kind <= '3';
    const int form = (kind - '1') % 3; // 0 bitmap, 1 gray map, 2 pixel map

    TextReader text(in);
    uint32_t width = 0, height = 0, maxValue = 1;
    if (!text.Number(kMaxPictureSide, width) || !text.Number(kMaxPictureSide, height))
        InvalidFormat();
    if (form != 0 && (!text.Number(65535, maxValue) || maxValue == 0))
        InvalidFormat();
    if (!IsPictureSizeAllowed(width, height))
        InvalidFormat();
    if (!plain) {
        // Exactly one white-space byte separates the header from the raster.
        if (!IsSpace(in.U8()))
            InvalidFormat();
    }

    const size_t channels = form == 2 ? 3 : 1;
    const size_t sampleBytes = maxValue > 255 ? 2 : 1;
    size_t rasterBytes = 0;
    if (!plain) {
        size_t rowBytes = 0;
        if (form == 0)
            PackedRowBytes(width, 1, rowBytes);
        else
            rowBytes = size_t(width) * channels * sampleBytes;
        rasterBytes = rowBytes * height;
        if (in.Remaining() < rasterBytes)
            ReadError(); // before the allocation it would fill
    }

    // Plain samples take a character each at least.
    if (plain && in.Remaining() / channels < size_t(width) * height)
        InvalidFormat();
    AllocatePicture(width, height, TPixelFormat::pf24bit);
    std::vector<TColor32> row(width);
    std::vector<uint8_t> bits(width);
    auto sample = [&]() -> uint8_t {
        uint32_t v = 0;
        if (plain) {
            if (!text.Number(UINT32_MAX >> 1, v))
                InvalidFormat();
        } else {
            v = sampleBytes == 2 ? in.U16BE() : in.U8();
        }
        return ScaleSample(v, maxValue);
    };
    for (uint32_t y = 0; y < height; ++y) {
        if (form == 0) {
            if (plain) {
                for (uint32_t x = 0; x < width; ++x)
                    if (!text.Bit(bits[x]))
                        InvalidFormat();
            } else {
                size_t rowBytes = 0;
                PackedRowBytes(width, 1, rowBytes);
                UnpackBits(in.Bytes(rowBytes).data(), 1, width, bits.data());
            }
            for (uint32_t x = 0; x < width; ++x)
                row[x] = bits[x] ? Color32(0, 0, 0) : Color32(255, 255, 255); // 1 is black
        } else {
            for (uint32_t x = 0; x < width; ++x) {
                if (form == 1) {
                    const uint8_t g = sample();
                    row[x] = Color32(g, g, g);
                } else {
                    const uint8_t r = sample(), g = sample(), b = sample();
                    row[x] = Color32(r, g, b);
                }
            }
        }
        StoreRow32(static_cast<int32_t>(y), row.data());
    }
}

} // namespace palvex
