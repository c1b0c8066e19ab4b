// The Photoshop document reader: only the merged composite is read; layers
// are skipped.
#include "imageio/decoders/PSDGraphic.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "imageio/Exif.h"
#include "imageio/Streams.h"
#include "imageio/decoders/Codecs.h"
#include "platform/Errors.h"

namespace palvex {

PALVEX_DEFINE_GRAPHIC_CLASS(TPSDGraphic, TDecoderGraphic)

namespace {

constexpr const char* kName = "PSD";

enum ColorMode : uint16_t { kBitmap = 0, kGray = 1, kIndexed = 2, kRGB = 3, kCMYK = 4, kMultichannel = 7, kDuotone = 8, kLab = 9 };
constexpr uint16_t kTransparencyIndexResource = 1047;
constexpr uint16_t kICCProfileResource = 1039;
// EXIF data 1 and 3: a TIFF structure whose first IFD may hold the orientation.
constexpr uint16_t kExifResources[] = {1058, 1059};
// Enough of an EXIF block for its first IFD; the rest is never looked at.
constexpr size_t kExifBytesRead = size_t(64) << 10;

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


class TPSDReader final : public TDecoderReader {
public:
    explicit TPSDReader(TStream& stream) : TDecoderReader(kName)
    {
        const int64_t start = stream.Position();
        TByteReader& in = *m_channels.emplace_back(std::make_unique<TByteReader>(stream, kName));
        ReadHeader(in);
        ReadColorData(in);
        ReadResources(in);
        SkipLayers(in);
        ReadDataLayout(in);
        // One reader per used channel: their rows lie in planes far apart.
        for (size_t c = 1; c < m_used; ++c) {
            stream.Seek(start, SEEK_SET);
            m_channels.push_back(std::make_unique<TByteReader>(stream, kName));
        }
        m_planes.resize(m_used * m_rowBytes);
        const bool indexedAlpha = m_transparentIndex >= 0 && m_transparentIndex < 256;
        SetPicture(m_width, m_height, m_hasAlpha || indexedAlpha);
        SetOrientation(m_orientation);
        // Photoshop stores CMYK with 255 as no ink.
        if (m_mode == kRGB || m_mode == kGray || m_mode == kCMYK)
            SetColorProfile(std::move(m_profile),
                            m_mode == kRGB ? TColorModel::RGB : m_mode == kGray ? TColorModel::Gray
                                                                                : TColorModel::CMYKInverted);
        std::vector<uint8_t>().swap(m_profile);
    }

private:
    void ReadHeader(TByteReader& in)
    {
        if (in.U32BE() != 0x38425053) // "8BPS"
            InvalidFormat();
        m_version = in.U16BE();
        in.Skip(6);
        m_channelCount = in.U16BE();
        m_height = in.U32BE();
        m_width = in.U32BE();
        m_depth = in.U16BE();
        m_mode = in.U16BE();
        if ((m_version != 1 && m_version != 2) || m_channelCount < 1 || m_channelCount > 56)
            InvalidFormat();
        if (m_depth == 32)
            Unsupported("32-bit channels");
        if (m_depth != 1 && m_depth != 8 && m_depth != 16)
            InvalidFormat();
        switch (m_mode) {
        case kBitmap:
        case kGray:
        case kIndexed:
        case kMultichannel:
        case kDuotone: m_colorChannels = 1; break;
        case kRGB:
        case kLab: m_colorChannels = 3; break;
        case kCMYK: m_colorChannels = 4; break;
        default: Unsupported(Format("Colour mode %d", m_mode));
        }
        if ((m_mode == kBitmap) != (m_depth == 1) || (m_mode == kIndexed && m_depth != 8) ||
            m_channelCount < m_colorChannels)
            InvalidFormat();
        if (!IsPictureSizeAllowed(m_width, m_height))
            InvalidFormat();
    }

    // Colour mode data: the palette of an indexed picture, planar R, G, B.
    void ReadColorData(TByteReader& in)
    {
        const uint32_t length = in.U32BE();
        if (length > in.Remaining())
            in.Short();
        const size_t end = in.Position() + length;
        if (m_mode == kIndexed) {
            if (length < 768)
                InvalidPalette();
            const auto colors = in.Bytes(768);
            for (size_t i = 0; i < 256; ++i)
                m_palette.push_back(Color32(colors[i], colors[256 + i], colors[512 + i]));
        }
        in.Seek(end);
    }

