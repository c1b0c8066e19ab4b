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

// A chroma sample at full resolution: stored samples at even positions,
// rounded means of their neighbours between them, the last ones repeated.
inline int Chroma(const uint8_t* plane, size_t stride, size_t width, size_t height, size_t x, size_t y)
{
    const size_t cx = x / 2, cy = y / 2;
    const size_t nx = std::min(cx + 1, width - 1), ny = std::min(cy + 1, height - 1);
    const int a = plane[cy * stride + cx];
    if (x % 2 == 0 && y % 2 == 0)
        return a;
    const int right = plane[cy * stride + nx], below = plane[ny * stride + cx];
    if (y % 2 == 0)
        return (a + right + 1) >> 1;
    if (x % 2 == 0)
        return (a + below + 1) >> 1;
    return (a + right + below + plane[ny * stride + nx] + 2) >> 2;
}

} // namespace

void TPCDGraphic::Decode(std::span<const uint8_t> data)
{
    TByteReader in(data, FormatName());
    in.Seek(kSector);
    const auto signature = in.Bytes(7);
    if (std::memcmp(signature.data(), "PCD_IPI", 7) != 0)
        InvalidFormat();
    in.Seek(kOrientationOffset);
    const int orientation = in.U8() & 3;
    in.Seek(kBaseSector * kSector);
    const auto base = in.Bytes(kRowPairBytes * kBaseHeight / 2);

    // 1 turns the stored picture a quarter to the left, 3 to the right.
    const bool turned = orientation == 1 || orientation == 3;
    AllocatePicture(turned ? kBaseHeight : kBaseWidth, turned ? kBaseWidth : kBaseHeight, TPixelFormat::pf24bit);

    // Chroma rows lie between the luma rows: C1 and C2 of pair k follow its two
    // luma rows, so a chroma plane's rows are kRowPairBytes apart.
    const uint8_t* c1 = base.data() + 2 * kBaseWidth;
    const uint8_t* c2 = c1 + kBaseWidth / 2;
    const size_t chromaWidth = kBaseWidth / 2, chromaHeight = kBaseHeight / 2;
    std::vector<TColor32> pixels(kBaseWidth * kBaseHeight);
    for (size_t y = 0; y < kBaseHeight; ++y) {
        const uint8_t* luma = base.data() + (y / 2) * kRowPairBytes + (y % 2) * kBaseWidth;
        for (size_t x = 0; x < kBaseWidth; ++x)
            pixels[y * kBaseWidth + x] =
                YccColor(luma[x], Chroma(c1, kRowPairBytes, chromaWidth, chromaHeight, x, y),
                         Chroma(c2, kRowPairBytes, chromaWidth, chromaHeight, x, y));
    }

    if (!turned) {
        for (size_t y = 0; y < kBaseHeight; ++y)
            StoreRow32(static_cast<int32_t>(y), pixels.data() + y * kBaseWidth);
        return;
    }
    std::vector<TColor32> row(kBaseHeight);
    for (size_t y = 0; y < kBaseWidth; ++y) {
        // Left turn: output row y is stored column width-1-y, read top to
        // bottom; right turn: stored column y, read bottom to top.
        for (size_t x = 0; x < kBaseHeight; ++x)
            row[x] = orientation == 1 ? pixels[x * kBaseWidth + (kBaseWidth - 1 - y)]
                                      : pixels[(kBaseHeight - 1 - x) * kBaseWidth + y];
        StoreRow32(static_cast<int32_t>(y), row.data());
    }
}

} // namespace palvex
