#include "imageio/decoders/DecoderGraphic.h"

#include <cstring>

#include "imageio/Streams.h"
#include "platform/Errors.h"

namespace palvex {

PALVEX_DEFINE_GRAPHIC_CLASS(TDecoderGraphic, TBitmap)

void RaiseInvalidFormat(const char* format)
{
    throw EInvalidGraphic(Format("Cannot load image. Invalid or unexpected %s image format.", format));
}

void RaiseReadError(const char* format)
{
    throw EInvalidGraphic(Format("Stream read error in %s file.", format));
}

void RaiseUnsupported(const char* format, const std::string& what)
{
    throw EInvalidGraphic(Format("Cannot load image. %s not supported for %s files.", what.c_str(), format));
}

void RaiseInvalidPalette(const char* format)
{
    throw EInvalidGraphic(Format("Cannot load image. Palette in %s file is invalid.", format));
}

void RaiseCompressionError(const char* format)
{
    throw EInvalidGraphic(Format("Cannot load image. Compression error found in %s file.", format));
}

void RaiseCrcError(const char* format)
{
    throw EInvalidGraphic(Format("Cannot load image. CRC error found in %s file.", format));
}

void RaiseExtraData(const char* format)
{
    throw EInvalidGraphic(Format("Cannot load image. Extra compressed data found in %s file.", format));
}

void RaiseInvalidColorFormat(const char* format)
{
    throw EInvalidGraphic(Format("Invalid color format in %s file.", format));
}

// The older form's whole bitmap, handed out as rows.
class TDecodedPictureReader final : public TPictureReader {
public:
    explicit TDecodedPictureReader(std::unique_ptr<TDecoderGraphic> picture) : m_picture(std::move(picture))
    {
        SetPicture(m_picture->Width(), m_picture->Height(), m_picture->PixelFormat() == TPixelFormat::pf32bit);
    }

private:
    void ReadRow(int32_t y, TColor32* out) override
    {
        m_picture->ReadRow32(y, out);
        if (!HasAlpha())
            for (int32_t x = 0; x < Width(); ++x)
                out[x] |= 0xFF000000u;
    }

    std::unique_ptr<TDecoderGraphic> m_picture;
};

void TDecoderGraphic::LoadWholeFile(TStream& stream)
{
    const std::vector<uint8_t> data = stream.ReadRemaining();
    Decode(data);
}

std::unique_ptr<TPictureReader> TDecoderGraphic::OpenRows(TStream& stream)
{
    std::unique_ptr<TGraphic> fresh = Class().Create();
    auto* picture = static_cast<TDecoderGraphic*>(fresh.get());
    picture->LoadWholeFile(stream);
    fresh.release();
    return std::make_unique<TDecodedPictureReader>(std::unique_ptr<TDecoderGraphic>(picture));
}

void TDecoderGraphic::LoadStream(TStream& stream)
{
    try {
        std::unique_ptr<TPictureReader> reader = OpenRows(stream);
        const int32_t width = reader->Width(), height = reader->Height();
        SetSize(0, 0);
        SetPixelFormat(reader->HasAlpha() ? TPixelFormat::pf32bit : TPixelFormat::pf24bit);
        SetSize(width, height);
        reader->KeepRows(1);
        for (int32_t y = 0; y < height; ++y)
            StoreRow32(y, reader->Row(y));
        reader->Finish();
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
