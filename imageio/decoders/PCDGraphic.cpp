// The Kodak Photo CD reader: the Base level of an image pack, and the 4Base
// and 16Base levels built on it from their Huffman-coded residuals.
#include "imageio/decoders/PCDGraphic.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <optional>
#include <vector>

#include "imageio/decoders/Codecs.h"

namespace palvex {

PALVEX_DEFINE_GRAPHIC_CLASS(TPCDGraphic, TDecoderGraphic)

namespace {

constexpr size_t kSector = 2048;
constexpr size_t kBaseSector = 96;
constexpr size_t kBaseWidth = 768;
constexpr size_t kBaseHeight = 512;
// Two luma rows and one row of each half-width chroma plane.
constexpr size_t kRowPairBytes = 2 * kBaseWidth + kBaseWidth;
constexpr size_t kOrientationOffset = 0x0E02;
constexpr size_t k4BaseTableSector = 388;
constexpr size_t k4BaseDataSector = 389;
// From the sector after the 4Base stream's end: 16Base tables, then data.
constexpr size_t k16BaseTableGap = 12;
constexpr size_t k16BaseDataGap = 14;
constexpr uint32_t kSync = 0xFFFFFE; // 23 ones and a zero, never inside data

// PhotoYCC to RGB. Luma at 100% diffuse white is about 182; the scale
// 255/346 keeps highlights up to the format's top instead of cutting them,
// as ImageMagick does, so both readers give the same pixels (within 1).
inline uint8_t ToByte(double v)
{
    // Truncation rounds as floor would for every value not clamped to 0.
    const int scaled = static_cast<int>(v * 255.0 / 346.0 + 0.5);
    return static_cast<uint8_t>(std::clamp(scaled, 0, 255));
}

// The products of the conversion for each stored value, worked out once.
struct YccTables {
    std::array<double, 256> Luma, Blue, Red, Green1, Green2;
    YccTables()
    {
        for (int v = 0; v < 256; ++v) {
            const double chroma1 = 2.2179 * (v - 156), chroma2 = 1.8215 * (v - 137);
            Luma[size_t(v)] = 1.3584 * v;
            Blue[size_t(v)] = chroma1;
            Red[size_t(v)] = chroma2;
            Green1[size_t(v)] = 0.194 * chroma1;
            Green2[size_t(v)] = 0.509 * chroma2;
        }
    }
};

void YccRow(const uint8_t* y, const uint8_t* c1, const uint8_t* c2, size_t width, TColor32* out)
{
    static const YccTables t;
    for (size_t x = 0; x < width; ++x) {
        const double luma = t.Luma[y[x]];
        out[x] = Color32(ToByte(luma + t.Red[c2[x]]), ToByte(luma - t.Green1[c1[x]] - t.Green2[c2[x]]),
                         ToByte(luma + t.Blue[c1[x]]));
    }
}

// One plane of 8-bit samples.
struct Plane {
    size_t Width = 0, Height = 0;
    std::vector<uint8_t> Samples;

    Plane() = default;
    Plane(size_t width, size_t height) : Width(width), Height(height), Samples(width * height) {}
    uint8_t* Row(size_t y) { return Samples.data() + y * Width; }
    const uint8_t* Row(size_t y) const { return Samples.data() + y * Width; }
};

// Row y of the plane at twice its size: stored samples at even positions,
// rounded means of their neighbours between them, the last row and column
// repeated at the edge.
void DoubledRow(const Plane& plane, size_t y, uint8_t* out)
{
    const size_t last = plane.Width - 1;
    const uint8_t* a = plane.Row(y / 2);
    const uint8_t* b = plane.Row(std::min(y / 2 + 1, plane.Height - 1));
    for (size_t cx = 0; cx < plane.Width; ++cx) {
        const size_t nx = std::min(cx + 1, last);
        if (y % 2 == 0) {
            out[2 * cx] = a[cx];
            out[2 * cx + 1] = uint8_t((a[cx] + a[nx] + 1) >> 1);
        } else {
            out[2 * cx] = uint8_t((a[cx] + b[cx] + 1) >> 1);
            out[2 * cx + 1] = uint8_t((a[cx] + a[nx] + b[cx] + b[nx] + 2) >> 2);
        }
    }
}

Plane Doubled(const Plane& plane)
{
    Plane twice(2 * plane.Width, 2 * plane.Height);
    for (size_t y = 0; y < twice.Height; ++y)
        DoubledRow(plane, y, twice.Row(y));
    return twice;
}

// A residual code table: codes of 1 to 16 bits, each adding a signed delta.
// Looked up by the next 16 bits of the stream.
class HuffmanTable {
public:
    struct Code {
        uint8_t Length = 0; // 0: no code starts with these bits
        int8_t Delta = 0;
    };

