// The EPS reader: previews only, PostScript is never executed.
#include "imageio/decoders/EPSGraphic.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "imageio/Metafile.h"
#include "imageio/Streams.h"
#include "imageio/decoders/TIFFGraphic.h"
#include "platform/Errors.h"

namespace palvex {

PALVEX_DEFINE_GRAPHIC_CLASS(TEPSGraphic, TDecoderGraphic)

namespace {

constexpr uint8_t kDosMagic[4] = {0xC5, 0xD0, 0xD3, 0xC6};

bool StartsWith(std::span<const uint8_t> data, std::string_view text)
{
    return data.size() >= text.size() && std::memcmp(data.data(), text.data(), text.size()) == 0;
}

// A decimal number of a comment line; false past digits' end or on overflow.
bool ParseNumber(std::string_view& s, uint32_t& value)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    if (s.empty() || s.front() < '0' || s.front() > '9')
        return false;
    uint64_t v = 0;
    while (!s.empty() && s.front() >= '0' && s.front() <= '9') {
        v = v * 10 + uint64_t(s.front() - '0');
        if (v > 0xFFFFFFFFu)
            return false;
        s.remove_prefix(1);
    }
    value = static_cast<uint32_t>(v);
    return true;
}

int HexDigit(uint8_t c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

void TEPSGraphic::Decode(std::span<const uint8_t> data)
{
    if (data.size() >= 4 && std::memcmp(data.data(), kDosMagic, 4) == 0) {
        TByteReader in(data, FormatName());
        in.Skip(4);
        const uint32_t psAt = in.U32LE(), psLength = in.U32LE();
        const uint32_t wmfAt = in.U32LE(), wmfLength = in.U32LE();
        const uint32_t tiffAt = in.U32LE(), tiffLength = in.U32LE();
        auto section = [&](uint32_t at, uint32_t length) {
            if (at > data.size() || length > data.size() - at)
                ReadError();
            return data.subspan(at, length);
        };
        if (tiffAt != 0 && tiffLength != 0) {
            DecodeTiffPreview(section(tiffAt, tiffLength));
            return;
        }
        if (wmfAt != 0 && wmfLength != 0) {
            DecodeWmfPreview(section(wmfAt, wmfLength));
            return;
        }
        if (psLength != 0 && DecodeHexPreview(section(psAt, psLength)))
            return;
        Unsupported("PostScript without a preview");
    }
    if (!StartsWith(data, "%!PS"))
        InvalidFormat();
    if (!DecodeHexPreview(data))
        Unsupported("PostScript without a preview");
}

void TEPSGraphic::DecodeTiffPreview(std::span<const uint8_t> tiff)
{
    TTIFFGraphic preview;
    TMemoryStream stream(std::vector<uint8_t>(tiff.begin(), tiff.end()));
    preview.LoadStream(stream);
    AssignFrom(&preview);
}

void TEPSGraphic::DecodeWmfPreview(std::span<const uint8_t> wmf)
{
    TMetafile preview;
    TMemoryStream stream(std::vector<uint8_t>(wmf.begin(), wmf.end()));
    preview.LoadStream(stream);
    AllocatePicture(preview.Width(), preview.Height(), TPixelFormat::pf24bit);
    const TColor32* pixels = preview.Pixels().data();
    std::vector<TColor32> row(static_cast<size_t>(preview.Width()));
    // What the preview leaves undrawn is paper.
    for (int32_t y = 0; y < preview.Height(); ++y) {
        for (size_t x = 0; x < row.size(); ++x) {
            const TColor32 c = pixels[size_t(y) * row.size() + x];
            row[x] = AlphaComponent(c) ? c : 0xFFFFFFFF;
        }
        StoreRow32(y, row.data());
    }
}

// %%BeginPreview: width height depth lines, then hex lines starting with
// "%" until %%EndPreview. Rows are padded to whole bytes; 0 is white.
bool TEPSGraphic::DecodeHexPreview(std::span<const uint8_t> text)
{
    const std::string_view all(reinterpret_cast<const char*>(text.data()), text.size());
    // The preview comes before the prolog; a long search gains nothing.
    const size_t searched = std::min<size_t>(all.size(), size_t(1) << 20);
    const size_t begin = all.substr(0, searched).find("%%BeginPreview:");
    if (begin == std::string_view::npos)
        return false;
    std::string_view header = all.substr(begin + 15);
    header = header.substr(0, std::min(header.find_first_of("\r\n"), header.size()));
    const size_t dataAt = begin + 15 + header.size();
    uint32_t width = 0, height = 0, depth = 0, lines = 0;
    if (!ParseNumber(header, width) || !ParseNumber(header, height) || !ParseNumber(header, depth) ||
        !ParseNumber(header, lines))
        InvalidFormat();
    if (depth != 1 && depth != 2 && depth != 4 && depth != 8)
        Unsupported("Preview depth");
    if (!IsPictureSizeAllowed(width, height))
        InvalidFormat();
    const size_t rowBytes = (size_t(width) * depth + 7) / 8;
    const size_t needed = rowBytes * height;
    size_t end = all.find("%%EndPreview", dataAt);
    if (end == std::string_view::npos)
        end = all.size();
    // Two hex digits a byte: too few characters cannot fill the picture.
    if (needed > (end - dataAt) / 2)
        ReadError();
    std::vector<uint8_t> bytes;
    bytes.reserve(needed);
    int high = -1;
    for (size_t i = dataAt; i < end && bytes.size() < needed; ++i) {
        const int d = HexDigit(static_cast<uint8_t>(all[i]));
        if (d < 0)
            continue;
        if (high < 0) {
            high = d;
        } else {
            bytes.push_back(static_cast<uint8_t>(high * 16 + d));
            high = -1;
        }
    }
    if (bytes.size() < needed)
        ReadError();
    AllocatePicture(width, height, TPixelFormat::pf24bit);
    const uint32_t maxValue = (1u << depth) - 1;
    std::vector<TColor32> row(width);
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* in = bytes.data() + size_t(y) * rowBytes;
        for (uint32_t x = 0; x < width; ++x) {
            const size_t bit = size_t(x) * depth;
            const uint32_t v = (in[bit / 8] >> (8 - depth - bit % 8)) & maxValue;
            const auto g = static_cast<uint8_t>(255 - v * 255 / maxValue);
            row[x] = Color32(g, g, g);
        }
        StoreRow32(static_cast<int32_t>(y), row.data());
    }
    return true;
}

} // namespace palvex
