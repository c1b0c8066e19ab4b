// The BMP/RLE/DIB reader: tiny built fixtures with exact pixels, the failure
// rules, the bmpsuite corpus against ImageMagick, and a mutation sweep.
#include <algorithm>
#include <climits>

#include "TestMain.h"
#include "decoders/DecoderTestUtil.h"
#include "imageio/Bitmap.h"

namespace palvex {
namespace {

void Put16(std::vector<uint8_t>& v, uint32_t x) { v.push_back(uint8_t(x)), v.push_back(uint8_t(x >> 8)); }
void Put32(std::vector<uint8_t>& v, uint32_t x) { Put16(v, x & 0xFFFF), Put16(v, x >> 16); }

// A file with a 40-byte header; extra holds masks and palette, then the bits.
std::vector<uint8_t> MakeBmp(int32_t w, int32_t h, uint16_t bits, uint32_t compression,
                             const std::vector<uint8_t>& extra, const std::vector<uint8_t>& pixels)
{
    std::vector<uint8_t> v{'B', 'M'};
    Put32(v, uint32_t(54 + extra.size() + pixels.size()));
    Put32(v, 0);
    Put32(v, uint32_t(54 + extra.size()));
    Put32(v, 40);
    Put32(v, uint32_t(w));
    Put32(v, uint32_t(h));
    Put16(v, 1);
    Put16(v, bits);
    Put32(v, compression);
    for (int i = 0; i < 5; ++i)
        Put32(v, 0);
    v.insert(v.end(), extra.begin(), extra.end());
    v.insert(v.end(), pixels.begin(), pixels.end());
    return v;
}

const std::vector<uint8_t> kPalette4 = {0, 0, 0, 0, 255, 0, 0, 0, 0, 255, 0, 0, 0, 0, 255, 0};

class BmpReaderTest : public test::RegisteredFormats {};

TEST_F(BmpReaderTest, EightBitRowOrderAndPalette)
{
    // Rows are padded to 4 bytes; bottom-up stores the last row first.
    const std::vector<uint8_t> rows = {0, 1, 0, 0, 2, 3, 0, 0};
    TBitmap32 up, down;
    test::DecodeBytes("bmp", MakeBmp(2, 2, 8, 0, kPalette4, rows), up);
    test::DecodeBytes("bmp", MakeBmp(2, -2, 8, 0, kPalette4, rows), down);
    ASSERT_EQ(up.Width(), 2);
    ASSERT_EQ(up.Height(), 2);
    EXPECT_EQ(up.Pixel(0, 0), 0xFF00FF00u);
    EXPECT_EQ(up.Pixel(1, 0), 0xFFFF0000u);
    EXPECT_EQ(up.Pixel(0, 1), 0xFF000000u);
    EXPECT_EQ(up.Pixel(1, 1), 0xFF0000FFu);
    EXPECT_EQ(down.Pixel(0, 0), 0xFF000000u);
    EXPECT_EQ(down.Pixel(1, 1), 0xFFFF0000u);

    TMemoryStream stream(MakeBmp(2, 2, 8, 0, kPalette4, rows));
    TBitmap bitmap;
    bitmap.LoadStream(stream);
    EXPECT_EQ(bitmap.PixelFormat(), TPixelFormat::pf8bit);
    EXPECT_EQ(bitmap.Palette().size(), 256u);
}

TEST_F(BmpReaderTest, RunLengthClipsAndFillsWithIndexZero)
{
    // 3x2: a run of 5 on the bottom row is clipped to 3 pixels, not wrapped;
    // the top row's last pixel is never set.
    const std::vector<uint8_t> rle = {5, 1, 0, 0, 2, 3, 0, 1};
    TBitmap32 out;
    test::DecodeBytes("bmp", MakeBmp(3, 2, 8, 1, kPalette4, rle), out);
    EXPECT_EQ(out.Pixel(0, 1), 0xFF0000FFu);
    EXPECT_EQ(out.Pixel(2, 1), 0xFF0000FFu);
    EXPECT_EQ(out.Pixel(0, 0), 0xFFFF0000u);
    EXPECT_EQ(out.Pixel(1, 0), 0xFFFF0000u);
    EXPECT_EQ(out.Pixel(2, 0), 0xFF000000u);

    // Data that stops before every row is reached is a short file; a missing
    // end-of-bitmap after the last row is not.
    EXPECT_THROW_MSG(test::DecodeBytes("bmp", MakeBmp(3, 2, 8, 1, kPalette4, {3, 1}), out), EReadError,
                     "Stream read error");
    EXPECT_NO_THROW(test::DecodeBytes("bmp", MakeBmp(3, 2, 8, 1, kPalette4, {3, 1, 0, 0, 3, 2}), out));
    EXPECT_EQ(out.Pixel(1, 0), 0xFF00FF00u);
    EXPECT_THROW_MSG(test::DecodeBytes("bmp", MakeBmp(3, -2, 8, 1, kPalette4, rle), out), EInvalidGraphic,
                     "Bitmap image is not valid");
}

TEST_F(BmpReaderTest, BitFieldsAndThirtyTwoBits)
{
    std::vector<uint8_t> masks;
    for (uint32_t m : {0xF800u, 0x07E0u, 0x001Fu})
        Put32(masks, m);
    TBitmap32 out;
    // 565: pure red, then blue 1 of 31 which expands to 8.
    test::DecodeBytes("bmp", MakeBmp(2, 1, 16, 3, masks, {0x00, 0xF8, 0x01, 0x00}), out);
    EXPECT_EQ(out.Pixel(0, 0), 0xFFFF0000u);
    EXPECT_EQ(out.Pixel(1, 0), 0xFF000008u);

    // Plain 32 bits keep the fourth byte as alpha.
    test::DecodeBytes("bmp", MakeBmp(1, 1, 32, 0, {}, {1, 2, 3, 0x40}), out);
    EXPECT_EQ(out.Pixel(0, 0), 0x40030201u);
    // An alpha bit field gives 32-bit pixels with that alpha.
    std::vector<uint8_t> argb;
    for (uint32_t m : {0x00FF0000u, 0x0000FF00u, 0x000000FFu, 0xFF000000u})
        Put32(argb, m);
    TMemoryStream stream(MakeBmp(1, 1, 32, 6, argb, {1, 2, 3, 0x80}));
    TBitmap bitmap;
    bitmap.LoadStream(stream);
    EXPECT_EQ(bitmap.PixelFormat(), TPixelFormat::pf32bit);
    TBitmap32 fromBitmap;
    fromBitmap.AssignFrom(&bitmap);
    EXPECT_EQ(fromBitmap.Pixel(0, 0), 0x80030201u);
}

TEST_F(BmpReaderTest, RefusesBadHeadersBeforeAllocating)
{
    TBitmap32 out;
    auto invalid = [&](const std::vector<uint8_t>& bytes) {
        EXPECT_THROW_MSG(test::DecodeBytes("bmp", bytes, out), EInvalidGraphic, "Bitmap image is not valid");
    };
    invalid(MakeBmp(1, INT32_MIN, 24, 0, {}, {0, 0, 0, 0}));
    invalid(MakeBmp(65536, 1, 24, 0, {}, {}));
    invalid(MakeBmp(40000, 40000, 1, 0, {}, {})); // 1.6e9 pixels
    invalid(MakeBmp(-1, 1, 24, 0, {}, {}));
    invalid(MakeBmp(1, 1, 7, 0, {}, {0, 0, 0, 0}));
    invalid(MakeBmp(1, 1, 24, 1, {}, {0, 0, 0, 0}));
    std::vector<uint8_t> notBmp = MakeBmp(1, 1, 24, 0, {}, {0, 0, 0, 0});
    notBmp[0] = 'X';
    invalid(notBmp);

    auto shortRead = [&](const std::vector<uint8_t>& bytes) {
        EXPECT_THROW_MSG(test::DecodeBytes("bmp", bytes, out), EReadError, "Stream read error");
    };
    shortRead({});
    shortRead({'B', 'M', 0, 0});
    shortRead(MakeBmp(4, 4, 24, 0, {}, std::vector<uint8_t>(20)));
    // The last row may lack its padding.
    EXPECT_NO_THROW(test::DecodeBytes("bmp", MakeBmp(1, 2, 24, 0, {}, {1, 2, 3, 0, 4, 5, 6}), out));
    EXPECT_EQ(out.Pixel(0, 0), 0xFF060504u);
}

TEST_F(BmpReaderTest, GoodCorpusMatchesImageMagick)
{
    int compared = 0;
    for (const auto& entry : std::filesystem::directory_iterator(test::DataDir() / "bmp")) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("bmpsuite_g_", 0) != 0)
            continue;
        SCOPED_TRACE(name);
        TBitmap32 out;
        ASSERT_NO_THROW(test::DecodeBytes("bmp", test::ReadFileBytes(entry.path()), out));
        const test::MagickPicture magick = test::MagickDecode(entry.path());
        // Plain 32-bit files keep their stored fourth byte as alpha; the rest are opaque.
        EXPECT_EQ(test::MaxChannelDifference(out, magick, name != "bmpsuite_g_rgb32.bmp"), 0);
        ++compared;
    }
    EXPECT_EQ(compared, 27);
}

