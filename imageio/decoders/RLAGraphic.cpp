// The Alias/Wavefront RLA reader.
#include "imageio/decoders/RLAGraphic.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

#include "imageio/decoders/Codecs.h"

namespace palvex {

PALVEX_DEFINE_GRAPHIC_CLASS(TRLAGraphic, TDecoderGraphic)

namespace {

constexpr size_t kHeaderBytes = 740;
constexpr uint16_t kStorageFloat = 4;

struct Window {
    int32_t Left, Right, Bottom, Top;
    int32_t Width() const { return Right - Left + 1; }
    int32_t Height() const { return Top - Bottom + 1; }
    bool Valid() const { return Right >= Left && Top >= Bottom; }
    bool Contains(const Window& w) const
    {
        return w.Left >= Left && w.Right <= Right && w.Bottom >= Bottom && w.Top <= Top;
    }
};

// How one group of channels (colour or matte) is stored.
struct ChannelForm {
    uint16_t Storage = 0;
    uint16_t Bits = 8;
    size_t SampleBytes() const { return Bits <= 8 ? 1 : Bits <= 16 ? 2 : 4; }
    bool Float() const { return Storage == kStorageFloat; }
    uint32_t MaxValue() const { return Bits >= 32 ? UINT32_MAX : (uint32_t(1) << Bits) - 1; }
};

Window ReadWindow(TByteReader& in)
{
    Window w;
    w.Left = static_cast<int16_t>(in.U16BE());
    w.Right = static_cast<int16_t>(in.U16BE());
    w.Bottom = static_cast<int16_t>(in.U16BE());
    w.Top = static_cast<int16_t>(in.U16BE());
    return w;
}

uint8_t FloatTo8(float v)
{
    if (!(v > 0.0f)) // also NaN
        return 0;
    if (v >= 1.0f)
        return 255;
    return static_cast<uint8_t>(std::lround(v * 255.0f));
}

// Floats are stored big-endian by 3ds Max and in the writer's own (little-
// endian) order by OpenImageIO; the order whose values look like pixel
// values wins.
void DecodeFloats(std::span<const uint8_t> bytes, std::span<uint8_t> out)
{
    auto value = [&](size_t i, bool big) {
        const uint8_t* p = bytes.data() + 4 * i;
        const uint32_t u = big ? (uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3])
                               : (uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]);
        return std::bit_cast<float>(u);
    };
    auto plausible = [&](bool big) {
        size_t count = 0;
        for (size_t i = 0; i < out.size(); ++i) {
            const float v = value(i, big);
            count += (v == 0.0f || (std::fabs(v) > 1e-6f && std::fabs(v) < 1e3f)) ? 1 : 0;
        }
        return count;
    };
    const bool big = plausible(true) > plausible(false);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = FloatTo8(value(i, big));
}

class RLAReader final : public TDecoderReader {
public:
    RLAReader(TStream& stream, const char* name) : TDecoderReader(name), m_in(stream, name), m_name(name)
    {
        if (!ReadHeader())
            InvalidFormat();
        if (!EnoughData())
            ReadError();
        SetPicture(PictureWidth(), PictureHeight(), HasMatte());
    }

private:
    // Reads and checks the header and the offset table; false for anything
    // that is no RLA picture this reader takes.
    bool ReadHeader();

    int32_t PictureWidth() const { return m_full.Width(); }
    int32_t PictureHeight() const { return m_full.Height(); }
    bool HasMatte() const { return m_matteChannels > 0; }

    // Whether the data can hold every scanline: the least a record of the
    // active width takes, times the scanlines.
    bool EnoughData() const;

    // One row, top to bottom: scanlines are found through the table.
    void ReadRow(int32_t y, TColor32* row) override;
    // False when a record's data is inconsistent.
    bool DecodeChannel(const ChannelForm& form, std::span<uint8_t> out);

    TByteReader m_in;
    const char* m_name;
    Window m_full{}, m_active{};
    uint16_t m_colorChannels = 0, m_matteChannels = 0;
    ChannelForm m_color, m_matte;
    std::vector<uint32_t> m_offsets; // per scanline, bottom first
    std::vector<uint8_t> m_samples, m_plane;
    std::vector<uint32_t> m_values;
};

