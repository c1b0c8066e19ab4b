// TBitmap::LoadStream and TBitmap::OpenRows: BMP, RLE and DIB files, which all
// start with the 14-byte file header "BM".
#include "imageio/Bitmap.h"

#include "imageio/BmpDib.h"
#include "imageio/PictureReader.h"
#include "imageio/Streams.h"
#include "platform/Errors.h"

namespace palvex {

namespace {

constexpr size_t kFileHeaderSize = 14;

// The file header, the info header and the palette: the rows and where they lie.
dib::TDibRows OpenBmp(TByteReader& in)
{
    if (in.Size() >= 2 && !(in.U8() == 'B' && in.U8() == 'M'))
        throw EInvalidGraphic("Bitmap image is not valid");
    if (in.Size() < kFileHeaderSize)
        throw EReadError(kSReadError);
    in.Seek(10);
    const size_t offBits = in.U32LE();
    const dib::TDibInfo info = dib::ParseInfo(in, kFileHeaderSize);

    // The pixel offset of the file header wins when it lies after the header;
    // writers that leave it 0 get the bits straight after the palette. Where it
    // leaves less room than the palette asks for, the palette is cut short.
    size_t bitsOffset = offBits;
    if (offBits > in.Size()) {
        throw EReadError(kSReadError);
    } else if (offBits < info.PaletteOffset) {
        const uint64_t stored =
            uint64_t(info.BitCount <= 8 && info.ColorsUsed == 0 ? (1u << info.BitCount) : info.ColorsUsed) *
            info.PaletteEntrySize;
        if (stored > in.Size() - info.PaletteOffset)
            throw EReadError(kSReadError);
        bitsOffset = info.PaletteOffset + static_cast<size_t>(stored);
    }
    return dib::TDibRows(info, dib::ReadPalette(info, in, bitsOffset), in, bitsOffset);
}

class TBmpReader final : public TPictureReader {
public:
    explicit TBmpReader(TStream& stream) : m_in(stream, nullptr), m_rows(OpenBmp(m_in))
    {
        m_held.resize(dib::RowStride(m_rows.Width(), BitsPerPixel(m_rows.HeldFormat())));
        // ParseInfo has refused sizes beyond the limits.
        SetPicture(m_rows.Width(), m_rows.Height(), m_rows.HeldFormat() == TPixelFormat::pf32bit);
    }

private:
    [[noreturn]] void Refuse() const override { throw EInvalidGraphic("Bitmap image is not valid"); }

    void ReadRow(int32_t y, TColor32* out) override
    {
        m_rows.ReadHeld(y, m_held.data());
        ConvertRowTo32(m_rows.HeldFormat(), m_rows.Palette(), m_held.data(), Width(), out);
        // Other depths than 32 bits are made opaque, as the copy from a platform bitmap does.
        if (!HasAlpha())
            for (int32_t x = 0; x < Width(); ++x)
                out[x] |= 0xFF000000u;
    }

    TByteReader m_in;
    dib::TDibRows m_rows;
    std::vector<uint8_t> m_held;
};

} // namespace

void TBitmap::LoadStream(TStream& stream)
{
    try {
        TByteReader in(stream, nullptr);
        dib::TDibRows rows = OpenBmp(in);
        SetSize(0, 0);
        SetPixelFormat(rows.HeldFormat());
        SetSize(rows.Width(), rows.Height());
        SetPalette(rows.Palette());
        for (int32_t y = 0; y < rows.Height(); ++y)
            rows.ReadHeld(y, ScanLine(y));
    } catch (...) {
        SetSize(0, 0);
        throw;
    }
}

std::unique_ptr<TPictureReader> TBitmap::OpenRows(TStream& stream)
{
    return std::make_unique<TBmpReader>(stream);
}

} // namespace palvex