    // False, with nothing read past the file, when the table is cut short,
    // has a code longer than 16 bits, or codes that clash (one a prefix of
    // another, or more codes than their lengths leave room for).
    bool Read(TByteReader& in)
    {
        if (in.Remaining() < 1)
            return false;
        const size_t count = size_t(in.U8()) + 1;
        if (in.Remaining() < 4 * count)
            return false;
        m_codes.assign(size_t(1) << 16, Code{});
        for (size_t i = 0; i < count; ++i) {
            const unsigned length = in.U8() + 1u;
            const unsigned bits = in.U16BE();
            const auto delta = static_cast<int8_t>(in.U8());
            if (length > 16)
                return false;
            const size_t span = size_t(1) << (16 - length);
            const size_t first = (bits >> (16 - length)) * span;
            for (size_t j = first; j < first + span; ++j) {
                if (m_codes[j].Length != 0)
                    return false;
                m_codes[j] = Code{uint8_t(length), delta};
            }
        }
        return true;
    }

    Code Lookup(uint32_t next16) const { return m_codes[next16]; }

private:
    std::vector<Code> m_codes;
};

// Most significant bit first over the file from a byte offset on. Past the
// file's end it reads zeros, which never make a sync, and says so.
class BitReader {
public:
    BitReader(TByteReader& in, size_t start) : m_in(in), m_start(start), m_bitsLeft(int64_t(in.Size() - start) * 8)
    {
        in.Seek(start);
        Fill();
    }

    uint32_t Peek(int count) const { return uint32_t(m_bits >> (64 - count)); }
    void Skip(int count)
    {
        m_bits <<= count;
        m_held -= count;
        m_bitsLeft -= count;
        m_consumed += size_t(count);
        if (m_held < 32)
            Fill();
    }
    bool PastEnd() const { return m_bitsLeft < 0; }
    // The file offset of the byte that holds the next bit.
    size_t Offset() const { return m_start + m_consumed / 8; }

    // On to just after the next sync; false when the file ends first. Whole
    // runs of bits that cannot hold a sync are passed at once.
    bool NextSync()
    {
        while (m_bitsLeft >= 24) {
            const uint32_t window = Peek(24);
            if (window == kSync)
                return true;
            const int ones = std::countl_one(window << 8);
            Skip(ones < 23 ? ones + 1 : 1);
        }
        return false;
    }

private:
    void Fill()
    {
        while (m_held <= 56) {
            if (m_next == m_filled) {
                m_filled = m_in.ReadSome(m_buffer.data(), m_buffer.size());
                m_next = 0;
            }
            const uint8_t byte = m_filled == 0 ? 0 : m_buffer[m_next++];
            m_bits |= uint64_t(byte) << (56 - m_held);
            m_held += 8;
        }
    }

    TByteReader& m_in;
    size_t m_start;
    int64_t m_bitsLeft; // of the file, from the next bit on
    size_t m_consumed = 0;
    uint64_t m_bits = 0;
    int m_held = 0;
    std::array<uint8_t, 4096> m_buffer{};
    size_t m_next = 0, m_filled = 0;
};

class PCDReader final : public TDecoderReader {
public:
    PCDReader(TStream& stream, const char* name) : TDecoderReader(name), m_in(stream, name)
    {
        m_in.Seek(kSector);
        if (std::memcmp(m_in.Bytes(7).data(), "PCD_IPI", 7) != 0)
            InvalidFormat();
        m_in.Seek(kOrientationOffset);
        m_orientation = m_in.U8() & 3;
        if (m_in.Size() < kBaseSector * kSector + kRowPairBytes * kBaseHeight / 2)
            ReadError();
        ReadBase();
        ReadResidualLevels();
        const size_t width = m_luma.Width, height = m_luma.Height;
        m_c1.resize(width), m_c2.resize(width);
        // 1 turns the stored picture a quarter to the left, 3 to the right:
        // its rows become columns, so it is filled whole.
        if (m_orientation == 1 || m_orientation == 3)
            SetPicture(int64_t(height), int64_t(width), false, TFill::Whole);
        else
            SetPicture(int64_t(width), int64_t(height), false);
    }

private:
    // The uncompressed Base level: each pair of luma rows followed by one row
    // of each half-size chroma plane.
    void ReadBase()
    {
        m_luma = Plane(kBaseWidth, kBaseHeight);
        m_chroma1 = Plane(kBaseWidth / 2, kBaseHeight / 2);
        m_chroma2 = Plane(kBaseWidth / 2, kBaseHeight / 2);
        m_in.Seek(kBaseSector * kSector);
        for (size_t pair = 0; pair < kBaseHeight / 2; ++pair) {
            const auto rows = m_in.Bytes(kRowPairBytes);
            std::memcpy(m_luma.Row(2 * pair), rows.data(), 2 * kBaseWidth);
            std::memcpy(m_chroma1.Row(pair), rows.data() + 2 * kBaseWidth, kBaseWidth / 2);
            std::memcpy(m_chroma2.Row(pair), rows.data() + 2 * kBaseWidth + kBaseWidth / 2, kBaseWidth / 2);
        }
    }