bool RLAReader::ReadHeader()
{
    if (m_in.Size() < kHeaderBytes)
        m_in.Skip(kHeaderBytes); // reports the short file
    m_full = ReadWindow(m_in);
    m_active = ReadWindow(m_in);
    m_in.Skip(2); // frame number
    m_color.Storage = m_in.U16BE();
    m_colorChannels = m_in.U16BE();
    m_matteChannels = m_in.U16BE();
    m_in.Skip(2); // auxiliary channels: after colour and matte in a record, never read
    const uint16_t revision = m_in.U16BE();
    m_in.Seek(658);
    m_color.Bits = m_in.U16BE();
    m_matte.Storage = m_in.U16BE();
    m_matte.Bits = m_in.U16BE();

    if (revision != 0xFFFE && revision != 0xFFFD && revision != 0)
        return false;
    if (!m_active.Valid() || (m_colorChannels != 1 && m_colorChannels != 3) || m_matteChannels > 3)
        return false;
    for (ChannelForm* form : {&m_color, &m_matte}) {
        // Old files leave the bit counts zero and mean bytes.
        if (form->Bits == 0)
            form->Bits = form->Storage == kStorageFloat ? 32 : 8;
        if (form->Bits > 32 || (form->Storage > 2 && form->Storage != kStorageFloat))
            return false;
        if (form->Float() && form->Bits != 32)
            return false;
    }
    // A full window that does not hold the active one is ignored.
    if (!m_full.Valid() || !m_full.Contains(m_active))
        m_full = m_active;
    if (!IsPictureSizeAllowed(m_full.Width(), m_full.Height()))
        return false;

    const size_t height = size_t(m_active.Height());
    m_in.Seek(kHeaderBytes);
    if (m_in.Remaining() / 4 < height)
        m_in.Skip(height * 4); // reports the short file
    const size_t dataStart = kHeaderBytes + 4 * height;
    m_offsets.resize(height);
    for (uint32_t& offset : m_offsets) {
        offset = m_in.U32BE();
        if (offset < dataStart || offset >= m_in.Size())
            return false;
    }
    return true;
}

bool RLAReader::EnoughData() const
{
    // Every channel record is a length and at least two bytes a 128 samples.
    const size_t width = size_t(m_active.Width());
    const size_t channels = size_t(m_colorChannels) + m_matteChannels;
    const size_t perLine = channels * (2 + 2 * ((width + 127) / 128));
    return (m_in.Size() - kHeaderBytes - 4 * m_offsets.size()) / perLine >= m_offsets.size();
}

bool RLAReader::DecodeChannel(const ChannelForm& form, std::span<uint8_t> out)
{
    const size_t length = m_in.U16BE();
    TByteReader record(m_in.Bytes(length), m_name);
    const size_t width = out.size();
    // 3ds Max writes 32-bit float colour with an integer storage type; the
    // record length tells raw floats from run-length integers.
    if (form.Float() || (form.Bits == 32 && length == 4 * width)) {
        if (length != 4 * width)
            return false;
        DecodeFloats(record.Bytes(length), out);
        return true;
    }
    // Integer samples: one run-length plane a byte, most significant first.
    const size_t planes = form.SampleBytes();
    if (planes == 1) {
        DecodeSignedRuns(record, out, true);
        if (form.Bits < 8)
            for (uint8_t& v : out)
                v = ScaleSample(v, form.MaxValue());
        return true;
    }
    m_plane.resize(width);
    m_values.assign(width, 0);
    for (size_t p = 0; p < planes; ++p) {
        DecodeSignedRuns(record, m_plane, true);
        for (size_t x = 0; x < width; ++x)
            m_values[x] = (m_values[x] << 8) | m_plane[x];
    }
    for (size_t x = 0; x < width; ++x)
        out[x] = ScaleSample(m_values[x], form.MaxValue());
    return true;
}

void RLAReader::ReadRow(int32_t y, TColor32* row)
{
    const int32_t width = PictureWidth();
    const TColor32 outside = HasMatte() ? 0 : Color32(0, 0, 0);
    // The active window's rows, counted from the top of the full window.
    const int32_t activeY = y - (m_full.Top - m_active.Top);
    if (activeY < 0 || activeY >= m_active.Height()) {
        std::fill_n(row, width, outside);
        return;
    }
    const size_t activeWidth = size_t(m_active.Width());
    const size_t channels = size_t(m_colorChannels) + (HasMatte() ? 1 : 0);
    m_samples.resize(channels * activeWidth);
    // The table lists the bottom scanline first.
    m_in.Seek(m_offsets[m_offsets.size() - 1 - size_t(activeY)]);
    bool consistent = true;
    for (size_t c = 0; c < m_colorChannels; ++c)
        consistent &= DecodeChannel(m_color, std::span(m_samples).subspan(c * activeWidth, activeWidth));
    if (HasMatte())
        consistent &= DecodeChannel(m_matte, std::span(m_samples).subspan(m_colorChannels * activeWidth, activeWidth));
    if (!consistent)
        CompressionError();

    const int32_t left = m_active.Left - m_full.Left;
    std::fill_n(row, width, outside);
    const uint8_t* r = m_samples.data();
    const uint8_t* g = m_colorChannels == 3 ? r + activeWidth : r;
    const uint8_t* b = m_colorChannels == 3 ? r + 2 * activeWidth : r;
    const uint8_t* a = HasMatte() ? r + m_colorChannels * activeWidth : nullptr;
    for (size_t x = 0; x < activeWidth; ++x)
        row[size_t(left) + x] = Color32(r[x], g[x], b[x], a ? a[x] : 0xFF);
}

} // namespace

std::unique_ptr<TPictureReader> TRLAGraphic::OpenRows(TStream& stream)
{
    return std::make_unique<RLAReader>(stream, FormatName());
}

} // namespace palvex
