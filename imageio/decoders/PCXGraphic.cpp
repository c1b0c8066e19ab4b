// The ZSoft Paintbrush reader.
#include "imageio/decoders/PCXGraphic.h"

#include <vector>

#include "imageio/decoders/Codecs.h"
#include "platform/Errors.h"

namespace palvex {

PALVEX_DEFINE_GRAPHIC_CLASS(TPCXGraphic, TDecoderGraphic)

namespace {
constexpr size_t kHeaderSize = 128;
constexpr size_t kVgaPaletteSize = 769; // marker 0x0C and 256 RGB triples
} // namespace

void TPCXGraphic::Decode(std::span<const uint8_t> data)
{
    TByteReader in(data, FormatName());
    const uint8_t manufacturer = in.U8();
    in.U8(); // version: the layout below is the same for all
    const uint8_t encoding = in.U8();
    const uint8_t bits = in.U8();
    const uint16_t xMin = in.U16LE(), yMin = in.U16LE(), xMax = in.U16LE(), yMax = in.U16LE();
    in.Skip(4); // resolution
    const auto egaPalette = in.Bytes(48);
    in.U8();
    const uint8_t planes = in.U8();
    const uint16_t bytesPerLine = in.U16LE();
    in.Seek(kHeaderSize);

    if (manufacturer != 0x0A || encoding > 1 || xMax < xMin || yMax < yMin)
        InvalidFormat();
    const int64_t width = int64_t(xMax) - xMin + 1, height = int64_t(yMax) - yMin + 1;
    const bool planar1 = bits == 1 && planes >= 1 && planes <= 4;
    const bool packed = (bits == 2 || bits == 4 || bits == 8) && planes == 1;
    const bool trueColor = bits == 8 && (planes == 3 || planes == 4);
    if (!planar1 && !packed && !trueColor)
        Unsupported(Format("%d bits in %d planes", bits, planes));
    size_t planeBytes = 0;
    if (!PackedRowBytes(uint64_t(width), bits, planeBytes) || bytesPerLine < planeBytes)
        InvalidFormat();
    if (!IsPictureSizeAllowed(width, height))
        InvalidFormat();

    // 8-bit pictures end with the VGA palette; without one they are gray.
    std::vector<TColor32> palette;
    if (bits == 8 && planes == 1) {
        palette.resize(256);
        const bool hasVga = data.size() >= kHeaderSize + kVgaPaletteSize && data[data.size() - kVgaPaletteSize] == 0x0C;
        for (size_t i = 0; i < 256; ++i) {
            if (hasVga) {
                const uint8_t* p = &data[data.size() - kVgaPaletteSize + 1 + 3 * i];
                palette[i] = Color32(p[0], p[1], p[2]);
            } else {
                palette[i] = Color32(uint8_t(i), uint8_t(i), uint8_t(i));
            }
        }
    } else if (bits * planes == 1) {
        palette = {Color32(0, 0, 0), Color32(255, 255, 255)};
    } else if (!trueColor) {
        for (size_t i = 0; i < 16; ++i)
            palette.push_back(Color32(egaPalette[3 * i], egaPalette[3 * i + 1], egaPalette[3 * i + 2]));
    }

    const size_t lineBytes = size_t(bytesPerLine) * planes;
    const size_t imageBytes = lineBytes * size_t(height); // below 2^16 * 4 * 2^16
    std::vector<uint8_t> raw;
    std::span<const uint8_t> pixels;
    if (encoding == 1) {
        // Two bytes give at most 63: a file that cannot fill the picture is cut off,
        // and is refused before the picture's memory is taken.
        if (imageBytes / 63 > in.Remaining() / 2 + 1)
            ReadError();
        raw.resize(imageBytes);
        // Runs may cross line ends; a run past the last line is padding.
        DecodePcxRLE(in, raw);
        pixels = raw;
    } else {
        pixels = in.Bytes(imageBytes);
    }

    AllocatePicture(width, height, planes == 4 && trueColor ? TPixelFormat::pf32bit : TPixelFormat::pf24bit);
    std::vector<uint8_t> indices(static_cast<size_t>(width));
    std::vector<TColor32> row(static_cast<size_t>(width));
    for (int64_t y = 0; y < height; ++y) {
        const uint8_t* line = pixels.data() + size_t(y) * lineBytes;
        if (trueColor) {
            for (size_t x = 0; x < size_t(width); ++x)
                row[x] = Color32(line[x], line[bytesPerLine + x], line[2 * bytesPerLine + x],
                                 planes == 4 ? line[3 * bytesPerLine + x] : 0xFF);
        } else {
            if (planar1)
                CombineBitPlanes(line, bytesPerLine, planes, size_t(width), indices.data());
            else
                UnpackBits(line, bits, size_t(width), indices.data());
            ExpandPalette(indices.data(), size_t(width), palette, row.data());
        }
        StoreRow32(static_cast<int32_t>(y), row.data());
    }
}

} // namespace palvex