    // Image resources: the transparent index of an indexed picture, the
    // colour profile and the EXIF orientation.
    void ReadResources(TByteReader& in)
    {
        const uint32_t length = in.U32BE();
        if (length > in.Remaining())
            in.Short();
        const size_t end = in.Position() + length;
        auto need = [&](size_t count) {
            if (count > end - in.Position())
                in.Short();
        };
        while (end - in.Position() >= 12 && in.U32BE() == 0x3842494D) { // "8BIM"
            const uint16_t id = in.U16BE();
            const uint8_t nameLength = in.U8();
            need(nameLength | 1u); // the name and its length pad to even
            in.Skip(nameLength | 1u);
            need(4);
            const uint32_t size = in.U32BE();
            need(size);
            const size_t body = in.Position();
            if (id == kTransparencyIndexResource && size >= 2 && m_mode == kIndexed)
                m_transparentIndex = in.U16BE();
            if (id == kICCProfileResource && size > 0 && size <= kMaxColorProfileBytes && m_profile.empty()) {
                const auto bytes = in.Bytes(size);
                m_profile.assign(bytes.begin(), bytes.end());
            }
            if (std::find(std::begin(kExifResources), std::end(kExifResources), id) != std::end(kExifResources) &&
                m_orientation == kOrientationUpright)
                m_orientation = ExifOrientationOfBlock(in.Bytes(std::min(size_t(size), kExifBytesRead)));
            in.Seek(body + size);
            if (size & 1)
                in.Skip(std::min<size_t>(1, end - in.Position()));
        }
        in.Seek(end);
    }

    // Layers and masks: skipped.
    void SkipLayers(TByteReader& in)
    {
        if (m_version == 1) {
            in.Skip(in.U32BE());
        } else {
            const uint64_t length = (uint64_t(in.U32BE()) << 32) | in.U32BE();
            if (length > in.Remaining())
                ReadError();
            in.Skip(size_t(length));
        }
    }

    // Where each used channel's rows lie, checked against the file before
    // anything is allocated: raw rows are all there, and a two-byte PackBits
    // run gives at most 128 bytes.
    void ReadDataLayout(TByteReader& in)
    {
        const uint16_t compression = in.U16BE();
        if (compression == 2 || compression == 3)
            Unsupported("ZIP compression");
        if (compression > 1)
            InvalidFormat();
        m_packBits = compression == 1;
        m_hasAlpha = m_channelCount > m_colorChannels && m_mode != kBitmap && m_mode != kMultichannel;
        m_used = m_colorChannels + (m_hasAlpha ? 1 : 0);
        PackedRowBytes(m_width, m_depth, m_rowBytes); // width below 2^16: no overflow
        const size_t rows = m_used * size_t(m_height);
        if (!m_packBits) {
            if (in.Remaining() / m_used < m_height * m_rowBytes)
                ReadError();
            m_rowStarts.resize(rows);
            for (size_t r = 0; r < rows; ++r)
                m_rowStarts[r] = in.Position() + r * m_rowBytes;
            return;
        }
        const size_t countBytes = m_version == 1 ? 2 : 4;
        if (in.Remaining() / countBytes < size_t(m_channelCount) * m_height)
            ReadError();
        const size_t tableEnd = in.Position() + size_t(m_channelCount) * m_height * countBytes;
        m_rowStarts.resize(rows);
        m_rowLengths.resize(rows);
        uint64_t offset = tableEnd;
        for (size_t r = 0; r < rows; ++r) {
            const size_t count = countBytes == 2 ? in.U16BE() : in.U32BE();
            if (m_rowBytes / 128 > count / 2 + 1)
                ReadError();
            if (offset > in.Size() || count > in.Size() - offset)
                ReadError();
            m_rowStarts[r] = offset;
            m_rowLengths[r] = count;
            offset += count;
        }
    }

    // Channel c's row y into out (m_rowBytes bytes).
    void ReadChannelRow(size_t c, size_t y, uint8_t* out)
    {
        TByteReader& in = *m_channels[c];
        const size_t r = c * m_height + y;
        in.Seek(m_rowStarts[r]);
        if (!m_packBits) {
            std::memcpy(out, in.Bytes(m_rowBytes).data(), m_rowBytes);
            return;
        }
        // A row's bytes fill it well within four times its size; only a row
        // padded with no-op runs needs all of its stated bytes.
        const size_t length = m_rowLengths[r];
        const size_t enough = std::min<size_t>(length, 4 * m_rowBytes + 64);
        bool filled = false;
        try {
            TByteReader row(in.Bytes(enough), kName);
            filled = DecodePackBits(row, std::span<uint8_t>(out, m_rowBytes));
        } catch (const EInvalidGraphic&) {
            if (enough == length)
                throw;
            in.Seek(m_rowStarts[r]);
            TByteReader row(in.Bytes(length), kName);
            filled = DecodePackBits(row, std::span<uint8_t>(out, m_rowBytes));
        }
        if (!filled)
            CompressionError();
    }

