// The portable map reader against ImageMagick, hand-built variants and damaged files.
#include "CorpusCompare.h"

namespace palvex::test {
namespace {

class PpmTest : public RegisteredFormats {};

std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

TEST_F(PpmTest, CorpusMatchesImageMagick)
{
    CorpusExpectations expect;
    expect.Extensions = {"ppm", "pgm", "pbm"};
    // Maxima other than 255: both round, ImageMagick through 16 bits.
    expect.DefaultTolerance = 1;
    // A PNG file under a .pbm name: the reader goes by extension.
    expect.Refused = {{"pillow__courB08.pbm", "Cannot load image. Invalid or unexpected PPM image format."}};
    EXPECT_GT(CompareCorpusFolder("pnm", expect), 15);
}

TEST_F(PpmTest, EveryKindWithComments)
{
    TBitmap32 out;
    DecodeBytes("pbm", Bytes("P1\n# c\n3 1\n1 0\n1"), out);
    EXPECT_EQ(out.Pixel(0, 0), Color32(0, 0, 0));
    EXPECT_EQ(out.Pixel(1, 0), Color32(255, 255, 255));
    DecodeBytes("pbm", Bytes("P1 3 1 101"), out); // digits need no separator
    EXPECT_EQ(out.Pixel(2, 0), Color32(0, 0, 0));
    DecodeBytes("pgm", Bytes("P2 2 1 # max next\n 300 150 400"), out);
    EXPECT_EQ(out.Pixel(0, 0), Color32(128, 128, 128));
    EXPECT_EQ(out.Pixel(1, 0), Color32(255, 255, 255)); // above the maximum saturates
    DecodeBytes("ppm", Bytes("P3 1 1 15 15 0 7"), out);
    EXPECT_EQ(out.Pixel(0, 0), Color32(255, 0, 119));
    std::vector<uint8_t> p4 = Bytes("P4 9 2\n");
    for (const uint8_t v : {0x80, 0x80, 0x00, 0x7F})
        p4.push_back(v);
    DecodeBytes("pbm", p4, out);
    EXPECT_EQ(out.Pixel(0, 0), Color32(0, 0, 0));
    EXPECT_EQ(out.Pixel(8, 0), Color32(0, 0, 0));
    EXPECT_EQ(out.Pixel(8, 1), Color32(255, 255, 255));
    std::vector<uint8_t> p5 = Bytes("P5 1 1 65535\n");
    p5.push_back(0x80), p5.push_back(0x00);
    DecodeBytes("pgm", p5, out);
    EXPECT_EQ(out.Pixel(0, 0), Color32(128, 128, 128));
    std::vector<uint8_t> p6 = Bytes("P6 1 1 255\r");
    p6.push_back(1), p6.push_back(2), p6.push_back(3);
    DecodeBytes("ppm", p6, out);
    EXPECT_EQ(out.Pixel(0, 0), Color32(1, 2, 3));
}

TEST_F(PpmTest, RefusalsAndTruncation)
{
    const std::string invalid = "Cannot load image. Invalid or unexpected PPM image format.";
    EXPECT_EQ(DecodeFailure("ppm", Bytes("P7 1 1 255\n")), invalid);
    EXPECT_EQ(DecodeFailure("ppm", Bytes("P6 -1 1 255\n")), invalid);
    EXPECT_EQ(DecodeFailure("ppm", Bytes("P6 99999999999999999999 1 255\n")), invalid);
    EXPECT_EQ(DecodeFailure("ppm", Bytes("P6 65536 1 255\n")), invalid);
    EXPECT_EQ(DecodeFailure("pgm", Bytes("P5 1 1 0\n\1")), invalid);
    EXPECT_EQ(DecodeFailure("pgm", Bytes("P5 1 1 65536\n\1\1")), invalid);
    EXPECT_EQ(DecodeFailure("pgm", Bytes("P2 2 1 255 1 x")), invalid);
    EXPECT_EQ(DecodeFailure("pbm", Bytes("P1 2 1 1 2")), invalid);
    // The raster is checked against the file before the bitmap is allocated.
    EXPECT_EQ(DecodeFailure("ppm", Bytes("P6 65535 4096 255\n")), "Stream read error in PPM file.");
    EXPECT_EQ(DecodeFailure("ppm", Bytes("P6 2 2 255\n123")), "Stream read error in PPM file.");
    EXPECT_EQ(DecodeFailure("ppm", Bytes("P3 1 1 255 1 2")), "Stream read error in PPM file.");
    EXPECT_EQ(DecodeFailure("ppm", Bytes("P6 1 1")), "Stream read error in PPM file.");
    EXPECT_EQ(DecodeFailure("ppm", Bytes("P")), "Stream read error in PPM file.");
}

TEST_F(PpmTest, DamagedSamplesGiveAPictureOrTheFormatsError)
{
    SweepCorpusFolder("pnm", {"ppm", "pgm", "pbm"}, 8192);
}

} // namespace
} // namespace palvex::test
