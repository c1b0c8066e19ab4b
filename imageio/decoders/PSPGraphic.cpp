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
    bool HasComposite() const { return m_hasComposite; }
    // The composite image's rows.
    std::unique_ptr<class RasterRows> CompositeRows() const;
    // The layers merged, into picture (sized).
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
    info.Skip(4); // the uncompressed length: not what the rows need, see PlaneRows
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

// A row of one of the bitmap's colour planes: width bytes (two at 16 bits a
// sample), or 1 or 4-bit samples padded to four bytes. Its mask has a byte a pixel.
size_t ColourRowBytes(const Raster& raster)
{
    const size_t width = size_t(raster.Width);
    if (raster.Depth >= 8)
        return width * (raster.Depth == 16 || raster.Depth == 48 ? 2 : 1);
    size_t packed = width;
    PackedRowBytes(width, raster.Depth, packed);
    return (packed + 3) / 4 * 4;
}

// Data that cannot fill a channel of bytes even at its method's best ratio.
bool TooShort(const Channel& channel, uint16_t compression, size_t bytes)
{
    const size_t ratio = compression == kLZ77 ? 1032 : compression == kRunLength ? 64 : 1;
    return channel.Data.size() < bytes / ratio;
}

// One channel's samples a row at a time (16-bit samples little-endian). Its
// data was checked against its size when the file was parsed.
class PlaneRows {
public:
    PlaneRows(const Channel& channel, uint16_t compression, size_t rowBytes, size_t rows, const char* name)
        : m_in(channel.Data, name), m_compression(compression), m_rowBytes(rowBytes), m_rowsLeft(rows)
    {
        if (compression == kLZ77) {
            if (inflateInit(&m_z) != Z_OK)
                throw PSPReader::Compression();
            m_inflating = true;
            m_z.next_in = const_cast<Bytef*>(channel.Data.data());
            m_z.avail_in = static_cast<uInt>(std::min<size_t>(channel.Data.size(), UINT32_MAX));
        }
    }
    ~PlaneRows()
    {
        if (m_inflating)
            inflateEnd(&m_z);
    }
    PlaneRows(const PlaneRows&) = delete;
    PlaneRows& operator=(const PlaneRows&) = delete;

    const uint8_t* Next()
    {
        m_row.resize(m_rowBytes);
        --m_rowsLeft;
        if (m_compression == kNone)
            return m_in.Bytes(m_rowBytes).data();
        if (m_compression == kRunLength)
            NextRuns();
        else
            NextInflated();
        return m_row.data();
    }

private:
    // A count above 128 repeats the next byte count-128 times, any other
    // copies count bytes; runs go on across rows, and one past the channel's
    // end is cut (a literal's bytes must still be there).
    void NextRuns()
    {
        size_t pos = 0;
        while (pos < m_rowBytes) {
            if (m_left == 0) {
                const uint8_t n = m_in.U8();
                m_repeat = n > 128;
                m_left = m_repeat ? n - 128u : n;
                if (m_repeat)
                    m_value = m_in.U8();
                continue;
            }
            const size_t take = std::min(m_left, m_rowBytes - pos);
            if (m_repeat)
                std::memset(m_row.data() + pos, m_value, take);
            else
                std::memcpy(m_row.data() + pos, m_in.Bytes(take).data(), take);
            pos += take;
            m_left -= take;
        }
        if (m_rowsLeft == 0 && !m_repeat && m_left > 0)
            m_in.Skip(m_left);
    }

    void NextInflated()
    {
        m_z.next_out = m_row.data();
        m_z.avail_out = static_cast<uInt>(m_rowBytes);
        while (m_z.avail_out > 0) {
            const int result = inflate(&m_z, Z_NO_FLUSH);
            if (result != Z_OK && !(result == Z_STREAM_END && m_z.avail_out == 0))
                throw PSPReader::Compression();
        }
    }

    TByteReader m_in;
    uint16_t m_compression;
    size_t m_rowBytes, m_rowsLeft;
    std::vector<uint8_t> m_row;
    size_t m_left = 0; // of the run under way
    bool m_repeat = false;
    uint8_t m_value = 0;
    z_stream m_z{};
    bool m_inflating = false;
};

