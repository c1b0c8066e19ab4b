// The Silicon Graphics image reader.
#include "imageio/decoders/SGIGraphic.h"

#include <vector>

#include "imageio/decoders/Codecs.h"
#include "platform/Errors.h"

namespace palvex {

PALVEX_DEFINE_GRAPHIC_CLASS(TSGIGraphic, TDecoderGraphic)

namespace {
constexpr size_t kHeaderSize = 512;
constexpr uint16_t kMagic = 474;
} // namespace

void TSGIGraphic::Decode(std::span<const uint8_t> data)
{
    TByteReader in(data, FormatName());
    const uint16_t magic = in.U16BE();
    const uint8_t storage = in.U8();
    const uint8_t bytesPerChannel = in.U8();
    const uint16_t dimension = in.U16BE();
    const uint16_t xSize = in.U16BE();
    uint16_t ySize = in.U16BE();
    uint16_t zSize = in.U16BE();
    in.Skip(4 + 4 + 4 + 80); // pixel range, dummy, name
    const uint32_t colorMap = in.U32BE();
    if (magic != kMagic || storage > 1 || (bytesPerChannel != 1 && bytesPerChannel != 2) || dimension < 1 ||
        dimension > 3)
        InvalidFormat();
    if (colorMap != 0)
        Unsupported("Colour-mapped images");
    if (dimension == 1)
        ySize = 1;
    if (dimension < 3)
        zSize = 1;
    if (zSize < 1 || zSize > 4)
        Unsupported(Format("%d channels", zSize));
    if (!IsPictureSizeAllowed(xSize, ySize))
        InvalidFormat();

    // Channel planes of ySize rows each, bottom row first.
    const size_t rowCount = size_t(ySize) * zSize;
    // The raster, or the two row tables, must be there before the samples are allocated.
    const size_t needed = storage == 0 ? rowCount * xSize * bytesPerChannel : rowCount * 8;
    if (data.size() < kHeaderSize || data.size() - kHeaderSize < needed)
        ReadError();
    std::vector<uint16_t> samples(rowCount * xSize); // at most 4 * 2^28 samples
    if (storage == 0) {
        in.Seek(kHeaderSize);
        const auto bytes = in.Bytes(samples.size() * bytesPerChannel);
        for (size_t i = 0; i < samples.size(); ++i)
            samples[i] = bytesPerChannel == 2 ? uint16_t((bytes[2 * i] << 8) | bytes[2 * i + 1]) : bytes[i];
    } else {
        in.Seek(kHeaderSize);
        const auto starts = in.Bytes(rowCount * 4);
        const auto lengths = in.Bytes(rowCount * 4);
        auto be32 = [](const uint8_t* p) {
            return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
        };
        for (size_t r = 0; r < rowCount; ++r) {
            const uint64_t start = be32(&starts[4 * r]), length = be32(&lengths[4 * r]);
            if (start < kHeaderSize || start > data.size() || length > data.size() - start)
                ReadError();
            // A row is read from its own bytes only; rows may share them.
            TByteReader row(data.subspan(size_t(start), size_t(length)), FormatName());
            if (!DecodeSgiRLE(row, bytesPerChannel, std::span<uint16_t>(samples).subspan(r * xSize, xSize)))
                CompressionError();
        }
    }

    const bool alpha = zSize == 2 || zSize == 4;
    AllocatePicture(xSize, ySize, alpha ? TPixelFormat::pf32bit : TPixelFormat::pf24bit);
    auto sample8 = [&](size_t channel, size_t y, size_t x) -> uint8_t {
        const uint16_t v = samples[(channel * ySize + y) * xSize + x];
        return bytesPerChannel == 2 ? Scale16To8(v) : static_cast<uint8_t>(v);
    };
    std::vector<TColor32> line(xSize);
    for (size_t y = 0; y < ySize; ++y) {
        for (size_t x = 0; x < xSize; ++x) {
            if (zSize <= 2) {
                const uint8_t g = sample8(0, y, x);
                line[x] = Color32(g, g, g, zSize == 2 ? sample8(1, y, x) : 0xFF);
            } else {
                line[x] = Color32(sample8(0, y, x), sample8(1, y, x), sample8(2, y, x), zSize == 4 ? sample8(3, y, x) : 0xFF);
            }
        }
        StoreRow32(static_cast<int32_t>(ySize - 1 - y), line.data());
    }
}

} // namespace palvex
