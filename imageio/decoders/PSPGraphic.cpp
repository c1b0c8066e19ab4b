// The Paint Shop Pro reader: blocks, layers and channels.
#include "imageio/decoders/PSPGraphic.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include <zlib.h>

#include "imageio/decoders/Codecs.h"
#include "platform/Errors.h"

namespace palvex {

PALVEX_DEFINE_GRAPHIC_CLASS(TPSPGraphic, TDecoderGraphic)

namespace {

constexpr char kSignature[] = "Paint Shop Pro Image File\n\x1a";
constexpr size_t kSignatureBytes = 32;
constexpr uint16_t kMaxMajor = 32;

enum : uint16_t {
    kImageAttributesBlock = 0,
    kPaletteBlock = 2,
    kLayerBankBlock = 3,
    kLayerBlock = 4,
    kChannelBlock = 5,
    kCompositeImageBlock = 9,
    kCompositeBankBlock = 16,
    kCompositeAttributesBlock = 17,
};

enum : uint16_t { kNone = 0, kRunLength = 1, kLZ77 = 2 };

// Bitmap types of a channel.
enum : uint16_t { kLayerColor = 0, kLayerMask = 1, kCompositeColor = 8, kCompositeMask = 9 };

bool KnownDepth(uint16_t depth)
{
    return depth == 1 || depth == 4 || depth == 8 || depth == 16 || depth == 24 || depth == 48;
}

struct Block {
    uint16_t Id = 0;
    uint32_t InitialLength = 0; // version 3 only: the information chunk's length
    std::span<const uint8_t> Body;
};

struct Channel {
    uint16_t BitmapType = 0, ChannelType = 0;
    std::span<const uint8_t> Data;
};

// A stored bitmap: a layer's or the composite image's.
struct Raster {
    int64_t Left = 0, Top = 0, Width = 0, Height = 0;
    uint8_t Opacity = 255;
    bool Visible = true;
    uint16_t Depth = 24, Compression = kNone;
    std::vector<Channel> Channels;
};

class PSPReader {
public:
    PSPReader(std::span<const uint8_t> data, const char* name) : m_in(data, name), m_name(name) {}

    // Reads the blocks down to the channels; nothing of the pixels yet.
    void Parse();
    int64_t Width() const { return m_width; }
    int64_t Height() const { return m_height; }
    // Whether the picture can have pixels that are not opaque.
    bool HasAlpha() const;
    // The composite image, or the layers merged, into picture (sized).
    void Decode(TBitmap32& picture);

    // Turned into the format's messages by the graphic.
    struct Invalid {};
    struct Short {};
    struct Compression {};

private:
    bool NextBlock(TByteReader& in, Block& block);
    // The information chunk's fields, and what follows it.
    std::pair<std::span<const uint8_t>, std::span<const uint8_t>> SplitInfo(const Block& block);
    void ReadImageAttributes(const Block& block);
    std::vector<TColor32> ReadPalette(const Block& block);
    Channel ReadChannel(const Block& block);
    void ReadChannels(TByteReader& rest, Raster& raster, std::vector<TColor32>* palette);
    bool ReadLayer(const Block& block, Raster& layer);
    bool ReadComposite(const Block& bank, Raster& composite, std::vector<TColor32>& palette);
    std::vector<uint8_t> Unpack(const Channel& channel, const Raster& raster, size_t bytes);
    std::vector<TColor32> DecodeRaster(const Raster& raster, std::span<const TColor32> palette);

