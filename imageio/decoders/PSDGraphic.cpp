// The Photoshop document reader: only the merged composite is read; layers
// are skipped.
#include "imageio/decoders/PSDGraphic.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

#include "imageio/decoders/Codecs.h"
#include "platform/Errors.h"

namespace palvex {

PALVEX_DEFINE_GRAPHIC_CLASS(TPSDGraphic, TDecoderGraphic)

namespace {

enum ColorMode : uint16_t { kBitmap = 0, kGray = 1, kIndexed = 2, kRGB = 3, kCMYK = 4, kMultichannel = 7, kDuotone = 8, kLab = 9 };
constexpr uint16_t kTransparencyIndexResource = 1047;

uint8_t ToByte(double v)
{
    if (!(v > 0))
        return 0;
    if (v >= 1)
        return 255;
    return static_cast<uint8_t>(std::lround(v * 255));
}

// CIE Lab (D65 white, as the comparison readers use) to sRGB.
TColor32 LabToRGB(double l, double a, double b, uint8_t alpha)
{
    const double fy = (l + 16) / 116, fx = fy + a / 500, fz = fy - b / 200;
    auto inverse = [](double t) {
        const double t3 = t * t * t;
        return t3 > 216.0 / 24389.0 ? t3 : (116 * t - 16) / (24389.0 / 27.0);
    };
    const double x = 0.95047 * inverse(fx), y = l > 8 ? fy * fy * fy : l / (24389.0 / 27.0), z = 1.08883 * inverse(fz);
    auto gamma = [](double v) { return v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055; };
    const double r = 3.2404542 * x - 1.5371385 * y - 0.4985314 * z;
    const double g = -0.9692660 * x + 1.8760108 * y + 0.0415560 * z;
    const double bl = 0.0556434 * x - 0.2040259 * y + 1.0572252 * z;
    return Color32(ToByte(gamma(r)), ToByte(gamma(g)), ToByte(gamma(bl)), alpha);
}

// The merged composite of a transparent picture is blended with white;
// dividing the white back out gives the colours the layers had.
TColor32 Unmatte(TColor32 c)
{
    const uint32_t a = AlphaComponent(c);
    if (a == 0 || a == 255)
        return c;
    auto channel = [a](uint32_t v) -> uint8_t {
        const int32_t r = (int32_t(v) * 255 - int32_t(255 - a) * 255 + int32_t(a / 2)) / int32_t(a);
        return static_cast<uint8_t>(std::clamp(r, 0, 255));
    };
    return Color32(channel(RedComponent(c)), channel(GreenComponent(c)), channel(BlueComponent(c)), uint8_t(a));
}

} // namespace

void TPSDGraphic::Decode(std::span<const uint8_t> data)
{
    TByteReader in(data, FormatName());
    if (in.U32BE() != 0x38425053) // "8BPS"
        InvalidFormat();
    const uint16_t version = in.U16BE();
    in.Skip(6);
    const uint16_t channels = in.U16BE();
    const uint32_t height = in.U32BE();
    const uint32_t width = in.U32BE();
    const uint16_t depth = in.U16BE();
    const uint16_t mode = in.U16BE();
    if ((version != 1 && version != 2) || channels < 1 || channels > 56)
        InvalidFormat();
    if (depth == 32)
        Unsupported("32-bit channels");
    if (depth != 1 && depth != 8 && depth != 16)
        InvalidFormat();
    size_t colorChannels;
    switch (mode) {
    case kBitmap: colorChannels = 1; break;
    case kGray:
    case kIndexed:
    case kMultichannel:
    case kDuotone: colorChannels = 1; break;
    case kRGB:
    case kLab: colorChannels = 3; break;
    case kCMYK: colorChannels = 4; break;
    default: Unsupported(Format("Colour mode %d", mode));
    }
    if ((mode == kBitmap) != (depth == 1) || (mode == kIndexed && depth != 8) || channels < colorChannels)
        InvalidFormat();
    if (!IsPictureSizeAllowed(width, height))
        InvalidFormat();

    // Colour mode data: the palette of an indexed picture, planar R, G, B.
    const uint32_t colorDataLength = in.U32BE();
    const auto colorData = in.Bytes(colorDataLength);
    std::vector<TColor32> palette;
    if (mode == kIndexed) {
        if (colorDataLength < 768)
            InvalidPalette();
        for (size_t i = 0; i < 256; ++i)
            palette.push_back(Color32(colorData[i], colorData[256 + i], colorData[512 + i]));
    }

    // Image resources: only the transparent index of an indexed picture.
    std::optional<uint16_t> transparentIndex;
    {
        const uint32_t length = in.U32BE();
        TByteReader res(in.Bytes(length), FormatName());
        while (res.Remaining() >= 12 && res.U32BE() == 0x3842494D) { // "8BIM"
            const uint16_t id = res.U16BE();
            const uint8_t nameLength = res.U8();
            res.Skip(nameLength | 1u); // the name and its length pad to even
            const uint32_t size = res.U32BE();
            const auto body = res.Bytes(size);
            if (size & 1)
                res.Skip(std::min<size_t>(1, res.Remaining()));
            if (id == kTransparencyIndexResource && size >= 2 && mode == kIndexed)
                transparentIndex = uint16_t((body[0] << 8) | body[1]);
        }
    }

    // Layers and masks: skipped.
    if (version == 1) {
        in.Skip(in.U32BE());
    } else {
        const uint64_t length = (uint64_t(in.U32BE()) << 32) | in.U32BE();
        if (length > in.Remaining())
            ReadError();
        in.Skip(size_t(length));
    }

    const uint16_t compression = in.U16BE();
    if (compression == 2 || compression == 3)
        Unsupported("ZIP compression");
    if (compression > 1)
        InvalidFormat();

    const bool hasAlpha = channels > colorChannels && mode != kBitmap && mode != kMultichannel;
    const size_t used = colorChannels + (hasAlpha ? 1 : 0);
    size_t rowBytes = 0;
    PackedRowBytes(width, depth, rowBytes); // width below 2^16: no overflow
    // The data must be able to fill the rows before they are allocated: raw rows
    // are all there, and a two-byte PackBits run gives at most 128 bytes.
    if (compression == 0) {
        if (in.Remaining() / used < height * rowBytes)
            ReadError();
    } else {
        const size_t countBytes = version == 1 ? 2 : 4;
        if (in.Remaining() / countBytes < size_t(channels) * height)
            ReadError();
        const auto counts = data.subspan(in.Position(), size_t(channels) * height * countBytes);
        for (size_t r = 0; r < used * height; ++r) {
            const uint8_t* p = &counts[r * countBytes];
            const size_t count = countBytes == 2 ? size_t((p[0] << 8) | p[1])
                                                 : (size_t(p[0]) << 24) | (size_t(p[1]) << 16) | (size_t(p[2]) << 8) | p[3];
            if (rowBytes / 128 > count / 2 + 1)
                ReadError();
        }
    }
    // Rows of the used channels, channel after channel.
    std::vector<uint8_t> planes(used * height * rowBytes);
    if (compression == 0) {
        // The used channels' planes follow one another in the file as they do here.
        const auto bytes = in.Bytes(planes.size());
        planes.assign(bytes.begin(), bytes.end());
    } else {
        const size_t countBytes = version == 1 ? 2 : 4;
        const size_t rows = size_t(channels) * height;
        const auto counts = in.Bytes(rows * countBytes);
        size_t offset = in.Position();
        for (size_t r = 0; r < used * height; ++r) {
            const uint8_t* p = &counts[r * countBytes];
            const size_t count = countBytes == 2 ? size_t((p[0] << 8) | p[1])
                                                 : (size_t(p[0]) << 24) | (size_t(p[1]) << 16) | (size_t(p[2]) << 8) | p[3];
            if (offset > data.size() || count > data.size() - offset)
                ReadError();
            TByteReader row(data.subspan(offset, count), FormatName());
            if (!DecodePackBits(row, std::span<uint8_t>(planes).subspan(r * rowBytes, rowBytes)))
                CompressionError();
            offset += count;
        }
    }

    const bool indexedAlpha = transparentIndex && *transparentIndex < 256;
    AllocatePicture(width, height, hasAlpha || indexedAlpha ? TPixelFormat::pf32bit : TPixelFormat::pf24bit);
    // One channel's sample as 8 bits, or as 16 bits for the conversions.
    auto sample16 = [&](size_t c, size_t y, size_t x) -> uint32_t {
        const uint8_t* p = &planes[(c * height + y) * rowBytes];
        return depth == 16 ? uint32_t((p[2 * x] << 8) | p[2 * x + 1]) : uint32_t(p[x]) * 257;
    };
    auto sample8 = [&](size_t c, size_t y, size_t x) -> uint8_t {
        const uint8_t* p = &planes[(c * height + y) * rowBytes];
        return depth == 16 ? Scale16To8(uint16_t((p[2 * x] << 8) | p[2 * x + 1])) : p[x];
    };
    std::vector<TColor32> line(width);
    for (size_t y = 0; y < height; ++y) {
        for (size_t x = 0; x < width; ++x) {
            const uint8_t alpha = hasAlpha ? sample8(colorChannels, y, x) : 0xFF;
            TColor32 c;
            switch (mode) {
            case kBitmap: {
                const bool black = (planes[y * rowBytes + x / 8] >> (7 - x % 8)) & 1;
                c = black ? Color32(0, 0, 0) : Color32(255, 255, 255);
                break;
            }
            case kIndexed: {
                const uint8_t index = planes[y * rowBytes + x];
                c = (PaletteColor(palette, index) & 0x00FFFFFF) |
                    (TColor32(indexedAlpha && index == *transparentIndex ? 0 : alpha) << 24);
                break;
            }
            case kRGB: c = Color32(sample8(0, y, x), sample8(1, y, x), sample8(2, y, x), alpha); break;
            case kCMYK: {
                // Stored inverted: 65535 is no ink. Naive conversion R = (1-C)(1-K).
                const uint64_t k = sample16(3, y, x);
                auto channel = [&](size_t ch) {
                    return Scale16To8(uint16_t((uint64_t(sample16(ch, y, x)) * k + 32767) / 65535));
                };
                c = Color32(channel(0), channel(1), channel(2), alpha);
                break;
            }
            case kLab: {
                const double l = sample16(0, y, x) * 100.0 / 65535;
                const double a = sample16(1, y, x) / 257.0 - 128, b = sample16(2, y, x) / 257.0 - 128;
                c = LabToRGB(l, a, b, alpha);
                break;
            }
            default: { // gray, duotone, multichannel
                const uint8_t g = sample8(0, y, x);
                c = Color32(g, g, g, alpha);
                break;
            }
            }
            if (hasAlpha && mode == kRGB)
                c = Unmatte(c);
            line[x] = c;
        }
        StoreRow32(static_cast<int32_t>(y), line.data());
    }
}

} // namespace palvex
