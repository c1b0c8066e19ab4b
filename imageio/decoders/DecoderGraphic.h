// TDecoderGraphic: the common base of the decoder family, and TDecoderReader,
// the base of the family's readers. A kind of the family hands out its reader
// (OpenRows); loading the kind whole (LoadStream) reads that reader's rows
// into this platform bitmap.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "imageio/Bitmap.h"
#include "imageio/ByteReader.h"
#include "imageio/PictureReader.h"

namespace palvex {

// The family's failures, with the format's name filled in.
[[noreturn]] void RaiseInvalidFormat(const char* format);     // "Cannot load image. Invalid or unexpected %s image format."
[[noreturn]] void RaiseReadError(const char* format);         // "Stream read error in %s file."
[[noreturn]] void RaiseUnsupported(const char* format, const std::string& what); // "Cannot load image. %s not supported for %s files."
[[noreturn]] void RaiseInvalidPalette(const char* format);    // "Cannot load image. Palette in %s file is invalid."
[[noreturn]] void RaiseCompressionError(const char* format);  // "Cannot load image. Compression error found in %s file."
[[noreturn]] void RaiseCrcError(const char* format);          // "Cannot load image. CRC error found in %s file."
[[noreturn]] void RaiseExtraData(const char* format);         // "Cannot load image. Extra compressed data found in %s file."
[[noreturn]] void RaiseInvalidColorFormat(const char* format); // "Invalid color format in %s file."

// What every reader of the family declares: its class record, the format's
// name in the family's messages and its reader. The class goes on public.
#define PALVEX_DECODER_CLASS(Name, Format)                                   \
    PALVEX_GRAPHIC_CLASS(Name)                                               \
                                                                             \
public:                                                                      \
    const char* FormatName() const override { return Format; }               \
    std::unique_ptr<TPictureReader> OpenRows(TStream& stream) override;

class TDecoderGraphic : public TBitmap {
    PALVEX_GRAPHIC_CLASS(TDecoderGraphic)

public:
    // Reads the rows of OpenRows into this bitmap: 32 bits a pixel when the
    // picture has alpha, else 24. A failed load leaves the bitmap empty.
    void LoadStream(TStream& stream) override;
    // The format's reader. A kind without one refuses every file.
    std::unique_ptr<TPictureReader> OpenRows(TStream& stream) override;

    // The format's name in the family's messages ("Truevision", "PNG", ...).
    virtual const char* FormatName() const { return "unknown"; }

protected:
    [[noreturn]] void InvalidFormat() const { RaiseInvalidFormat(FormatName()); }
    [[noreturn]] void ReadError() const { RaiseReadError(FormatName()); }
    [[noreturn]] void Unsupported(const std::string& what) const { RaiseUnsupported(FormatName(), what); }
    [[noreturn]] void InvalidPalette() const { RaiseInvalidPalette(FormatName()); }
    [[noreturn]] void CompressionError() const { RaiseCompressionError(FormatName()); }
    [[noreturn]] void CrcError() const { RaiseCrcError(FormatName()); }
    [[noreturn]] void ExtraData() const { RaiseExtraData(FormatName()); }
    [[noreturn]] void InvalidColorFormat() const { RaiseInvalidColorFormat(FormatName()); }

    // Stores one row of 32-bit pixels into a pf24bit (alpha dropped) or
    // pf32bit bitmap.
    void StoreRow32(int32_t y, const TColor32* pixels);
};

// The base of the family's readers: the family's messages with the format's
// name, a size beyond the limits refused as an invalid file.
class TDecoderReader : public TPictureReader {
protected:
    explicit TDecoderReader(const char* formatName) : m_formatName(formatName) {}

    const char* FormatName() const { return m_formatName; }
    [[noreturn]] void Refuse() const override { InvalidFormat(); }
    [[noreturn]] void InvalidFormat() const { RaiseInvalidFormat(m_formatName); }
    [[noreturn]] void ReadError() const { RaiseReadError(m_formatName); }
    [[noreturn]] void Unsupported(const std::string& what) const { RaiseUnsupported(m_formatName, what); }
    [[noreturn]] void InvalidPalette() const { RaiseInvalidPalette(m_formatName); }
    [[noreturn]] void CompressionError() const { RaiseCompressionError(m_formatName); }
    [[noreturn]] void CrcError() const { RaiseCrcError(m_formatName); }
    [[noreturn]] void ExtraData() const { RaiseExtraData(m_formatName); }
    [[noreturn]] void InvalidColorFormat() const { RaiseInvalidColorFormat(m_formatName); }

private:
    const char* m_formatName;
};

} // namespace palvex
