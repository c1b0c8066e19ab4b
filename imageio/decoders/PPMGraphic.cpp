// The portable map reader.
#include "imageio/decoders/PPMGraphic.h"

#include <vector>

#include "imageio/decoders/Codecs.h"

namespace palvex {

PALVEX_DEFINE_GRAPHIC_CLASS(TPPMGraphic, TDecoderGraphic)

namespace {

constexpr const char* kName = "PPM";

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
    uint8_t Peek() { return m_in.Peek(); }

    TByteReader& m_in;
};


class TPPMReader final : public TDecoderReader {
public:
    explicit TPPMReader(TStream& stream) : TDecoderReader(kName), m_in(stream, kName), m_text(m_in)
    {
        if (m_in.U8() != 'P')
            InvalidFormat();
        const uint8_t kind = m_in.U8();
        if (kind < '1' || kind > '6')
            InvalidFormat();
        m_plain = kind <= '3';
        m_form = (kind - '1') % 3; // 0 bitmap, 1 gray map, 2 pixel map

        uint32_t width = 0, height = 0;
        if (!m_text.Number(kMaxPictureSide, width) || !m_text.Number(kMaxPictureSide, height))
            InvalidFormat();
        if (m_form != 0 && (!m_text.Number(65535, m_maxValue) || m_maxValue == 0))
            InvalidFormat();
        if (!IsPictureSizeAllowed(width, height))
            InvalidFormat();
        if (!m_plain) {
            // Exactly one white-space byte separates the header from the raster.
            if (!IsSpace(m_in.U8()))
                InvalidFormat();
        }

        const size_t channels = m_form == 2 ? 3 : 1;
        m_sampleBytes = m_maxValue > 255 ? 2 : 1;
        if (!m_plain) {
            if (m_form == 0)
                PackedRowBytes(width, 1, m_rowBytes);
            else
                m_rowBytes = size_t(width) * channels * m_sampleBytes;
            if (m_in.Remaining() < m_rowBytes * height)
                ReadError(); // before anything is allocated
        }
        // Plain samples take a character each at least.
        if (m_plain && m_in.Remaining() / channels < size_t(width) * height)
            InvalidFormat();
        m_bits.resize(width);
        SetPicture(width, height, /*alpha=*/false);
    }

private:
    uint8_t Sample()
    {
        uint32_t v = 0;
        if (m_plain) {
            if (!m_text.Number(UINT32_MAX >> 1, v))
                InvalidFormat();
        } else {
            v = m_sampleBytes == 2 ? m_in.U16BE() : m_in.U8();
        }
        return ScaleSample(v, m_maxValue);
    }

    void ReadRow(int32_t, TColor32* out) override
    {
        const size_t width = m_bits.size();
        if (m_form == 0) {
            if (m_plain) {
                for (size_t x = 0; x < width; ++x)
                    if (!m_text.Bit(m_bits[x]))
                        InvalidFormat();
            } else {
                UnpackBits(m_in.Bytes(m_rowBytes).data(), 1, width, m_bits.data());
            }
            for (size_t x = 0; x < width; ++x)
                out[x] = m_bits[x] ? Color32(0, 0, 0) : Color32(255, 255, 255); // 1 is black
            return;
        }
        for (size_t x = 0; x < width; ++x) {
            if (m_form == 1) {
                const uint8_t g = Sample();
                out[x] = Color32(g, g, g);
            } else {
                const uint8_t r = Sample(), g = Sample(), b = Sample();
                out[x] = Color32(r, g, b);
            }
        }
    }

    TByteReader m_in;
    TextReader m_text;
    bool m_plain = false;
    int m_form = 0;
    uint32_t m_maxValue = 1;
    size_t m_sampleBytes = 1;
    size_t m_rowBytes = 0;
    std::vector<uint8_t> m_bits;
};

} // namespace

std::unique_ptr<TPictureReader> TPPMGraphic::OpenRows(TStream& stream)
{
    return std::make_unique<TPPMReader>(stream);
}

} // namespace palvex