// A stored bitmap's pixels, a row at a time: alpha from its mask, 255 without.
class RasterRows {
public:
    RasterRows(const Raster& raster, std::span<const TColor32> palette, bool grey, const char* name)
        : m_palette(palette), m_grey(grey), m_depth(raster.Depth), m_width(size_t(raster.Width))
    {
        if (!IsPictureSizeAllowed(raster.Width, raster.Height) || !KnownDepth(m_depth))
            throw PSPReader::Invalid();
        const size_t height = size_t(raster.Height);
        m_colour = m_depth == 24 || m_depth == 48;
        m_wide = m_depth == 16 || m_depth == 48;
        const size_t rowBytes = ColourRowBytes(raster);
        const Channel* planes[4] = {};
        if (!FindPlanes(raster, planes))
            throw PSPReader::Invalid();
        for (int p = 0; p < (m_colour ? 3 : 1); ++p)
            m_planes[p] = std::make_unique<PlaneRows>(*planes[p], raster.Compression, rowBytes, height, name);
        if (planes[3])
            m_planes[3] = std::make_unique<PlaneRows>(*planes[3], raster.Compression, m_width, height, name);
        m_indices.resize(m_width);
    }

    void Next(TColor32* out)
    {
        const uint8_t* s[4] = {};
        for (int p = 0; p < 4; ++p)
            if (m_planes[p])
                s[p] = m_planes[p]->Next();
        auto sample = [&](int p, size_t x) -> uint8_t {
            return m_wide ? Scale16To8(uint16_t(s[p][2 * x] | (s[p][2 * x + 1] << 8))) : s[p][x];
        };
        if (m_depth < 8)
            UnpackBits(s[0], m_depth, m_width, m_indices.data());
        for (size_t x = 0; x < m_width; ++x) {
            const uint8_t alpha = s[3] ? s[3][x] : 0xFF;
            TColor32 c;
            if (m_colour) {
                c = Color32(sample(0, x), sample(1, x), sample(2, x));
            } else if (m_depth < 8) {
                c = PaletteColor(m_palette, m_indices[x]);
            } else if (m_grey || m_depth == 16) {
                const uint8_t v = sample(0, x);
                c = Color32(v, v, v);
            } else {
                c = PaletteColor(m_palette, s[0][x]);
            }
            out[x] = (c & 0x00FFFFFF) | (TColor32(alpha) << 24);
        }
    }

private:
    std::span<const TColor32> m_palette;
    bool m_grey, m_colour = false, m_wide = false;
    uint16_t m_depth;
    size_t m_width;
    std::unique_ptr<PlaneRows> m_planes[4];
    std::vector<uint8_t> m_indices;
};

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
    // And its data must be able to fill it.
    auto shortData = [](const Raster& raster) {
        const Channel* used[4] = {};
        FindPlanes(raster, used);
        for (int p = 0; p < 4; ++p) {
            const size_t rowBytes = p == 3 ? size_t(raster.Width) : ColourRowBytes(raster);
            if (used[p] && TooShort(*used[p], raster.Compression, rowBytes * size_t(raster.Height)))
                return true;
        }
        return false;
    };
    if (m_hasComposite ? shortData(m_composite) : std::any_of(m_layers.begin(), m_layers.end(), shortData))
        throw Short();
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

std::unique_ptr<RasterRows> PSPReader::CompositeRows() const
{
    return std::make_unique<RasterRows>(m_composite, m_palette, m_grey, m_name);
}

void PSPReader::Decode(TBitmap32& picture)
{
    // The first layer of the bank is the bottom one, over a transparent canvas.
    std::fill_n(picture.PixelData(), picture.PixelCount(), TColor32(0));
    std::vector<TColor32> row;
    for (const Raster& layer : m_layers) {
        RasterRows rows(layer, m_palette, m_grey, m_name);
        row.resize(size_t(layer.Width));
        const int64_t x0 = std::max<int64_t>(layer.Left, 0), x1 = std::min(layer.Left + layer.Width, m_width);
        for (int64_t ly = 0; ly < layer.Height; ++ly) {
            rows.Next(row.data());
            const int64_t y = layer.Top + ly;
            if (y < 0 || y >= m_height)
                continue;
            TColor32* dst = picture.PixelAddress(0, int32_t(y));
            for (int64_t x = x0; x < x1; ++x)
                dst[x] = Over(row[size_t(x - layer.Left)], dst[x], layer.Opacity);
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
        Guard([&] {
            m_file->Parse();
            if (m_file->HasComposite())
                m_composite = m_file->CompositeRows();
        });
        // Layers overlap, so they are merged whole; the composite comes a row at a time.
        SetPicture(m_file->Width(), m_file->Height(), m_file->HasAlpha(), m_composite ? TFill::Rows : TFill::Whole);
    }

private:
    void ReadRow(int32_t, TColor32* out) override
    {
        Guard([&] { m_composite->Next(out); });
    }

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
    std::unique_ptr<RasterRows> m_composite;
};

} // namespace

std::unique_ptr<TPictureReader> TPSPGraphic::OpenRows(TStream& stream)
{
    return std::make_unique<PSPPictureReader>(stream, FormatName());
}

} // namespace palvex
