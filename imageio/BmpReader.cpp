// TBitmap::LoadStream: BMP, RLE and DIB files, which all start with the
// 14-byte file header "BM".
#include "imageio/Bitmap.h"

#include "imageio/BmpDib.h"
#include "imageio/Streams.h"
#include "platform/Errors.h"

namespace palvex {

namespace {

constexpr size_t kFileHeaderSize = 14;

void ReadBmp(std::span<const uint8_t> data, TBitmap& bitmap)
{
    if (data.size() >= 2 && !(data[0] == 'B' && data[1] == 'M'))
        throw EInvalidGraphic("Bitmap image is not valid");
    if (data.size() < kFileHeaderSize)
        throw EReadError(kSReadError);
    const size_t offBits = uint32_t(data[10]) | (uint32_t(data[11]) << 8) | (uint32_t(data[12]) << 16) |
                           (uint32_t(data[13]) << 24);
    const dib::TDibInfo info = dib::ParseInfo(data, kFileHeaderSize);

    // The pixel offset of the file header wins when it lies after the header;
    // writers that leave it 0 get the bits straight after the palette. Where it
    // leaves less room than the palette asks for, the palette is cut short.
    size_t bitsOffset = offBits;
    if (offBits > data.size()) {
        throw EReadError(kSReadError);
    } else if (offBits < info.PaletteOffset) {
        const uint64_t stored =
            uint64_t(info.BitCount <= 8 && info.ColorsUsed == 0 ? (1u << info.BitCount) : info.ColorsUsed) *
            info.PaletteEntrySize;
        if (stored > data.size() - info.PaletteOffset)
            throw EReadError(kSReadError);
        bitsOffset = info.PaletteOffset + static_cast<size_t>(stored);
    }
    dib::DecodePixels(info, dib::ReadPalette(info, data, bitsOffset), data, bitsOffset, bitmap);
}

} // namespace

void TBitmap::LoadStream(TStream& stream)
{
    const std::vector<uint8_t> data = stream.ReadRemaining();
    try {
        ReadBmp(data, *this);
    } catch (...) {
        SetSize(0, 0);
        throw;
    }
}

} // namespace palvex
