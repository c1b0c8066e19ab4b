// The SGI reader against ImageMagick, hand-built variants and damaged files.
#include "CorpusCompare.h"

namespace palvex::test {
namespace {

class SgiTest : public RegisteredFormats {};

// A 512-byte header then body.
std::vector<uint8_t> Sgi(uint8_t storage, uint8_t bpc, uint16_t dimension, uint16_t x, uint16_t y, uint16_t z,
                         const std::vector<uint8_t>& body)
{
    std::vector<uint8_t> b(512, 0);
    b[0] = 0x01, b[1] = 0xDA, b[2] = storage, b[3] = bpc;
    const uint16_t fields[] = {dimension, x, y, z};
    for (int i = 0; i < 4; ++i)
        b[4 + 2 * i] = uint8_t(fields[i] >> 8), b[5 + 2 * i] = uint8_t(fields[i]);
    for (const uint8_t v : body)
        b.push_back(v);
    return b;
}

void PutBE32(std::vector<uint8_t>& b, uint32_t v)
{
    for (int s = 24; s >= 0; s -= 8)
        b.push_back(uint8_t(v >> s));
}

TEST_F(SgiTest, CorpusMatchesImageMagick)
{
    CorpusExpectations expect;
    expect.Extensions = {"sgi", "rgba", "rgb", "bw"};
    // 16-bit channels: we round to 8 bits, ImageMagick truncates some.
    expect.DefaultTolerance = 1;
    // ImageMagick drops the alpha of gray-with-alpha images.
    expect.NoAlphaCompare = {"extras__nc-graya8.rgb", "extras__nc-graya16.rgb", "extras__rle-graya8.rgb",
                             "extras__rle-graya16.rgb"};
    EXPECT_GT(CompareCorpusFolder("sgi", expect), 30);
}

TEST_F(SgiTest, VerbatimChannelsAndRowOrder)
{
    TBitmap32 out;
    // 1x2 RGB, 8 bits: planes R, G, B, each bottom row first.
    DecodeBytes("rgb", Sgi(0, 1, 3, 1, 2, 3, {1, 2, 3, 4, 5, 6}), out);
    EXPECT_EQ(out.Pixel(0, 1), Color32(1, 3, 5));
    EXPECT_EQ(out.Pixel(0, 0), Color32(2, 4, 6));
    // 16-bit gray with alpha, rounded to 8 bits.
    DecodeBytes("rgba", Sgi(0, 2, 3, 1, 1, 2, {0x80, 0x80, 0x00, 0x81}), out);
    EXPECT_EQ(out.Pixel(0, 0), Color32(128, 128, 128, 1));
    // One-dimensional picture: a single row whatever ySize says.
    DecodeBytes("bw", Sgi(0, 1, 1, 2, 9, 1, {7, 8}), out);
    EXPECT_EQ(out.Height(), 1);
    EXPECT_EQ(out.Pixel(1, 0), Color32(8, 8, 8));
}

TEST_F(SgiTest, RunLengthRowsAndTheirTables)
{
    // 3x1 gray: one row at offset 520, 4 bytes: a run of 2, a literal of 1, end.
    std::vector<uint8_t> body;
    PutBE32(body, 520);
    PutBE32(body, 5);
    for (const uint8_t v : {0x02, 50, 0x81, 60, 0x00})
        body.push_back(v);
    TBitmap32 out;
    DecodeBytes("sgi", Sgi(1, 1, 2, 3, 1, 1, body), out);
    EXPECT_EQ(out.Pixel(1, 0), Color32(50, 50, 50));
    EXPECT_EQ(out.Pixel(2, 0), Color32(60, 60, 60));

    std::vector<uint8_t> overrun = body;
    overrun[8] = 0x05; // a run of 5 in a row of 3
    EXPECT_EQ(DecodeFailure("sgi", Sgi(1, 1, 2, 3, 1, 1, overrun)),
              "Cannot load image. Compression error found in SGI file.");
    std::vector<uint8_t> pastEnd = body;
    pastEnd[7] = 0x40; // length beyond the file
    EXPECT_EQ(DecodeFailure("sgi", Sgi(1, 1, 2, 3, 1, 1, pastEnd)), "Stream read error in SGI file.");
    std::vector<uint8_t> intoHeader = body;
    intoHeader[2] = 0x00, intoHeader[3] = 0x10; // row inside the header
    EXPECT_EQ(DecodeFailure("sgi", Sgi(1, 1, 2, 3, 1, 1, intoHeader)), "Stream read error in SGI file.");
}

TEST_F(SgiTest, RefusalsAndTruncation)
{
    EXPECT_EQ(DecodeFailure("sgi", Sgi(0, 1, 3, 1, 1, 5, std::vector<uint8_t>(5))),
              "Cannot load image. 5 channels not supported for SGI files.");
    EXPECT_EQ(DecodeFailure("sgi", Sgi(0, 3, 3, 1, 1, 1, {0})), "Cannot load image. Invalid or unexpected SGI image format.");
    EXPECT_EQ(DecodeFailure("sgi", Sgi(2, 1, 3, 1, 1, 1, {0})), "Cannot load image. Invalid or unexpected SGI image format.");
    EXPECT_EQ(DecodeFailure("sgi", Sgi(0, 1, 3, 0, 1, 1, {})), "Cannot load image. Invalid or unexpected SGI image format.");
    EXPECT_EQ(DecodeFailure("sgi", Sgi(0, 1, 3, 2, 2, 3, {1, 2, 3})), "Stream read error in SGI file.");
    EXPECT_EQ(DecodeFailure("sgi", Sgi(1, 1, 3, 60000, 60000, 4, {})), "Cannot load image. Invalid or unexpected SGI image format.");
    EXPECT_EQ(DecodeFailure("sgi", {0x01, 0xDA, 0}), "Stream read error in SGI file.");
}

TEST_F(SgiTest, DamagedSamplesGiveAPictureOrTheFormatsError)
{
    SweepCorpusFolder("sgi", {"sgi", "rgba", "rgb", "bw"}, 16384);
}

} // namespace
} // namespace palvex::test
