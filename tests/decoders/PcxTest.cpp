// The PCX reader against ImageMagick, hand-built variants and damaged files.
#include "CorpusCompare.h"

namespace palvex::test {
namespace {

class PcxTest : public RegisteredFormats {};

// A 128-byte header; palette16 fills the EGA palette's first entries.
std::vector<uint8_t> Pcx(uint8_t encoding, uint8_t bits, uint8_t planes, uint16_t width, uint16_t height,
                         uint16_t bytesPerLine, const std::vector<uint8_t>& body,
                         const std::vector<uint8_t>& palette16 = {})
{
    std::vector<uint8_t> b(128, 0);
    b[0] = 0x0A, b[1] = 5, b[2] = encoding, b[3] = bits;
    b[8] = uint8_t(width - 1), b[9] = uint8_t((width - 1) >> 8);
    b[10] = uint8_t(height - 1), b[11] = uint8_t((height - 1) >> 8);
    for (size_t i = 0; i < palette16.size() && i < 48; ++i)
        b[16 + i] = palette16[i];
    b[65] = planes, b[66] = uint8_t(bytesPerLine), b[67] = uint8_t(bytesPerLine >> 8);
    for (const uint8_t v : body)
        b.push_back(v);
    return b;
}

TEST_F(PcxTest, CorpusMatchesImageMagick)
{
    CorpusExpectations expect;
    expect.Extensions = {"pcx", "pcc", "scr"};
    // ImageMagick shows single-plane 1-bit pictures inverted (checked below
    // against the portable bitmap of the same source), and misses the
    // trailing palette of ccbug_463951 whose dark first entries we read.
    expect.Skip = {"pillow__pil184.pcx", "gen__im_1bpp_via_gif.pcx", "gen__ppmtopcx_1bpp.pcx",
                   "kimageformats__mono.pcx", "kimageformats__ccbug_463951.pcx"};
    // Lines shorter than the declared width.
    expect.Refused = {{"pillow__01r_00.pcx", "Cannot load image. Invalid or unexpected PCX image format."},
                      {"sail__TALOS-2025-2217.pcx", "Cannot load image. Invalid or unexpected PCX image format."}};
    EXPECT_GT(CompareCorpusFolder("pcx", expect), 20);
}

TEST_F(PcxTest, OneBitMatchesThePortableBitmapOfTheSameSource)
{
    TBitmap32 pcx, pbm;
    DecodeBytes("pcx", ReadFileBytes(DataDir() / "pcx" / "gen__ppmtopcx_1bpp.pcx"), pcx);
    DecodeBytes("pbm", ReadFileBytes(DataDir() / "pnm" / "gen__p4.pbm"), pbm);
    ASSERT_EQ(pcx.Width(), pbm.Width());
    ASSERT_EQ(pcx.Height(), pbm.Height());
    EXPECT_EQ(0, std::memcmp(pcx.PixelData(), pbm.PixelData(), pcx.PixelCount() * 4));
}

TEST_F(PcxTest, PlanesPackingAndPalettes)
{
    const std::vector<uint8_t> ega = {0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255, 9, 9, 9, 8, 8, 8};
    TBitmap32 out;
    // 3 pixels of 1 bit in 3 planes, raw, odd line length: indices 1, 2, 4+1.
    DecodeBytes("pcx", Pcx(0, 1, 3, 3, 1, 1, {0xA0, 0x40, 0x20}, ega), out);
    EXPECT_EQ(out.Pixel(0, 0), Color32(255, 0, 0));
    EXPECT_EQ(out.Pixel(1, 0), Color32(0, 255, 0));
    EXPECT_EQ(out.Pixel(2, 0), Color32(8, 8, 8));
    // 2 bits packed, run-length: a run of one byte 0b00011011 = 0, 1, 2, 3.
    DecodeBytes("pcc", Pcx(1, 2, 1, 4, 1, 2, {0xC2, 0x1B}, ega), out);
    EXPECT_EQ(out.Pixel(1, 0), Color32(255, 0, 0));
    EXPECT_EQ(out.Pixel(3, 0), Color32(0, 0, 255));
    // 8 bits with the trailing palette, and without one (gray).
    std::vector<uint8_t> body = {5, 0x0C};
    for (int i = 0; i < 768; ++i)
        body.push_back(uint8_t(i == 15 ? 200 : 0));
    DecodeBytes("scr", Pcx(0, 8, 1, 1, 1, 2, body), out);
    EXPECT_EQ(out.Pixel(0, 0), Color32(200, 0, 0));
    DecodeBytes("pcx", Pcx(0, 8, 1, 1, 1, 2, {77, 0}), out);
    EXPECT_EQ(out.Pixel(0, 0), Color32(77, 77, 77));
    // 24 bits in three planes; four planes carry alpha.
    DecodeBytes("pcx", Pcx(1, 8, 3, 1, 1, 1, {10, 20, 0xC1, 30}), out);
    EXPECT_EQ(out.Pixel(0, 0), Color32(10, 20, 30));
    DecodeBytes("pcx", Pcx(0, 8, 4, 1, 1, 1, {10, 20, 30, 40}), out);
    EXPECT_EQ(out.Pixel(0, 0), Color32(10, 20, 30, 40));
}

TEST_F(PcxTest, RefusalsAndTruncation)
{
    EXPECT_EQ(DecodeFailure("pcx", Pcx(1, 4, 2, 1, 1, 1, {0, 0})),
              "Cannot load image. 4 bits in 2 planes not supported for PCX files.");
    std::vector<uint8_t> bad = Pcx(1, 8, 1, 1, 1, 2, {1, 2});
    bad[0] = 0x0B;
    EXPECT_EQ(DecodeFailure("pcx", bad), "Cannot load image. Invalid or unexpected PCX image format.");
    EXPECT_EQ(DecodeFailure("pcx", Pcx(1, 8, 1, 4, 1, 2, {1, 2})),
              "Cannot load image. Invalid or unexpected PCX image format.");
    EXPECT_EQ(DecodeFailure("pcx", Pcx(1, 8, 3, 2, 2, 2, {1, 2, 3})), "Stream read error in PCX file.");
    EXPECT_EQ(DecodeFailure("pcx", Pcx(0, 8, 3, 2, 2, 2, {1, 2, 3})), "Stream read error in PCX file.");
    EXPECT_EQ(DecodeFailure("pcx", {0x0A, 5, 1}), "Stream read error in PCX file.");
}

TEST_F(PcxTest, ShortRunDataIsRefusedBeforeThePictureIsAllocated)
{
    // 16000x12000 declared by a few bytes: refused at once, not after a gigabyte.
    EXPECT_EQ(DecodeFailure("pcx", Pcx(1, 8, 3, 16000, 12000, 16000, {0xFF, 1, 0xFF, 2})),
              "Stream read error in PCX file.");
    // Runs of the greatest length still fill a picture exactly.
    std::vector<uint8_t> runs;
    for (int i = 0; i < 1000; ++i)
        runs.insert(runs.end(), {0xFF, uint8_t(i)});
    TBitmap32 picture;
    DecodeBytes("pcx", Pcx(1, 8, 1, 630, 100, 630, runs), picture);
    ASSERT_EQ(picture.Width(), 630);
    EXPECT_EQ(picture.Height(), 100);
    EXPECT_EQ(picture.Pixel(629, 99), Color32(231, 231, 231)); // run 999, gray without a palette
}

TEST_F(PcxTest, DamagedSamplesGiveAPictureOrTheFormatsError)
{
    SweepCorpusFolder("pcx", {"pcx", "pcc", "scr"}, 16384);
}

} // namespace
} // namespace palvex::test
