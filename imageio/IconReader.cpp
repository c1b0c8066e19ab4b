// TIcon::LoadStream: an icon directory with one or more images, each a
// device-independent bitmap (colour image and AND mask, height doubled) or a
// complete PNG file. The largest image wins, then the deepest, then the first.
#include "imageio/Icon.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "imageio/Bitmap.h"
#include "imageio/BmpDib.h"
#include "imageio/FileFormats.h"
#include "imageio/PictureReader.h"
#include "imageio/Streams.h"
#include "platform/Errors.h"

namespace palvex {

namespace {

constexpr const char* kSInvalidIcon = "Icon image is not valid";
constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

[[noreturn]] void Invalid() { throw EInvalidGraphic(kSInvalidIcon); }

uint32_t U32LE(const uint8_t* p) { return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24); }
uint32_t U32BE(const uint8_t* p) { return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3]; }

bool IsPng(std::span<const uint8_t> bytes)
{
    return bytes.size() >= sizeof kPngSignature && std::memcmp(bytes.data(), kPngSignature, sizeof kPngSignature) == 0;
}

struct TCandidate {
    std::span<const uint8_t> Bytes;
    bool Png = false;
    int64_t Width = 0;
    int64_t Height = 0;
    int Depth = 0;
    size_t Order = 0;
};

// Size and depth from the image's own header, which a directory may misstate.
bool Probe(TCandidate& c)
{
    if (c.Png) {
        // Signature, then the IHDR chunk: length, type, width, height, depth, colour type.
        if (c.Bytes.size() < 26 || std::memcmp(c.Bytes.data() + 12, "IHDR", 4) != 0)
            return false;
        c.Width = U32BE(c.Bytes.data() + 16);
        c.Height = U32BE(c.Bytes.data() + 20);
        static constexpr int kChannels[7] = {1, 0, 3, 1, 2, 0, 4};
        const uint8_t colourType = c.Bytes[25];
        c.Depth = c.Bytes[24] * (colourType < 7 ? kChannels[colourType] : 0);
        return IsPictureSizeAllowed(c.Width, c.Height);
    }
    try {
        const dib::TDibInfo info = dib::ParseInfo(c.Bytes, 0);
        if (info.TopDown || info.Height < 2)
            return false;
        c.Width = info.Width;
        c.Height = info.Height / 2;
        c.Depth = info.BitCount;
        return true;
    } catch (const Exception&) {
        return false;
    }
}

// A colour image with its AND mask. Mask rows missing from the data hide
// nothing; 32-bit images whose alpha is anywhere nonzero ignore the mask.
std::vector<TColor32> DecodeDibEntry(std::span<const uint8_t> bytes, int32_t& width, int32_t& height)
{
    dib::TDibInfo info = dib::ParseInfo(bytes, 0);
    if (info.Compression == dib::kBI_RLE4 || info.Compression == dib::kBI_RLE8 || info.TopDown ||
        info.Height < 2)
        Invalid();
    info.Height /= 2;
    const size_t paletteBytes =
        (info.BitCount <= 8 ? std::max<size_t>(info.ColorsUsed, info.PaletteEntries()) : info.ColorsUsed) *
        info.PaletteEntrySize;
    if (paletteBytes > bytes.size() - info.PaletteOffset)
        throw EReadError(kSReadError);
    const size_t bitsOffset = info.PaletteOffset + paletteBytes;
    TBitmap image;
    const size_t maskOffset =
        dib::DecodePixels(info, dib::ReadPalette(info, bytes, bitsOffset), bytes, bitsOffset, image);

    width = info.Width;
    height = info.Height;
    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    std::vector<TColor32> pixels(count);
    for (int32_t y = 0; y < height; ++y)
        image.ReadRow32(y, pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(width));
    if (image.PixelFormat() == TPixelFormat::pf32bit &&
        std::any_of(pixels.begin(), pixels.end(), [](TColor32 c) { return AlphaComponent(c) != 0; }))
        return pixels;

    const size_t maskStride = dib::RowStride(width, 1);
    for (int32_t row = 0; row < height; ++row) {
        const size_t at = maskOffset + static_cast<size_t>(row) * maskStride;
        const bool present = at <= bytes.size() && maskStride <= bytes.size() - at;
        TColor32* out = pixels.data() + static_cast<size_t>(height - 1 - row) * static_cast<size_t>(width);
        for (int32_t x = 0; x < width; ++x) {
            const bool hidden = present && ((bytes[at + (x >> 3)] >> (7 - (x & 7))) & 1);
            out[x] = hidden ? (out[x] & 0x00FFFFFF) : (out[x] | 0xFF000000);
        }
    }
    return pixels;
}

// PNG entries go through the registered PNG kind, which lives in a higher layer.
std::vector<TColor32> DecodePngEntry(std::span<const uint8_t> bytes, int32_t& width, int32_t& height)
{
    std::vector<TColor32> pixels = LoadEmbeddedPicture(bytes, "png", width, height);
    if (pixels.empty())
        Invalid();
    return pixels;
}

