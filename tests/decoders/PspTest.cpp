// The Paint Shop Pro reader on files built here from bytes: versions,
// compressions, depths, layers merged, the composite preferred, damage.
#include <zlib.h>

#include "FixtureCompare.h"

namespace palvex::test {
namespace {

class PspTest : public RegisteredFormats {};

using Bytes = std::vector<uint8_t>;

struct PspWriter {
    int Major = 6;
    uint16_t Compression = 0;

    Bytes Block(uint16_t id, const Bytes& info, const Bytes& body = {}) const
    {
        Bytes b = {'~', 'B', 'K', 0};
        PutLE(b, id, 2);
        if (Major < 4)
            PutLE(b, info.size(), 4);
        PutLE(b, info.size() + body.size(), 4);
        b.insert(b.end(), info.begin(), info.end());
        b.insert(b.end(), body.begin(), body.end());
        return b;
    }
    // An information chunk: from version 4 on it starts with its size.
    Bytes Chunk(const Bytes& fields) const
    {
        Bytes b;
        if (Major >= 4)
            PutLE(b, fields.size() + 4, 4);
        b.insert(b.end(), fields.begin(), fields.end());
        return b;
    }
    Bytes Packed(const Bytes& plane) const
    {
        if (Compression == 2) {
            uLongf size = compressBound(plane.size());
            Bytes z(size);
            compress(z.data(), &size, plane.data(), plane.size());
            z.resize(size);
            return z;
        }
        if (Compression == 0)
            return plane;
        // Runs of three or more as 128+n, the rest as literals.
        Bytes r;
        for (size_t i = 0; i < plane.size();) {
            size_t j = i;
            while (j < plane.size() && j - i < 127 && plane[j] == plane[i])
                ++j;
            if (j - i >= 3) {
                r.push_back(uint8_t(128 + j - i)), r.push_back(plane[i]), i = j;
                continue;
            }
            r.push_back(1), r.push_back(plane[i]), ++i;
        }
        return r;
    }
    Bytes Channel(const Bytes& plane, uint16_t bitmapType, uint16_t channelType) const
    {
        const Bytes data = Packed(plane);
        Bytes f;
        PutLE(f, data.size(), 4), PutLE(f, plane.size(), 4), PutLE(f, bitmapType, 2), PutLE(f, channelType, 2);
        return Block(5, Chunk(f), data);
    }
    Bytes Header(int32_t width, int32_t height, uint16_t depth, bool grey = false) const
    {
        Bytes b(reinterpret_cast<const uint8_t*>("Paint Shop Pro Image File\n\x1a"),
                reinterpret_cast<const uint8_t*>("Paint Shop Pro Image File\n\x1a") + 27);
        b.resize(32);
        PutLE(b, Major, 2), PutLE(b, 0, 2);
        Bytes f;
        PutLE(f, uint32_t(width), 4), PutLE(f, uint32_t(height), 4), PutLE(f, 0, 8), f.push_back(1);
        PutLE(f, Compression, 2), PutLE(f, depth, 2), PutLE(f, 1, 2), PutLE(f, 256, 4), f.push_back(grey);
        PutLE(f, 0, 4), PutLE(f, 0, 4), PutLE(f, 1, 2);
        if (Major >= 4)
            PutLE(f, 1, 4);
        const Bytes attributes = Block(0, Chunk(f));
        b.insert(b.end(), attributes.begin(), attributes.end());
        return b;
    }
    // A raster layer: image rectangle at (left, top), stored rectangle w x h.
    Bytes Layer(int32_t left, int32_t top, int32_t w, int32_t h, uint8_t opacity, bool visible,
                const std::vector<Bytes>& channels) const
    {
        Bytes f, rects;
        for (int32_t v : {left, top, left + w, top + h, 0, 0, w, h})
            PutLE(rects, uint32_t(v), 4);
        if (Major >= 4)
            PutLE(f, 1, 2), f.push_back('L'), f.push_back(1);
        else
            f.resize(256), f.push_back(0);
        f.insert(f.end(), rects.begin(), rects.end());
        f.push_back(opacity), f.push_back(0), f.push_back(visible ? 1 : 0);
        f.resize(f.size() + 2 + 32 + 3);
        PutLE(f, 5, 2);
        f.resize(f.size() + 40);
        Bytes body;
        if (Major >= 4)
            f.resize(f.size() + 5), PutLE(body, 8, 4); // highlight; the bitmap chunk
        // The counts end the information chunk in version 3.
        Bytes& counts = Major >= 4 ? body : f;
        PutLE(counts, 1, 2), PutLE(counts, channels.size(), 2);
        for (const Bytes& c : channels)
            body.insert(body.end(), c.begin(), c.end());
        return Block(4, Chunk(f), body);
    }
    Bytes Rgb(const std::vector<TColor32>& pixels, uint16_t bitmapType = 0) const
    {
        Bytes all;
        for (int c = 0; c < 3; ++c) {
            Bytes plane;
            for (TColor32 p : pixels)
                plane.push_back(uint8_t(p >> (16 - 8 * c)));
            const Bytes channel = Channel(plane, bitmapType, uint16_t(c + 1));
            all.insert(all.end(), channel.begin(), channel.end());
        }
        return all;
    }
};

void ExpectPixels(const Bytes& file, int width, const std::vector<TColor32>& expected)
{
    TBitmap32 out;
    DecodeBytes("psp", file, out);
    ASSERT_EQ(out.Width(), width);
    ASSERT_EQ(size_t(out.Width()) * out.Height(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(out.PixelData()[i], expected[i]) << "pixel " << i;
}

const std::vector<TColor32> kSeven = {Color32(255, 0, 0),     Color32(0, 255, 0),   Color32(0, 0, 255),
                                      Color32(10, 20, 30),    Color32(10, 20, 30),  Color32(10, 20, 30),
                                      Color32(255, 255, 255), Color32(1, 2, 3),     Color32(9, 9, 9),
                                      Color32(9, 9, 9),       Color32(9, 9, 9),     Color32(9, 9, 9),
                                      Color32(0, 0, 0),       Color32(200, 100, 0)};

TEST_F(PspTest, VersionsAndCompressions)
{
    // 7x2 true colour, one layer, in versions 3 (PSP 5), 6 (PSP 8) and 12
    // (X6), each uncompressed, run-length and LZ77.
    for (const int major : {3, 6, 12})
        for (const uint16_t compression : {0, 1, 2}) {
            SCOPED_TRACE(std::to_string(major) + "/" + std::to_string(compression));
            const PspWriter w{major, compression};
            const Bytes file = Concat({w.Header(7, 2, 24), w.Block(3, {}, w.Layer(0, 0, 7, 2, 255, true, {w.Rgb(kSeven)}))});
            ExpectPixels(file, 7, kSeven);
        }
}

TEST_F(PspTest, PalettesGreyAndPackedRows)
{
    const PspWriter w{6, 1};
    Bytes entries;
    for (TColor32 c : {Color32(1, 2, 3), Color32(40, 50, 60), Color32(7, 8, 9)})
        entries.insert(entries.end(), {uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16), 0});
    Bytes count;
    PutLE(count, 3, 4);
    const Bytes palette = w.Block(2, w.Chunk(count), entries);
    // 8-bit indices; index 5 is beyond the palette.
    ExpectPixels(Concat({w.Header(3, 1, 8), palette, w.Block(3, {}, w.Layer(0, 0, 3, 1, 255, true, {w.Channel({1, 5, 2}, 0, 0)}))}),
                 3, {Color32(40, 50, 60), Color32(0, 0, 0), Color32(7, 8, 9)});
    // 8-bit grey.
    ExpectPixels(Concat({w.Header(2, 1, 8, true), w.Block(3, {}, w.Layer(0, 0, 2, 1, 255, true, {w.Channel({0, 200}, 0, 0)}))}),
                 2, {Color32(0, 0, 0), Color32(200, 200, 200)});
    // 4-bit indices, rows padded to four bytes: 3x2.
    ExpectPixels(Concat({w.Header(3, 2, 4), palette,
                      w.Block(3, {}, w.Layer(0, 0, 3, 2, 255, true, {w.Channel({0x12, 0x00, 0, 0, 0x01, 0x20, 0, 0}, 0, 0)}))}),
                 3,
                 {Color32(40, 50, 60), Color32(7, 8, 9), Color32(1, 2, 3), Color32(1, 2, 3), Color32(40, 50, 60),
                  Color32(7, 8, 9)});
}

TEST_F(PspTest, LayersMergedOrTheCompositePreferred)
{
    const PspWriter w{7, 2};
    // Bottom: opaque red 3x2. Top: a 2x1 layer at (1,1), green with a mask of
    // 255 and 0, at opacity 128; a hidden blue layer over everything.
    const TColor32 red = Color32(255, 0, 0), green = Color32(0, 255, 0), blue = Color32(0, 0, 255);
    const Bytes bottom = w.Layer(0, 0, 3, 2, 255, true, {w.Rgb(std::vector<TColor32>(6, red))});
    const Bytes top = w.Layer(1, 1, 2, 1, 128, true, {w.Rgb({green, green}), w.Channel({255, 0}, 1, 0)});
    const Bytes hidden = w.Layer(0, 0, 3, 2, 255, false, {w.Rgb(std::vector<TColor32>(6, blue))});
    const Bytes bank = w.Block(3, {}, Concat({bottom, top, hidden}));
    const TColor32 mixed = Color32(127, 128, 0);
    ExpectPixels(Concat({w.Header(3, 2, 24), bank}), 3, {red, red, red, red, mixed, red});

    // Where nothing covers the canvas it is transparent.
    const Bytes small = w.Block(3, {}, w.Layer(1, 1, 1, 1, 255, true, {w.Rgb({green})}));
    ExpectPixels(Concat({w.Header(2, 2, 24), small}), 2, {0, 0, 0, green});

    // A full-size composite image (type 0) after a thumbnail (type 1) wins.
    auto attributes = [&](int32_t width, int32_t height, uint16_t type) {
        Bytes f;
        PutLE(f, uint32_t(width), 4), PutLE(f, uint32_t(height), 4), PutLE(f, 24, 2), PutLE(f, 2, 2);
        PutLE(f, 1, 2), PutLE(f, 0, 4), PutLE(f, type, 2);
        return w.Block(17, w.Chunk(f));
    };
    Bytes counts, two;
    PutLE(counts, 1, 2), PutLE(counts, 3, 2), PutLE(two, 2, 4);
    const Bytes thumbnail = w.Block(9, w.Chunk(counts), w.Rgb({green}, 8));
    const Bytes composite = w.Block(9, w.Chunk(counts), w.Rgb(std::vector<TColor32>(6, blue), 8));
    const Bytes compositeBank =
        w.Block(16, w.Chunk(two), Concat({attributes(1, 1, 1), attributes(3, 2, 0), thumbnail, composite}));
    ExpectPixels(Concat({w.Header(3, 2, 24), compositeBank, bank}), 3, std::vector<TColor32>(6, blue));
}

TEST_F(PspTest, RefusalsAndDamage)
{
    const PspWriter lz{6, 2}, raw{6, 0};
    const Bytes good = Concat({lz.Header(7, 2, 24), lz.Block(3, {}, lz.Layer(0, 0, 7, 2, 255, true, {lz.Rgb(kSeven)}))});
    const std::string invalid = "Cannot load image. Invalid or unexpected PSP image format.";
    Bytes bad = good;
    bad[0] = 'p';
    EXPECT_EQ(DecodeFailure("psp", bad), invalid);
    EXPECT_EQ(DecodeFailure("psp", raw.Header(70000, 70000, 24)), invalid);
    EXPECT_EQ(DecodeFailure("psp", raw.Header(7, 2, 32)), invalid);
    // A layer claiming 16000x16000 pixels from a few bytes of data.
    EXPECT_EQ(DecodeFailure("psp", Concat({raw.Header(7, 2, 24), raw.Block(3, {}, raw.Layer(0, 0, 16000, 16000, 255, true,
                                                                                       {raw.Rgb(kSeven)}))})),
              "Stream read error in PSP file.");
    // An LZ77 stream cut short.
    Bytes plane;
    for (int i = 0; i < 14; ++i)
        plane.push_back(uint8_t(i * 37));
    const Bytes z = lz.Packed(plane);
    Bytes f;
    PutLE(f, z.size() / 2, 4), PutLE(f, 14, 4), PutLE(f, 0, 2), PutLE(f, 0, 2);
    const Bytes cut = lz.Block(5, lz.Chunk(f), Bytes(z.begin(), z.begin() + z.size() / 2));
    TBitmap32 out;
    const Bytes file = Concat({lz.Header(7, 2, 8, true), lz.Block(3, {}, lz.Layer(0, 0, 7, 2, 255, true, {cut}))});
    EXPECT_THROW_MSG(DecodeBytes("psp", file, out), EGraphicCompression, "LZ77 decompression error.");
    MutationSweep("psp", good, 160, 7);
}

} // namespace
} // namespace palvex::test
