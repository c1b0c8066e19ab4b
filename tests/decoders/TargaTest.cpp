// The Targa reader against ImageMagick, hand-built variants and damaged files.
#include "CorpusCompare.h"

namespace palvex::test {
namespace {

class TargaTest : public RegisteredFormats {};

// An 18-byte header followed by body.
std::vector<uint8_t> Targa(uint8_t type, uint16_t width, uint16_t height, uint8_t bits, uint8_t descriptor,
                           std::vector<uint8_t> body, uint8_t mapType = 0, uint16_t mapFirst = 0,
                           uint16_t mapLength = 0, uint8_t mapBits = 0)
{
    std::vector<uint8_t> b = {0,
                              mapType,
                              type,
                              uint8_t(mapFirst),
                              uint8_t(mapFirst >> 8),
                              uint8_t(mapLength),
                              uint8_t(mapLength >> 8),
                              mapBits,
                              0,
                              0,
                              0,
                              0,
                              uint8_t(width),
                              uint8_t(width >> 8),
                              uint8_t(height),
                              uint8_t(height >> 8),
                              bits,
                              descriptor};
    for (const uint8_t v : body) // insert() trips a false -Warray-bounds in GCC 12
        b.push_back(v);
    return b;
}

TEST_F(TargaTest, CorpusMatchesImageMagick)
{
    CorpusExpectations expect;
    expect.Extensions = {"tga", "win", "vst", "vda", "icb"};
    // ImageMagick keeps the rows as stored and only records the origin.
    expect.MagickOptions = "-auto-orient";
    // Alpha zero in every pixel: we show these opaque, ImageMagick transparent.
    expect.NoAlphaCompare = {"imagers__utc32.tga", "oiio__CTC32.tga", "imagers__utc16.tga", "oiio__CTC16.tga",
                             "sail__TALOS-2025-2220.tga"};
    // ImageMagick reads 16-bit gray-with-alpha as 15-bit colour, and applies
    // the unused colour map of a true-colour picture.
    expect.Skip = {"pillow__la.tga", "pillow__tga_200x32_la_bl_raw.tga", "pillow__tga_200x32_la_bl_rle.tga",
                   "pillow__tga_200x32_la_tl_raw.tga", "pillow__tga_200x32_la_tl_rle.tga", "kimageformats__bwa.tga",
                   "imagers__b5-unused-cmap.tga"};
    expect.Refused = {{"imagers__bad-color-map.tga", "Cannot load image. Invalid or unexpected Targa image format."}};
    EXPECT_GT(CompareCorpusFolder("tga", expect), 55);
}

TEST_F(TargaTest, OriginsPlaceTheFirstStoredPixel)
{
    // 2x2, 24 bits: red, green / blue, white as stored.
    const std::vector<uint8_t> px = {0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255};
    const TColor32 red = Color32(255, 0, 0), green = Color32(0, 255, 0), blue = Color32(0, 0, 255),
                   white = Color32(255, 255, 255);
    struct Case {
        uint8_t descriptor;
        TColor32 topLeft, topRight, bottomLeft, bottomRight;
    } cases[] = {{0x00, blue, white, red, green},
                 {0x20, red, green, blue, white},
                 {0x10, white, blue, green, red},
                 {0x30, green, red, white, blue}};
    for (const Case& c : cases) {
        TBitmap32 out;
        DecodeBytes("tga", Targa(2, 2, 2, 24, c.descriptor, px), out);
        EXPECT_EQ(out.Pixel(0, 0), c.topLeft) << int(c.descriptor);
        EXPECT_EQ(out.Pixel(1, 0), c.topRight) << int(c.descriptor);
        EXPECT_EQ(out.Pixel(0, 1), c.bottomLeft) << int(c.descriptor);
        EXPECT_EQ(out.Pixel(1, 1), c.bottomRight) << int(c.descriptor);
    }
}

TEST_F(TargaTest, RunsCrossRowsAndAnOverlongLastRunIsCut)
{
    // 3x2 gray top-down: one run of 4, then a literal of 2; then a run of 5
    // where only nothing is left.
    TBitmap32 out;
    DecodeBytes("vda", Targa(11, 3, 2, 8, 0x20, {0x83, 10, 0x01, 20, 30, 0x84, 99}), out);
    EXPECT_EQ(out.Pixel(2, 0), Color32(10, 10, 10));
    EXPECT_EQ(out.Pixel(0, 1), Color32(10, 10, 10));
    EXPECT_EQ(out.Pixel(2, 1), Color32(30, 30, 30));
    // A run longer than what is left of the picture.
    DecodeBytes("tga", Targa(11, 2, 1, 8, 0x20, {0x85, 7}), out);
    EXPECT_EQ(out.Pixel(1, 0), Color32(7, 7, 7));
}

TEST_F(TargaTest, ColourMapsAndSixteenBitAlpha)
{
    // 8-bit indices into a map starting at 2 of 16-bit entries; index 9 is
    // beyond the map and gives black.
    const std::vector<uint8_t> body = {0x1F, 0x00, 0x00, 0x7C, 2, 3, 9};
    TBitmap32 out;
    DecodeBytes("icb", Targa(1, 3, 1, 8, 0x20, body, 1, 2, 2, 16), out);
    EXPECT_EQ(out.Pixel(0, 0), Color32(0, 0, 255));
    EXPECT_EQ(out.Pixel(1, 0), Color32(255, 0, 0));
    EXPECT_EQ(out.Pixel(2, 0), Color32(0, 0, 0));
    // 16 bits with one attribute bit: the top bit is alpha.
    DecodeBytes("tga", Targa(2, 2, 1, 16, 0x21, {0x00, 0xFC, 0x1F, 0x00}), out);
    EXPECT_EQ(out.Pixel(0, 0), Color32(255, 0, 0, 255));
    EXPECT_EQ(AlphaComponent(out.Pixel(1, 0)), 0u);
    // The same bit clear everywhere: a writer that never set it, opaque.
    DecodeBytes("tga", Targa(2, 1, 1, 16, 0x21, {0x1F, 0x00}), out);
    EXPECT_EQ(out.Pixel(0, 0), Color32(0, 0, 255, 255));
    // 32 bits keep their alpha; 16-bit gray carries alpha in its second byte.
    DecodeBytes("tga", Targa(2, 1, 1, 32, 0x28, {1, 2, 3, 77}), out);
    EXPECT_EQ(out.Pixel(0, 0), Color32(3, 2, 1, 77));
    DecodeBytes("tga", Targa(3, 1, 1, 16, 0x28, {90, 40}), out);
    EXPECT_EQ(out.Pixel(0, 0), Color32(90, 90, 90, 40));
}

TEST_F(TargaTest, RefusalsAndTruncation)
{
    EXPECT_EQ(DecodeFailure("tga", Targa(32, 1, 1, 8, 0, {0})),
              "Cannot load image. Huffman compression not supported for Targa files.");
    EXPECT_EQ(DecodeFailure("tga", Targa(0, 1, 1, 8, 0, {0})), "Cannot load image. Invalid or unexpected Targa image format.");
    EXPECT_EQ(DecodeFailure("tga", Targa(2, 1, 1, 12, 0, {0, 0})),
              "Cannot load image. Invalid or unexpected Targa image format.");
    EXPECT_EQ(DecodeFailure("tga", Targa(2, 0, 1, 24, 0, {})), "Cannot load image. Invalid or unexpected Targa image format.");
    EXPECT_EQ(DecodeFailure("tga", Targa(1, 1, 1, 8, 0, {0}, 0)), "Cannot load image. Invalid or unexpected Targa image format.");
    EXPECT_EQ(DecodeFailure("tga", Targa(1, 1, 1, 8, 0, {0}, 1, 0, 1, 12)), "Cannot load image. Palette in Targa file is invalid.");
    // A header that promises 65535x65535 pixels fails before allocating.
    EXPECT_EQ(DecodeFailure("tga", Targa(2, 65535, 65535, 24, 0, {1, 2, 3})),
              "Cannot load image. Invalid or unexpected Targa image format.");
    EXPECT_EQ(DecodeFailure("tga", Targa(2, 2, 2, 24, 0, std::vector<uint8_t>(11))), "Stream read error in Targa file.");
    EXPECT_EQ(DecodeFailure("tga", Targa(10, 2, 2, 24, 0, {0x83, 1, 2})), "Stream read error in Targa file.");
    EXPECT_EQ(DecodeFailure("tga", {0, 0, 2}), "Stream read error in Targa file.");
}

TEST_F(TargaTest, DamagedSamplesGiveAPictureOrTheFormatsError)
{
    SweepCorpusFolder("tga", {"tga", "win", "vst", "vda", "icb"}, 16384);
}

} // namespace
} // namespace palvex::test
