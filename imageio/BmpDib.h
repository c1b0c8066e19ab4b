// Device-independent bitmap decoding shared by the BMP and icon readers: the
// info header, the palette and the pixel bits (plain, bit fields, RLE4/RLE8).
// Running out of bytes raises EReadError "Stream read error"; any other bad
// content EInvalidGraphic "Bitmap image is not valid".
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "raster/Color32.h"

namespace palvex {

class TBitmap;

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
TDibInfo ParseInfo(std::span<const uint8_t> data, size_t offset);

// The palette as opaque colours, at most limitOffset - PaletteOffset bytes of
// it, padded with black to the full 2^BitCount entries.
std::vector<TColor32> ReadPalette(const TDibInfo& info, std::span<const uint8_t> data, size_t limitOffset);

// Decodes the pixel bits at bitsOffset into bitmap (which is resized) and
// returns the offset just after the bits that were used.
size_t DecodePixels(const TDibInfo& info, std::vector<TColor32> palette, std::span<const uint8_t> data,
                    size_t bitsOffset, TBitmap& bitmap);

// One stored row of a bits-per-pixel picture, padded to 4 bytes.
size_t RowStride(int32_t width, int bitsPerPixel);

} // namespace dib
} // namespace palvex
