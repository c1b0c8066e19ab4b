// Device-independent bitmap decoding shared by the BMP and icon readers: the
// info header, the palette and the pixel bits (plain, bit fields, RLE4/RLE8),
// row by row in the form a platform bitmap holds them. Running out of bytes
// raises EReadError "Stream read error"; any other bad content
// EInvalidGraphic "Bitmap image is not valid".
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "imageio/Bitmap.h"
#include "imageio/ByteReader.h"
#include "raster/Color32.h"

namespace palvex {

namespace dib {

// Compression values of the info header.
inline constexpr uint32_t kBI_RGB = 0;
inline constexpr uint32_t kBI_RLE8 = 1;
inline constexpr uint32_t kBI_RLE4 = 2;
inline constexpr uint32_t kBI_BITFIELDS = 3;
inline constexpr uint32_t kBI_ALPHABITFIELDS = 6;

struct TDibInfo {
    uint32_t HeaderSize = 0;
    int32_t Width = 0;
    int32_t Height = 0; // always positive; TopDown tells the row order
    bool TopDown = false;
    uint16_t Planes = 0;
    uint16_t BitCount = 0;
    uint32_t Compression = kBI_RGB;
    uint32_t ColorsUsed = 0;
    uint32_t Masks[4] = {}; // red, green, blue, alpha (bit-field pictures only)
    size_t PaletteOffset = 0;    // first palette entry, relative to the data given to Parse
    size_t PaletteEntrySize = 4; // 3 for the OS/2 1.x core header

    // Palette entries the header asks for (0 above 8 bits per pixel).
    size_t PaletteEntries() const;
    bool UsesBitFields() const { return Compression == kBI_BITFIELDS || Compression == kBI_ALPHABITFIELDS; }
};

// Reads and checks the info header that starts at offset (and the separate
// masks of a 40-byte header). Sizes beyond the picture limits are invalid.
TDibInfo ParseInfo(TByteReader& in, size_t offset);
TDibInfo ParseInfo(std::span<const uint8_t> data, size_t offset);

// The palette as opaque colours, at most limitOffset - PaletteOffset bytes of
// it, padded with black to the full 2^BitCount entries.
std::vector<TColor32> ReadPalette(const TDibInfo& info, TByteReader& in, size_t limitOffset);
std::vector<TColor32> ReadPalette(const TDibInfo& info, std::span<const uint8_t> data, size_t limitOffset);

// The pixel bits at bitsOffset, row by row from the top, in the form a
// platform bitmap holds them (HeldFormat). Made once the data is known to
// hold every row: a run-length picture's commands are followed through
// once here, noting where each row starts.
class TDibRows {
public:
    TDibRows(const TDibInfo& info, std::vector<TColor32> palette, TByteReader& in, size_t bitsOffset);

    int32_t Width() const { return m_info.Width; }
    int32_t Height() const { return m_info.Height; }
    TPixelFormat HeldFormat() const { return m_format; }
    const std::vector<TColor32>& Palette() const { return m_palette; }
    // The offset just after the bits that were used.
    size_t EndOffset() const { return m_end; }

    // Row y from the top into out, RowStride(Width, bits of HeldFormat) bytes.
    void ReadHeld(int32_t y, uint8_t* out);

private:
    struct TRleRow {
        uint64_t Position = 0;
        int64_t X = 0;
        bool Entered = false; // rows that no command reaches keep index 0
    };
    // Follows the commands of row y from position, x; writes its pixels
    // into row when given. Returns false at the end of the picture, else
    // leaves y, position and x where the next row is entered.
    bool RleRow(int64_t& y, uint64_t& position, int64_t& x, uint8_t* row);

    TDibInfo m_info;
    std::vector<TColor32> m_palette;
    TByteReader& m_in;
    size_t m_bitsOffset;
    TPixelFormat m_format = TPixelFormat::pf24bit;
    size_t m_stride = 0;  // as stored
    size_t m_lastRow = 0; // the last stored row may lack its padding
    size_t m_end = 0;
    std::vector<TRleRow> m_rleRows; // from the bottom row up
};

// Decodes the pixel bits at bitsOffset into bitmap (which is resized) and
// returns the offset just after the bits that were used.
size_t DecodePixels(const TDibInfo& info, std::vector<TColor32> palette, std::span<const uint8_t> data,
                    size_t bitsOffset, TBitmap& bitmap);

// One stored row of a bits-per-pixel picture, padded to 4 bytes.
size_t RowStride(int32_t width, int bitsPerPixel);

} // namespace dib
} // namespace palvex