    TByteReader m_in;
    const char* m_name;
    uint16_t m_major = 0;
    int64_t m_width = 0, m_height = 0;
    uint16_t m_depth = 0, m_compression = 0;
    bool m_grey = false;
    std::vector<TColor32> m_palette;
    std::vector<Raster> m_layers;
    Raster m_composite;
    bool m_hasComposite = false;
};

// The colour channels (red, green, blue, or the one of gray and indices) and
// the mask of a stored bitmap; false when a colour channel is missing.
bool FindPlanes(const Raster& raster, const Channel* (&planes)[4])
{
    const bool colour = raster.Depth == 24 || raster.Depth == 48;
    for (const Channel& c : raster.Channels) {
        if (c.BitmapType == kLayerColor || c.BitmapType == kCompositeColor) {
            if (colour && c.ChannelType >= 1 && c.ChannelType <= 3)
                planes[c.ChannelType - 1] = &c;
            else if (!colour && c.ChannelType == 0)
                planes[0] = &c;
        } else if (c.BitmapType == kLayerMask || c.BitmapType == kCompositeMask) {
            planes[3] = &c;
        }
    }
    return planes[0] && (!colour || (planes[1] && planes[2]));
}

bool PSPReader::NextBlock(TByteReader& in, Block& block)
{
    if (in.Remaining() == 0)
        return false;
    const auto magic = in.Bytes(4);
    if (std::memcmp(magic.data(), "~BK\0", 4) != 0)
        throw Invalid();
    block.Id = in.U16LE();
    block.InitialLength = m_major < 4 ? in.U32LE() : 0;
    block.Body = in.Bytes(in.U32LE());
    if (block.InitialLength > block.Body.size())
        throw Invalid();
    return true;
}

std::pair<std::span<const uint8_t>, std::span<const uint8_t>> PSPReader::SplitInfo(const Block& block)
{
    size_t size = block.InitialLength, start = 0;
    if (m_major >= 4) {
        TByteReader body(block.Body, m_name);
        size = body.U32LE();
        start = 4;
        if (size < 4 || size > block.Body.size())
            throw Invalid();
    }
    return {block.Body.subspan(start, size - start), block.Body.subspan(size)};
}

void PSPReader::ReadImageAttributes(const Block& block)
{
    TByteReader info(SplitInfo(block).first, m_name);
    m_width = static_cast<int32_t>(info.U32LE());
    m_height = static_cast<int32_t>(info.U32LE());
    info.Skip(8 + 1); // resolution, its unit
    m_compression = info.U16LE();
    m_depth = info.U16LE();
    info.Skip(2 + 4); // planes, colour count
    m_grey = info.U8() != 0;
    if (!IsPictureSizeAllowed(m_width, m_height) || m_compression > kLZ77 || !KnownDepth(m_depth))
        throw Invalid();
}

std::vector<TColor32> PSPReader::ReadPalette(const Block& block)
{
    const auto [infoBytes, restBytes] = SplitInfo(block);
    TByteReader info(infoBytes, m_name), rest(restBytes, m_name);
    const size_t count = std::min<uint32_t>(info.U32LE(), 256);
    std::vector<TColor32> palette(count);
    for (TColor32& c : palette) {
        const auto bgr = rest.Bytes(4);
        c = Color32(bgr[2], bgr[1], bgr[0]);
    }
    return palette;
}

Channel PSPReader::ReadChannel(const Block& block)
{
    const auto [infoBytes, restBytes] = SplitInfo(block);
    TByteReader info(infoBytes, m_name), rest(restBytes, m_name);
    const uint32_t length = info.U32LE();
    info.Skip(4); // the uncompressed length: not what the rows need, see Unpack
    Channel channel;
    channel.BitmapType = info.U16LE();
    channel.ChannelType = info.U16LE();
    channel.Data = rest.Bytes(length);
    return channel;
}

void PSPReader::ReadChannels(TByteReader& rest, Raster& raster, std::vector<TColor32>* palette)
{
    Block block;
    while (NextBlock(rest, block)) {
        if (block.Id == kChannelBlock)
            raster.Channels.push_back(ReadChannel(block));
        else if (block.Id == kPaletteBlock && palette)
            *palette = ReadPalette(block);
    }
}

bool PSPReader::ReadLayer(const Block& block, Raster& layer)
{
    const auto [infoBytes, restBytes] = SplitInfo(block);
    TByteReader info(infoBytes, m_name), rest(restBytes, m_name);
    uint8_t type;
    if (m_major >= 4) {
        info.Skip(info.U16LE()); // name
        type = info.U8();
    } else {
        info.Skip(256);
        type = info.U8() == 0 ? 1 : 0xFF; // version 3: 0 is a normal layer
    }
    int32_t rect[8];
    for (int32_t& v : rect)
        v = static_cast<int32_t>(info.U32LE());
    layer.Opacity = info.U8();
    info.Skip(1); // blend mode: all drawn as normal
    layer.Visible = (info.U8() & 1) != 0;
    // Stored bitmap: the saved rectangle, placed relative to the image rectangle.
    layer.Left = int64_t(rect[0]) + rect[4];
    layer.Top = int64_t(rect[1]) + rect[5];
    layer.Width = int64_t(rect[6]) - rect[4];
    layer.Height = int64_t(rect[7]) - rect[5];
    layer.Depth = m_depth;
    layer.Compression = m_compression;

    if (m_major >= 4) {
        // Extension blocks of later versions come before the bitmap chunk.
        while (rest.Remaining() >= 4 && std::memcmp(block.Body.data() + (block.Body.size() - rest.Remaining()), "~BK\0", 4) == 0) {
            Block skipped;
            NextBlock(rest, skipped);
        }
        const size_t start = rest.Position();
        const uint32_t size = rest.U32LE();
        if (size < 8)
            throw Invalid();
        rest.Seek(start + size);
    }
    ReadChannels(rest, layer, nullptr);
    // Raster layers and floating selections; vector, adjustment, group and
    // mask layers are not drawn.
    return (type == 1 || type == 2) && layer.Visible && layer.Width > 0 && layer.Height > 0;
}

bool PSPReader::ReadComposite(const Block& bank, Raster& composite, std::vector<TColor32>& palette)
{
    // The composite count is a hint: the blocks themselves are counted.
    TByteReader rest(SplitInfo(bank).second, m_name);
    // Attribute blocks first, then the images in the same order.
    std::vector<Raster> attributes;
    std::vector<bool> full;
    Block block;
    size_t image = 0;
    while (NextBlock(rest, block)) {
        if (block.Id == kCompositeAttributesBlock) {
            TByteReader fields(SplitInfo(block).first, m_name);
            Raster r;
            r.Width = static_cast<int32_t>(fields.U32LE());
            r.Height = static_cast<int32_t>(fields.U32LE());
            r.Depth = fields.U16LE();
            r.Compression = fields.U16LE();
            fields.Skip(2 + 4); // planes, colour count
            full.push_back(fields.U16LE() == 0);
            attributes.push_back(r);
            continue;
        }
        const size_t index = image++;
        if (block.Id != kCompositeImageBlock || index >= attributes.size() || !full[index])
            continue;
        composite = attributes[index];
        if (composite.Width != m_width || composite.Height != m_height || composite.Compression > kLZ77)
            continue;
        const auto [fieldsBytes, channelsBytes] = SplitInfo(block);
        TByteReader fields(fieldsBytes, m_name), channels(channelsBytes, m_name);
        ReadChannels(channels, composite, &palette);
        return true;
    }
    return false;
}

// A channel's samples: width x height of one byte (two at 16 bits a
// sample, little-endian), or rows of 1 or 4-bit samples padded to four bytes.
std::vector<uint8_t> PSPReader::Unpack(const Channel& channel, const Raster& raster, size_t bytes)
{
    TByteReader in(channel.Data, m_name);
    // Data that cannot fill the channel even at the method's best ratio is
    // refused before its memory is taken.
    const size_t ratio = raster.Compression == kLZ77 ? 1032 : raster.Compression == kRunLength ? 64 : 1;
    if (channel.Data.size() < bytes / ratio)
        throw Short();
    std::vector<uint8_t> out(bytes);
    if (raster.Compression == kNone) {
        const auto raw = in.Bytes(bytes);
        std::memcpy(out.data(), raw.data(), bytes);
    } else if (raster.Compression == kRunLength) {
        // A count above 128 repeats the next byte count-128 times, any other
        // copies count bytes; a run past the channel's end is cut.
        size_t pos = 0;
        while (pos < bytes) {
            const uint8_t n = in.U8();
            const size_t count = n > 128 ? n - 128u : n;
            const size_t fit = std::min(count, bytes - pos);
            if (n > 128) {
                std::memset(out.data() + pos, in.U8(), fit);
            } else {
                const auto literal = in.Bytes(count);
                std::memcpy(out.data() + pos, literal.data(), fit);
            }
            pos += fit;
        }
    } else {
        z_stream z{};
        if (inflateInit(&z) != Z_OK)
            throw Compression();
        z.next_in = const_cast<Bytef*>(channel.Data.data());
        z.avail_in = static_cast<uInt>(std::min<size_t>(channel.Data.size(), UINT32_MAX));
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(bytes);
        const int result = inflate(&z, Z_FINISH);
        inflateEnd(&z);
        if ((result != Z_STREAM_END && result != Z_OK && result != Z_BUF_ERROR) || z.avail_out != 0)
            throw Compression();
    }
    return out;
}

std::vector<TColor32> PSPReader::DecodeRaster(const Raster& raster, std::span<const TColor32> palette)
{
    const uint16_t depth = raster.Depth;
    if (!IsPictureSizeAllowed(raster.Width, raster.Height) ||
        !KnownDepth(depth))
        throw Invalid();
    const size_t width = size_t(raster.Width), height = size_t(raster.Height);
    const bool colour = raster.Depth == 24 || raster.Depth == 48;
    const size_t sampleBytes = raster.Depth == 16 || raster.Depth == 48 ? 2 : 1;
    size_t rowBytes = width * sampleBytes;
    if (raster.Depth < 8) {
        PackedRowBytes(width, raster.Depth, rowBytes);
        rowBytes = (rowBytes + 3) / 4 * 4;
    }
    const Channel* planes[4] = {};
    if (!FindPlanes(raster, planes))
        throw Invalid();
    const int colourPlanes = colour ? 3 : 1;

    std::vector<uint8_t> samples[4];
    for (int p = 0; p < colourPlanes; ++p)
        samples[p] = Unpack(*planes[p], raster, rowBytes * height);
    if (planes[3])
        samples[3] = Unpack(*planes[3], raster, width * height);

    auto sample = [&](int p, size_t i) -> uint8_t {
        const uint8_t* s = samples[p].data();
        return sampleBytes == 2 ? Scale16To8(uint16_t(s[2 * i] | (s[2 * i + 1] << 8))) : s[i];
    };
    std::vector<TColor32> pixels(width * height);
    std::vector<uint8_t> indices(width);
    for (size_t y = 0; y < height; ++y) {
        if (raster.Depth < 8)
            UnpackBits(samples[0].data() + y * rowBytes, raster.Depth, width, indices.data());
        for (size_t x = 0; x < width; ++x) {
            const size_t i = y * width + x;
            const uint8_t alpha = planes[3] ? samples[3][i] : 0xFF;
            TColor32 c;
            if (colour) {
                c = Color32(sample(0, i), sample(1, i), sample(2, i));
            } else if (raster.Depth < 8) {
                c = PaletteColor(palette, indices[x]);
            } else if (m_grey || raster.Depth == 16) {
                const uint8_t v = sample(0, i);
                c = Color32(v, v, v);
            } else {
                c = PaletteColor(palette, samples[0][i]);
            }
            pixels[i] = (c & 0x00FFFFFF) | (TColor32(alpha) << 24);
        }
    }
    return pixels;
}

// Straight alpha, source over destination, with the layer's opacity.
TColor32 Over(TColor32 src, TColor32 dst, uint32_t opacity)
{
    const uint32_t sa = (AlphaComponent(src) * opacity + 127) / 255;
    if (sa == 255)
        return src | 0xFF000000;
    const uint32_t da = AlphaComponent(dst);
    const uint32_t oa = sa + (da * (255 - sa) + 127) / 255;
    if (oa == 0)
        return 0;
    auto mix = [&](TColor32 (*component)(TColor32)) {
        const uint32_t num = component(src) * sa * 255 + component(dst) * da * (255 - sa);
        return static_cast<uint8_t>((num + oa * 255 / 2) / (oa * 255));
    };
    return Color32(mix(RedComponent), mix(GreenComponent), mix(BlueComponent), static_cast<uint8_t>(oa));
}

void PSPReader::Parse()
{
    const auto signature = m_in.Bytes(kSignatureBytes);
    if (std::memcmp(signature.data(), kSignature, sizeof kSignature - 1) != 0)
        throw Invalid();
    m_major = m_in.U16LE();
    m_in.Skip(2); // minor
    if (m_major < 3 || m_major > kMaxMajor)
        throw Invalid();

    Block block;
    bool attributes = false;
    while (NextBlock(m_in, block)) {
        if (block.Id == kImageAttributesBlock && !attributes) {
            ReadImageAttributes(block);
            attributes = true;
        } else if (!attributes) {
            throw Invalid(); // the attributes come first
        } else if (block.Id == kPaletteBlock) {
            m_palette = ReadPalette(block);
        } else if (block.Id == kCompositeBankBlock && m_major >= 4 && !m_hasComposite) {
            m_hasComposite = ReadComposite(block, m_composite, m_palette);
        } else if (block.Id == kLayerBankBlock && !m_hasComposite) {
            TByteReader bank(block.Body, m_name);
            Block layerBlock;
            while (NextBlock(bank, layerBlock)) {
                Raster layer;
                if (layerBlock.Id == kLayerBlock && ReadLayer(layerBlock, layer))
                    m_layers.push_back(std::move(layer));
            }
        }
    }
    if (!attributes)
        throw Invalid();
    // Every bitmap that will be drawn is checked before the canvas is taken.
    const Channel* planes[4] = {};
    if (m_hasComposite && (!KnownDepth(m_composite.Depth) || !FindPlanes(m_composite, planes)))
        throw Invalid();
    for (const Raster& layer : m_layers) {
        const Channel* layerPlanes[4] = {};
        if (!IsPictureSizeAllowed(layer.Width, layer.Height) || !KnownDepth(layer.Depth) ||
            !FindPlanes(layer, layerPlanes))
            throw Invalid();
    }
}

bool PSPReader::HasAlpha() const
{
    auto masked = [](const Raster& r) {
        return std::any_of(r.Channels.begin(), r.Channels.end(), [](const Channel& c) {
            return c.BitmapType == kLayerMask || c.BitmapType == kCompositeMask;
        });
    };
    if (m_hasComposite)
        return masked(m_composite);
    // Opaque when the bottom layer covers the canvas without transparency.
    if (m_layers.empty())
        return true;
    const Raster& bottom = m_layers.front();
    return masked(bottom) || bottom.Opacity != 255 || bottom.Left > 0 || bottom.Top > 0 ||
           bottom.Left + bottom.Width < m_width || bottom.Top + bottom.Height < m_height;
}

void PSPReader::Decode(TBitmap32& picture)
{
    if (m_hasComposite) {
        const std::vector<TColor32> pixels = DecodeRaster(m_composite, m_palette);
        std::copy(pixels.begin(), pixels.end(), picture.PixelData());
        return;
    }
    // The first layer of the bank is the bottom one, over a transparent canvas.
    std::fill_n(picture.PixelData(), picture.PixelCount(), TColor32(0));
    for (const Raster& layer : m_layers) {
        const std::vector<TColor32> pixels = DecodeRaster(layer, m_palette);
        const int64_t x0 = std::max<int64_t>(layer.Left, 0), x1 = std::min(layer.Left + layer.Width, m_width);
        const int64_t y0 = std::max<int64_t>(layer.Top, 0), y1 = std::min(layer.Top + layer.Height, m_height);
        for (int64_t y = y0; y < y1; ++y)
            for (int64_t x = x0; x < x1; ++x) {
                TColor32& dst = *picture.PixelAddress(int32_t(x), int32_t(y));
                dst = Over(pixels[size_t((y - layer.Top) * layer.Width + (x - layer.Left))], dst, layer.Opacity);
            }
    }
}

// The file's blocks are found by their lengths all over the file, so its
// bytes are held (compressed: far less than the picture).
class PSPPictureReader final : public TDecoderReader {
public:
    PSPPictureReader(TStream& stream, const char* name) : TDecoderReader(name)
    {
        TByteReader in(stream, name);
        const auto bytes = in.Bytes(in.Size());
        m_data.assign(bytes.begin(), bytes.end());
        m_file = std::make_unique<PSPReader>(m_data, name);
        Guard([&] { m_file->Parse(); });
        SetPicture(m_file->Width(), m_file->Height(), m_file->HasAlpha(), TFill::Whole);
    }

private:
    void ReadWhole(TBitmap32& picture) override
    {
        Guard([&] { m_file->Decode(picture); });
    }

    template <typename Work>
    void Guard(Work work)
    {
        try {
            work();
        } catch (const PSPReader::Invalid&) {
            InvalidFormat();
        } catch (const PSPReader::Short&) {
            ReadError();
        } catch (const PSPReader::Compression&) {
            throw EGraphicCompression("LZ77 decompression error.");
        }
    }

    std::vector<uint8_t> m_data;
    std::unique_ptr<PSPReader> m_file;
};

} // namespace

std::unique_ptr<TPictureReader> TPSPGraphic::OpenRows(TStream& stream)
{
    return std::make_unique<PSPPictureReader>(stream, FormatName());
}

} // namespace palvex
