// Files whose header declares a big picture that their data cannot fill are
// refused before the picture's memory is taken, with the format's read error.
#include "CorpusCompare.h"

namespace palvex::test {
namespace {

class ShortDataTest : public RegisteredFormats {};

TEST_F(ShortDataTest, HugeDeclaredPicturesFromAFewBytes)
{
    // Targa, run-length true colour, 16000x12000, one packet.
    std::vector<uint8_t> tga(18, 0);
    tga[2] = 10, tga[12] = 0x80, tga[13] = 0x3E, tga[14] = 0xE0, tga[15] = 0x2E, tga[16] = 24;
    tga.insert(tga.end(), {0xFF, 1, 2, 3});
    EXPECT_EQ(DecodeFailure("tga", tga), "Stream read error in Targa file.");

    // SGI, run-length, 16000x12000x3, without its row tables.
    std::vector<uint8_t> sgi(512, 0);
    const uint8_t head[] = {0x01, 0xDA, 1, 1, 0, 3, 0x3E, 0x80, 0x2E, 0xE0, 0, 3};
    std::copy(std::begin(head), std::end(head), sgi.begin());
    EXPECT_EQ(DecodeFailure("sgi", sgi), "Stream read error in SGI file.");
    sgi[2] = 0; // verbatim: the raster is missing as well
    EXPECT_EQ(DecodeFailure("sgi", sgi), "Stream read error in SGI file.");

    // Plain gray map, 16000x12000, three samples.
    const std::string pgm = "P2 16000 12000 255\n1 2 3\n";
    EXPECT_EQ(DecodeFailure("pgm", std::vector<uint8_t>(pgm.begin(), pgm.end())),
              "Cannot load image. Invalid or unexpected PPM image format.");
}

TEST_F(ShortDataTest, DataThatJustFillsThePictureIsRead)
{
    // 128-pixel run packets, each 4 bytes, fill 640x100 exactly.
    std::vector<uint8_t> tga(18, 0);
    tga[2] = 10, tga[12] = 0x80, tga[13] = 0x02, tga[14] = 100, tga[16] = 24;
    for (int i = 0; i < 500; ++i)
        tga.insert(tga.end(), {0xFF, uint8_t(i), 0, 0});
    TBitmap32 picture;
    DecodeBytes("tga", tga, picture);
    EXPECT_EQ(picture.Width(), 640);
    EXPECT_EQ(picture.Height(), 100);
}

} // namespace
} // namespace palvex::test
