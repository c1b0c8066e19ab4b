#include "imageio/decoders/DecoderGraphic.h"

#include <cstring>

#include "imageio/Streams.h"
#include "platform/Errors.h"

namespace palvex {

PALVEX_DEFINE_GRAPHIC_CLASS(TDecoderGraphic, TBitmap)

void TDecoderGraphic::LoadStream(TStream& stream)
{
    const std::vector<uint8_t> data = stream.ReadRemaining();
    try {
        Decode(data);
    } catch (...) {
        SetSize(0, 0);
        throw;
    }
    Changed();
}

void TDecoderGraphic::Decode(std::span<const uint8_t>)
{
    InvalidFormat();
}

void TDecoderGraphic::InvalidFormat() const
{
    throw EInvalidGraphic(Format("Cannot load image. Invalid or unexpected %s image format.", FormatName()));
}

void TByteReader::Short() const
{
    throw EInvalidGraphic(Format("Stream read error in %s file.", m_formatName));
}

void TDecoderGraphic::ReadError() const
{
    throw EInvalidGraphic(Format("Stream read error in %s file.", FormatName()));
}

void TDecoderGraphic::Unsupported(const std::string& what) const
{
    throw EInvalidGraphic(Format("Cannot load image. %s not supported for %s files.", what.c_str(), FormatName()));
}

void TDecoderGraphic::InvalidPalette() const
{
    throw EInvalidGraphic(Format("Cannot load image. Palette in %s file is invalid.", FormatName()));
}

void TDecoderGraphic::CompressionError() const
{
    throw EInvalidGraphic(Format("Cannot load image. Compression error found in %s file.", FormatName()));
}

void TDecoderGraphic::CrcError() const
{
    throw EInvalidGraphic(Format("Cannot load image. CRC error found in %s file.", FormatName()));
}

void TDecoderGraphic::ExtraData() const
{
    throw EInvalidGraphic(Format("Cannot load image. Extra compressed data found in %s file.", FormatName()));
}

void TDecoderGraphic::InvalidColorFormat() const
{
    throw EInvalidGraphic(Format("Invalid color format in %s file.", FormatName()));
}

void TDecoderGraphic::AllocatePicture(int64_t width, int64_t height, TPixelFormat format)
{
    if (!IsPictureSizeAllowed(width, height))
        InvalidFormat();
    SetSize(0, 0);
    SetPixelFormat(format);
    SetSize(static_cast<int32_t>(width), static_cast<int32_t>(height));
}

void TDecoderGraphic::StoreRow32(int32_t y, const TColor32* pixels)
{
    uint8_t* row = ScanLine(y);
    const int32_t width = Width();
    if (PixelFormat() == TPixelFormat::pf32bit) {
        std::memcpy(row, pixels, static_cast<size_t>(width) * 4);
        return;
    }
    for (int32_t x = 0; x < width; ++x) {
        const TColor32 c = pixels[x];
        row[3 * x] = static_cast<uint8_t>(BlueComponent(c));
        row[3 * x + 1] = static_cast<uint8_t>(GreenComponent(c));
        row[3 * x + 2] = static_cast<uint8_t>(RedComponent(c));
    }
}

} // namespace palvex
