// The Photoshop reader against ImageMagick, hand-built variants and damaged files.
#include "CorpusCompare.h"

namespace palvex::test {
namespace {

class PsdTest : public RegisteredFormats {};

void Put16(std::vector<uint8_t>& b, uint16_t v) { b.push_back(uint8_t(v >> 8)), b.push_back(uint8_t(v)); }
void Put32(std::vector<uint8_t>& b, uint32_t v) { Put16(b, uint16_t(v >> 16)), Put16(b, uint16_t(v)); }

// A version-1 document: header, colour data, resources, no layers, then the
// compression word and body.
std::vector<uint8_t> Psd(uint16_t channels, uint32_t width, uint32_t height, uint16_t depth, uint16_t mode,
                         uint16_t compression, const std::vector<uint8_t>& body,
                         const std::vector<uint8_t>& colorData = {}, const std::vector<uint8_t>& resources = {})
{
    std::vector<uint8_t> b = {'8', 'B', 'P', 'S', 0, 1, 0, 0, 0, 0, 0, 0};
    Put16(b, channels), Put32(b, height), Put32(b, width), Put16(b, depth), Put16(b, mode);
    Put32(b, uint32_t(colorData.size()));
    for (const uint8_t v : colorData)
        b.push_back(v);
    Put32(b, uint32_t(resources.size()));
    for (const uint8_t v : resources)
        b.push_back(v);
    Put32(b, 0);
    Put16(b, compression);
    for (const uint8_t v : body)
        b.push_back(v);
    return b;
}

TEST_F(PsdTest, CorpusMatchesImageMagick)
{
    CorpusExpectations expect;
    expect.Extensions = {"psd", "pdd"};
    // 16-bit rounding, the naive CMYK formula and dividing out the white
    // matte each differ from ImageMagick by at most one.
    expect.DefaultTolerance = 1;
    // ImageMagick composes the layers where we read the merged composite
    // (nomaxcompat has none; argb16 and the graya testcards differ in alpha), and
    // reads its own RGBA file with stray bands.
    expect.Skip = {"oiio__psd_123_nomaxcompat.psd", "kimageformats__argb16-raw-affinityphoto-1.8.5.psd",
                   "kimageformats__testcard_graya8.psd", "kimageformats__testcard_graya16.psd",
                   "gen__psd_rgba8_rle.psd"};
    EXPECT_GT(CompareCorpusFolder("psd", expect), 15);
}

TEST_F(PsdTest, ColourModes)
{
    TBitmap32 out;
    // RGB raw, 2x1, with an alpha channel: opaque red, and half-transparent
    // green stored blended with white (127 red and blue).
    DecodeBytes("psd", Psd(4, 2, 1, 8, 3, 0, {255, 127, 0, 255, 0, 127, 255, 128}), out);
    EXPECT_EQ(out.Pixel(0, 0), Color32(255, 0, 0, 255));
    EXPECT_EQ(out.Pixel(1, 0), Color32(0, 255, 0, 128));
    // 16-bit gray, rounded.
    DecodeBytes("pdd", Psd(1, 1, 1, 16, 1, 0, {0x80, 0x80}), out);
    EXPECT_EQ(out.Pixel(0, 0), Color32(128, 128, 128));
    // CMYK stored inverted: full magenta ink, no other ink.
    DecodeBytes("psd", Psd(4, 1, 1, 8, 4, 0, {255, 0, 255, 255}), out);
    EXPECT_EQ(out.Pixel(0, 0), Color32(255, 0, 255));
    DecodeBytes("psd", Psd(4, 1, 1, 8, 4, 0, {255, 255, 255, 128}), out);
    EXPECT_EQ(out.Pixel(0, 0), Color32(128, 128, 128));
    // Bitmap: 1 is black.
    DecodeBytes("psd", Psd(1, 3, 1, 1, 0, 0, {0x40}), out);
    EXPECT_EQ(out.Pixel(0, 0), Color32(255, 255, 255));
    EXPECT_EQ(out.Pixel(1, 0), Color32(0, 0, 0));
}

TEST_F(PsdTest, LabIsConvertedToRGB)
{
    TBitmap32 out;
    // White, black, mid gray (L 50), and red (L 53.3, a 80, b 67).
    DecodeBytes("psd", Psd(3, 4, 1, 8, 9, 0, {255, 0, 128, 136, 128, 128, 128, 208, 128, 128, 128, 195}), out);
    EXPECT_EQ(out.Pixel(0, 0), Color32(255, 255, 255));
    EXPECT_EQ(out.Pixel(1, 0), Color32(0, 0, 0));
    EXPECT_NEAR(int(RedComponent(out.Pixel(2, 0))), 119, 1);
    EXPECT_EQ(RedComponent(out.Pixel(2, 0)), BlueComponent(out.Pixel(2, 0)));
    EXPECT_GE(int(RedComponent(out.Pixel(3, 0))), 250);
    EXPECT_LE(int(GreenComponent(out.Pixel(3, 0))), 8);
    EXPECT_LE(int(BlueComponent(out.Pixel(3, 0))), 8);
}

TEST_F(PsdTest, IndexedWithTransparentIndexAndPackBits)
{
    std::vector<uint8_t> palette(768, 0);
    palette[1] = 200, palette[256 + 2] = 100;
    // Resource 1047: transparent index 2.
    const std::vector<uint8_t> resources = {'8', 'B', 'I', 'M', 0x04, 0x17, 0, 0, 0, 0, 0, 2, 0, 2};
    // One row of three pixels, PackBits: a run of 2 of index 1, a literal 2.
    std::vector<uint8_t> body;
    Put16(body, 4);
    for (const uint8_t v : {0xFF, 1, 0x00, 2})
        body.push_back(v);
    TBitmap32 out;
    DecodeBytes("psd", Psd(1, 3, 1, 8, 2, 1, body, palette, resources), out);
    EXPECT_EQ(out.Pixel(0, 0), Color32(200, 0, 0));
    EXPECT_EQ(out.Pixel(2, 0), Color32(0, 100, 0, 0));

    std::vector<uint8_t> overrun = body;
    overrun[2] = 0xFC; // a run of 5 in a row of 3
    EXPECT_EQ(DecodeFailure("psd", Psd(1, 3, 1, 8, 2, 1, overrun, palette)),
              "Cannot load image. Compression error found in PSD file.");
    EXPECT_EQ(DecodeFailure("psd", Psd(1, 3, 1, 8, 2, 1, body, std::vector<uint8_t>(10))),
              "Cannot load image. Palette in PSD file is invalid.");
}

TEST_F(PsdTest, RefusalsAndTruncation)
{
    const std::string invalid = "Cannot load image. Invalid or unexpected PSD image format.";
    EXPECT_EQ(DecodeFailure("psd", Psd(3, 1, 1, 8, 3, 2, {0})), "Cannot load image. ZIP compression not supported for PSD files.");
    EXPECT_EQ(DecodeFailure("psd", Psd(3, 1, 1, 32, 3, 0, {0})), "Cannot load image. 32-bit channels not supported for PSD files.");
    EXPECT_EQ(DecodeFailure("psd", Psd(1, 1, 1, 8, 5, 0, {0})), "Cannot load image. Colour mode 5 not supported for PSD files.");
    EXPECT_EQ(DecodeFailure("psd", Psd(2, 1, 1, 8, 3, 0, {0, 0})), invalid);
    EXPECT_EQ(DecodeFailure("psd", Psd(3, 268435456, 2, 8, 3, 0, {0})), invalid);
    EXPECT_EQ(DecodeFailure("psd", Psd(3, 1, 1, 8, 3, 7, {0})), invalid);
    std::vector<uint8_t> sig = Psd(3, 1, 1, 8, 3, 0, {1, 2, 3});
    sig[0] = 'X';
    EXPECT_EQ(DecodeFailure("psd", sig), invalid);
    EXPECT_EQ(DecodeFailure("psd", Psd(3, 2, 2, 8, 3, 0, {1, 2, 3})), "Stream read error in PSD file.");
    EXPECT_EQ(DecodeFailure("psd", Psd(3, 1, 1, 8, 3, 1, {0, 1, 0, 1})), "Stream read error in PSD file.");
    EXPECT_EQ(DecodeFailure("psd", {'8', 'B', 'P', 'S', 0}), "Stream read error in PSD file.");
}

TEST_F(PsdTest, DamagedSamplesGiveAPictureOrTheFormatsError)
{
    SweepCorpusFolder("psd", {"psd", "pdd"}, 16384);
}

} // namespace
} // namespace palvex::test