TEST_F(BmpReaderTest, EveryCorpusFileLoadsOrFailsWithTheSystemsMessage)
{
    for (const auto& entry : std::filesystem::directory_iterator(test::DataDir() / "bmp")) {
        SCOPED_TRACE(entry.path().filename().string());
        try {
            TBitmap32 out;
            test::DecodeBytes("bmp", test::ReadFileBytes(entry.path()), out);
            EXPECT_FALSE(out.IsEmpty());
        } catch (const EReadError& e) {
            EXPECT_STREQ(e.what(), "Stream read error");
        } catch (const EInvalidGraphic& e) {
            EXPECT_STREQ(e.what(), "Bitmap image is not valid");
        }
    }
}

TEST_F(BmpReaderTest, MutationSweep)
{
    test::MutationSweep("bmp", MakeBmp(3, 2, 8, 1, kPalette4, {5, 1, 0, 2, 0, 1, 2, 3, 0, 1}), 80);
    test::MutationSweep("bmp", test::ReadFileBytes(test::DataDir() / "bmp" / "bmpsuite_g_pal4rle.bmp"), 120, 7);
    test::MutationSweep("bmp", test::ReadFileBytes(test::DataDir() / "bmp" / "bmpsuite_q_rgba32abf.bmp"), 140, 13);
}

} // namespace
} // namespace palvex