    // The largest level the file holds whole. 4Base adds luma residuals to
    // Base doubled; 16Base adds luma and chroma residuals to 4Base doubled.
    // A level whose tables or stream are missing or damaged is not there:
    // the picture is the level below, never a partly corrected one.
    void ReadResidualLevels()
    {
        HuffmanTable table;
        if (!TableAt(k4BaseTableSector, std::span(&table, 1)))
            return;
        Plane luma4 = Doubled(m_luma);
        const std::optional<size_t> end = AddResiduals(k4BaseDataSector, std::span(&table, 1), luma4, {});
        if (!end)
            return;
        m_luma = std::move(luma4);
        m_chroma1 = Doubled(m_chroma1);
        m_chroma2 = Doubled(m_chroma2);

        const size_t next = *end / kSector + 1;
        std::array<HuffmanTable, 3> tables;
        if (!TableAt(next + k16BaseTableGap, tables))
            return;
        Plane luma16 = Doubled(m_luma);
        std::array<Plane, 2> chroma = {Doubled(m_chroma1), Doubled(m_chroma2)};
        if (!AddResiduals(next + k16BaseDataGap, tables, luma16, chroma))
            return;
        m_luma = std::move(luma16);
        m_chroma1 = std::move(chroma[0]);
        m_chroma2 = std::move(chroma[1]);
    }

    // The tables that follow each other from the start of sector on.
    bool TableAt(size_t sector, std::span<HuffmanTable> tables)
    {
        if (m_in.Size() / kSector <= sector)
            return false;
        m_in.Seek(sector * kSector);
        return std::all_of(tables.begin(), tables.end(), [&](HuffmanTable& t) { return t.Read(m_in); });
    }

    // Adds the rows of residuals from sector on: after each sync a header
    // (plane: 0 luma, 2 and 3 chroma; row, counted in luma rows), then a code
    // per sample until the row is full or the next sync. A row number of the
    // level's height ends the stream; with a single table (4Base) so does the
    // first chroma row. Returns the offset of the ending sync, or nothing when
    // the stream is damaged or the file ends first.
    std::optional<size_t> AddResiduals(size_t sector, std::span<const HuffmanTable> tables, Plane& luma,
                                       std::span<Plane> chroma)
    {
        if (m_in.Size() / kSector <= sector)
            return std::nullopt;
        BitReader bits(m_in, sector * kSector);
        for (;;) {
            if (!bits.NextSync())
                return std::nullopt;
            const size_t syncOffset = bits.Offset();
            bits.Skip(24);
            const uint32_t header = bits.Peek(16);
            bits.Skip(16);
            const uint32_t plane = header >> 14;
            const size_t row = (header >> 1) & 0x1FFF;
            if (bits.PastEnd() || plane == 1 || row > luma.Height)
                return std::nullopt;
            if (row == luma.Height || (plane != 0 && chroma.empty()))
                return syncOffset;
            Plane& target = plane == 0 ? luma : chroma[plane - 2];
            const HuffmanTable& table = tables[plane == 0 ? 0 : plane - 1];
            uint8_t* samples = target.Row(plane == 0 ? row : row / 2);
            for (size_t x = 0; x < target.Width && bits.Peek(24) != kSync; ++x) {
                const HuffmanTable::Code code = table.Lookup(bits.Peek(16));
                if (code.Length == 0)
                    return std::nullopt;
                bits.Skip(code.Length);
                samples[x] = uint8_t(std::clamp(samples[x] + code.Delta, 0, 255));
            }
            if (bits.PastEnd())
                return std::nullopt;
        }
    }

    // Stored row y: its luma and the chroma planes doubled.
    void StoredRow(size_t y, TColor32* out)
    {
        DoubledRow(m_chroma1, y, m_c1.data());
        DoubledRow(m_chroma2, y, m_c2.data());
        YccRow(m_luma.Row(y), m_c1.data(), m_c2.data(), m_luma.Width, out);
    }

    void ReadRow(int32_t y, TColor32* out) override { StoredRow(size_t(y), out); }

    // Turned: stored (x, y) goes to (y, width-1-x) for a quarter left, to
    // (height-1-y, x) for a quarter right. A band of stored rows at a time, so
    // that each picture row is written in runs, not a pixel per row.
    void ReadWhole(TBitmap32& picture) override
    {
        constexpr size_t kBand = 32;
        const size_t width = m_luma.Width, height = m_luma.Height;
        std::vector<TColor32> band(kBand * width);
        for (size_t top = 0; top < height; top += kBand) {
            const size_t rows = std::min(kBand, height - top);
            for (size_t i = 0; i < rows; ++i)
                StoredRow(top + i, band.data() + i * width);
            for (size_t x = 0; x < width; ++x) {
                const bool left = m_orientation == 1;
                TColor32* out = picture.RowAddress(int32_t(left ? width - 1 - x : x));
                for (size_t i = 0; i < rows; ++i)
                    out[left ? top + i : height - 1 - top - i] = band[i * width + x];
            }
        }
    }

    TByteReader m_in;
    int m_orientation = 0;
    // The level read: full-size luma, chroma at half its size.
    Plane m_luma, m_chroma1, m_chroma2;
    std::vector<uint8_t> m_c1, m_c2;
};

} // namespace

std::unique_ptr<TPictureReader> TPCDGraphic::OpenRows(TStream& stream)
{
    return std::make_unique<PCDReader>(stream, FormatName());
}

} // namespace palvex
