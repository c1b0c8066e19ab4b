// The Kodak Photo CD reader: the Base level of an image pack.
#include "imageio/decoders/PCDGraphic.h"

#include <algorithm>
#include <cmath>
#include <cstring>
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

// PhotoYCC to RGB. Luma at 100% diffuse white is about 182; the scale
// 255/346 keeps highlights up to the format's top instead of cutting them,
// as ImageMagick does, so both readers give the same pixels (within 1).
inline uint8_t ToByte(double v)
{
    const double scaled = std::floor(v * 255.0 / 346.0 + 0.5);
    return static_cast<uint8_t>(std::clamp(scaled, 0.0, 255.0));
}

TColor32 YccColor(int y, int c1, int c2)
{
    const double luma = 1.3584 * y;
    const double chroma1 = 2.2179 * (c1 - 156);
    const double chroma2 = 1.8215 * (c2 - 137);
    return Color32(ToByte(luma + chroma2), ToByte(luma - 0.194 * chroma1 - 0.509 * chroma2), ToByte(luma + chroma1));
}

// One row of a chroma plane at full resolution, from its stored rows k and
// k+1 (the last row repeated): stored samples at even positions, rounded
// means of their neighbours between them.
void ChromaRow(const uint8_t* a, const uint8_t* b, bool oddRow, int* out)
{
    const size_t last = kBaseWidth / 2 - 1;
    for (size_t x = 0; x < kBaseWidth; ++x) {
        const size_t cx = x / 2, nx = std::min(cx + 1, last);
        if (!oddRow)
            out[x] = x % 2 == 0 ? a[cx] : (a[cx] + a[nx] + 1) >> 1;
        else
            out[x] = x % 2 == 0 ? (a[cx] + b[cx] + 1) >> 1 : (a[cx] + a[nx] + b[cx] + b[nx] + 2) >> 2;
    }
}

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
        // 1 turns the stored picture a quarter to the left, 3 to the right:
        // its rows become columns, so it is filled whole.
        if (m_orientation == 1 || m_orientation == 3)
            SetPicture(kBaseHeight, kBaseWidth, false, TFill::Whole);
        else
            SetPicture(kBaseWidth, kBaseHeight, false);
    }

private:
    // Stored row y: two luma rows, then one row of each half-width chroma
    // plane, make a pair of rows.
    void StoredRow(size_t y, TColor32* out)
    {
        const size_t pair = y / 2, next = std::min(pair + 1, kBaseHeight / 2 - 1);
        m_in.Seek(kBaseSector * kSector + next * kRowPairBytes + 2 * kBaseWidth);
        const auto below = m_in.Bytes(kBaseWidth);
        std::copy(below.begin(), below.end(), m_below);
        m_in.Seek(kBaseSector * kSector + pair * kRowPairBytes);
        const auto rows = m_in.Bytes(kRowPairBytes);
        const uint8_t* chroma = rows.data() + 2 * kBaseWidth;
        ChromaRow(chroma, m_below, y % 2 != 0, m_c1);
        ChromaRow(chroma + kBaseWidth / 2, m_below + kBaseWidth / 2, y % 2 != 0, m_c2);
        const uint8_t* luma = rows.data() + (y % 2) * kBaseWidth;
        for (size_t x = 0; x < kBaseWidth; ++x)
            out[x] = YccColor(luma[x], m_c1[x], m_c2[x]);
    }

    void ReadRow(int32_t y, TColor32* out) override { StoredRow(size_t(y), out); }

    void ReadWhole(TBitmap32& picture) override
    {
        std::vector<TColor32> row(kBaseWidth);
        for (size_t y = 0; y < kBaseHeight; ++y) {
            StoredRow(y, row.data());
            for (size_t x = 0; x < kBaseWidth; ++x) {
                if (m_orientation == 1)
                    picture.SetPixel(int32_t(y), int32_t(kBaseWidth - 1 - x), row[x]);
                else
                    picture.SetPixel(int32_t(kBaseHeight - 1 - y), int32_t(x), row[x]);
            }
        }
    }

    TByteReader m_in;
    int m_orientation = 0;
    uint8_t m_below[kBaseWidth];
    int m_c1[kBaseWidth], m_c2[kBaseWidth];
};

} // namespace

std::unique_ptr<TPictureReader> TPCDGraphic::OpenRows(TStream& stream)
{
    return std::make_unique<PCDReader>(stream, FormatName());
}

} // namespace palvex