    void ReadRow(int32_t yRow, TColor32* out) override
    {
        const size_t y = size_t(yRow);
        for (size_t c = 0; c < m_used; ++c)
            ReadChannelRow(c, y, m_planes.data() + c * m_rowBytes);
        const bool indexedAlpha = m_transparentIndex >= 0 && m_transparentIndex < 256;
        // One channel's sample as 8 bits, or as 16 bits for the conversions.
        auto sample16 = [&](size_t c, size_t x) -> uint32_t {
            const uint8_t* p = &m_planes[c * m_rowBytes];
            return m_depth == 16 ? uint32_t((p[2 * x] << 8) | p[2 * x + 1]) : uint32_t(p[x]) * 257;
        };
        auto sample8 = [&](size_t c, size_t x) -> uint8_t {
            const uint8_t* p = &m_planes[c * m_rowBytes];
            return m_depth == 16 ? Scale16To8(uint16_t((p[2 * x] << 8) | p[2 * x + 1])) : p[x];
        };
        if (m_mode == kCMYK && CMYKConversion()) {
            m_cmyk.resize(size_t(m_width) * 4);
            for (size_t x = 0; x < m_width; ++x)
                for (size_t c = 0; c < 4; ++c)
                    m_cmyk[4 * x + c] = sample8(c, x);
            CMYKConversion()->ConvertCMYK(m_cmyk.data(), out, m_width);
            if (m_hasAlpha)
                for (size_t x = 0; x < m_width; ++x)
                    out[x] = (out[x] & 0x00FFFFFFu) | (TColor32(sample8(m_colorChannels, x)) << 24);
            return;
        }
        for (size_t x = 0; x < m_width; ++x) {
            const uint8_t alpha = m_hasAlpha ? sample8(m_colorChannels, x) : 0xFF;
            TColor32 c;
            switch (m_mode) {
            case kBitmap: {
                const bool black = (m_planes[x / 8] >> (7 - x % 8)) & 1;
                c = black ? Color32(0, 0, 0) : Color32(255, 255, 255);
                break;
            }
            case kIndexed: {
                const uint8_t index = m_planes[x];
                c = (PaletteColor(m_palette, index) & 0x00FFFFFF) |
                    (TColor32(indexedAlpha && index == m_transparentIndex ? 0 : alpha) << 24);
                break;
            }
            case kRGB: c = Color32(sample8(0, x), sample8(1, x), sample8(2, x), alpha); break;
            case kCMYK: {
                // Stored inverted: 65535 is no ink. Naive conversion R = (1-C)(1-K).
                const uint64_t k = sample16(3, x);
                auto channel = [&](size_t ch) {
                    return Scale16To8(uint16_t((uint64_t(sample16(ch, x)) * k + 32767) / 65535));
                };
                c = Color32(channel(0), channel(1), channel(2), alpha);
                break;
            }
            case kLab: {
                const double l = sample16(0, x) * 100.0 / 65535;
                const double a = sample16(1, x) / 257.0 - 128, b = sample16(2, x) / 257.0 - 128;
                c = LabToRGB(l, a, b, alpha);
                break;
            }
            default: { // gray, duotone, multichannel
                const uint8_t g = sample8(0, x);
                c = Color32(g, g, g, alpha);
                break;
            }
            }
            if (m_hasAlpha && m_mode == kRGB)
                c = Unmatte(c);
            out[x] = c;
        }
    }

    std::vector<std::unique_ptr<TByteReader>> m_channels;
    uint16_t m_version = 0;
    uint16_t m_channelCount = 0;
    uint32_t m_height = 0;
    uint32_t m_width = 0;
    uint16_t m_depth = 0;
    uint16_t m_mode = 0;
    size_t m_colorChannels = 0;
    std::vector<TColor32> m_palette;
    int32_t m_transparentIndex = -1;
    bool m_packBits = false;
    bool m_hasAlpha = false;
    size_t m_used = 0;
    size_t m_rowBytes = 0;
    std::vector<uint64_t> m_rowStarts;
    std::vector<uint32_t> m_rowLengths;
    std::vector<uint8_t> m_planes; // the current row of each used channel
    std::vector<uint8_t> m_profile;
    uint16_t m_orientation = kOrientationUpright;
    std::vector<uint8_t> m_cmyk;
};

} // namespace

std::unique_ptr<TPictureReader> TPSDGraphic::OpenRows(TStream& stream)
{
    return std::make_unique<TPSDReader>(stream);
}

} // namespace palvex