// The directory's images that look sound, best first: the largest, then the
// deepest, then the first.
std::vector<TCandidate> Candidates(const std::vector<uint8_t>& data)
{
    if (data.size() < 6)
        throw EReadError(kSReadError);
    const uint16_t reserved = static_cast<uint16_t>(data[0] | (data[1] << 8));
    const uint16_t type = static_cast<uint16_t>(data[2] | (data[3] << 8));
    const uint16_t count = static_cast<uint16_t>(data[4] | (data[5] << 8));
    // Type 2 is a cursor, stored the same way.
    if (reserved != 0 || (type != 1 && type != 2) || count == 0)
        Invalid();
    if (data.size() < 6 + size_t(count) * 16)
        throw EReadError(kSReadError);

    std::vector<TCandidate> candidates;
    bool cutShort = false;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* entry = data.data() + 6 + i * 16;
        const size_t size = U32LE(entry + 8), offset = U32LE(entry + 12);
        if (offset > data.size() || size > data.size() - offset) {
            cutShort = true;
            continue;
        }
        TCandidate c;
        c.Bytes = std::span<const uint8_t>(data).subspan(offset, size);
        c.Png = IsPng(c.Bytes);
        c.Order = i;
        if (Probe(c))
            candidates.push_back(c);
    }
    if (candidates.empty()) {
        if (cutShort)
            throw EReadError(kSReadError);
        Invalid();
    }
    std::stable_sort(candidates.begin(), candidates.end(), [](const TCandidate& a, const TCandidate& b) {
        const int64_t areaA = a.Width * a.Height, areaB = b.Width * b.Height;
        return areaA != areaB ? areaA > areaB : a.Depth > b.Depth;
    });
    return candidates;
}

// An image's pixels, decoded whole before, handed out a row at a time.
class TIconPixelsReader final : public TPictureReader {
public:
    TIconPixelsReader(int32_t width, int32_t height, std::vector<TColor32> pixels) : m_pixels(std::move(pixels))
    {
        SetPicture(width, height, /*alpha=*/true);
    }

private:
    void Refuse() const override { Invalid(); }
    void ReadRow(int32_t y, TColor32* out) override
    {
        const size_t width = size_t(Width());
        const TColor32* in = m_pixels.data() + size_t(y) * width;
        for (size_t x = 0; x < width; ++x)
            out[x] = IconPixelAsCopied(in[x]);
    }

    std::vector<TColor32> m_pixels;
};

// A PNG image's rows straight from the PNG reader: a large one is never held whole.
class TIconPngReader final : public TPictureReader {
public:
    explicit TIconPngReader(std::span<const uint8_t> bytes) : m_stream(std::vector<uint8_t>(bytes.begin(), bytes.end()))
    {
        const TGraphicClass* cls = FileFormats().FindClassForExtension("png");
        if (!cls || !cls->Create)
            Invalid();
        m_kind = cls->Create();
        m_png = m_kind->OpenRows(m_stream);
        SetPicture(m_png->Width(), m_png->Height(), /*alpha=*/true);
    }

private:
    void Refuse() const override { Invalid(); }
    void ReadRow(int32_t y, TColor32* out) override
    {
        const TColor32* in = m_png->Row(y);
        for (int32_t x = 0; x < Width(); ++x)
            out[x] = IconPixelAsCopied(in[x]);
    }
    void ReadEnd() override { m_png->Finish(); }

    TMemoryStream m_stream;
    std::unique_ptr<TGraphic> m_kind;
    std::unique_ptr<TPictureReader> m_png;
};

// Opens the candidates best first; when none opens, the best one's failure.
template <class Open>
auto OpenBest(const std::vector<TCandidate>& candidates, Open open) -> decltype(open(candidates.front()))
{
    bool firstShort = false;
    for (size_t i = 0; i < candidates.size(); ++i) {
        try {
            return open(candidates[i]);
        } catch (const EReadError&) {
            if (i == 0)
                firstShort = true;
        } catch (const Exception&) {
        }
    }
    if (firstShort)
        throw EReadError(kSReadError);
    Invalid();
}

} // namespace

void TIcon::LoadStream(TStream& stream)
{
    const std::vector<uint8_t> data = stream.ReadRemaining();
    OpenBest(Candidates(data), [&](const TCandidate& c) {
        int32_t width = 0, height = 0;
        std::vector<TColor32> pixels =
            c.Png ? DecodePngEntry(c.Bytes, width, height) : DecodeDibEntry(c.Bytes, width, height);
        SetImage(width, height, std::move(pixels));
    });
}

std::unique_ptr<TPictureReader> TIcon::OpenRows(TStream& stream)
{
    const std::vector<uint8_t> data = stream.ReadRemaining();
    // As LoadStream, but a PNG image that opens is read from then on: a fault
    // in its pixels is the file's error.
    return OpenBest(Candidates(data), [](const TCandidate& c) -> std::unique_ptr<TPictureReader> {
        if (c.Png)
            return std::make_unique<TIconPngReader>(c.Bytes);
        int32_t width = 0, height = 0;
        std::vector<TColor32> pixels = DecodeDibEntry(c.Bytes, width, height);
        return std::make_unique<TIconPixelsReader>(width, height, std::move(pixels));
    });
}

} // namespace palvex
