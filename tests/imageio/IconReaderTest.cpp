// The icon reader: a built two-entry icon (largest wins, AND mask becomes
// alpha 0), the failure rules, the corpus, and a mutation sweep.
#include "TestMain.h"
#include "decoders/DecoderTestUtil.h"
#include "imageio/Icon.h"

namespace palvex {
namespace {

void Put16(std::vector<uint8_t>& v, uint32_t x) { v.push_back(uint8_t(x)), v.push_back(uint8_t(x >> 8)); }
void Put32(std::vector<uint8_t>& v, uint32_t x) { Put16(v, x & 0xFFFF), Put16(v, x >> 16); }

// A 24-bit DIB entry of w x 2 with its mask rows (bottom row first).
std::vector<uint8_t> DibEntry(int32_t w, const std::vector<uint8_t>& bgrRows, const std::vector<uint8_t>& maskRows)
{
    std::vector<uint8_t> v;
    Put32(v, 40);
    Put32(v, uint32_t(w));
    Put32(v, 4); // twice the height
    Put16(v, 1);
    Put16(v, 24);
    for (int i = 0; i < 6; ++i)
        Put32(v, 0);
    v.insert(v.end(), bgrRows.begin(), bgrRows.end());
    v.insert(v.end(), maskRows.begin(), maskRows.end());
    return v;
}

std::vector<uint8_t> MakeIcon(const std::vector<std::vector<uint8_t>>& entries, const std::vector<int>& sides)
{
    std::vector<uint8_t> v;
    Put16(v, 0);
    Put16(v, 1);
    Put16(v, uint32_t(entries.size()));
    size_t offset = 6 + 16 * entries.size();
    for (size_t i = 0; i < entries.size(); ++i) {
        v.push_back(uint8_t(sides[i]));
        v.push_back(uint8_t(sides[i]));
        v.push_back(0), v.push_back(0);
        Put16(v, 1);
        Put16(v, 24);
        Put32(v, uint32_t(entries[i].size()));
        Put32(v, uint32_t(offset));
        offset += entries[i].size();
    }
    for (const auto& e : entries)
        v.insert(v.end(), e.begin(), e.end());
    return v;
}

// 2x2: bottom row red, blue; top row green, white. The top-left pixel is masked.
const std::vector<uint8_t> kTwoByTwo =
    DibEntry(2, {0, 0, 255, 255, 0, 0, 0, 0, 0, 255, 0, 255, 255, 255, 0, 0}, {0, 0, 0, 0, 0x80, 0, 0, 0});
const std::vector<uint8_t> kOneByOne = DibEntry(1, {9, 9, 9, 0, 9, 9, 9, 0}, {0, 0, 0, 0, 0, 0, 0, 0});

class IconReaderTest : public test::RegisteredFormats {};

TEST_F(IconReaderTest, LargestEntryWithMaskAsAlpha)
{
    TMemoryStream stream(MakeIcon({kOneByOne, kTwoByTwo}, {1, 2}));
    TIcon icon;
    icon.LoadStream(stream);
    ASSERT_EQ(icon.Width(), 2);
    ASSERT_EQ(icon.Height(), 2);
    const auto& p = icon.Pixels();
    EXPECT_EQ(AlphaComponent(p[0]), 0u);
    EXPECT_EQ(p[1], 0xFFFFFFFFu);
    EXPECT_EQ(p[2], 0xFFFF0000u);
    EXPECT_EQ(p[3], 0xFF0000FFu);

    // Through a picture container: the masked pixel shows the blue pass.
    TBitmap32 out;
    test::DecodeBytes("ico", MakeIcon({kTwoByTwo}, {2}), out);
    EXPECT_EQ(out.Pixel(0, 0), 0x000000FFu);
    EXPECT_EQ(out.Pixel(1, 0), 0xFFFFFFFFu);
    EXPECT_EQ(out.Pixel(0, 1), 0xFFFF0000u);
}

TEST_F(IconReaderTest, Failures)
{
    TBitmap32 out;
    EXPECT_THROW_MSG(test::DecodeBytes("ico", {0, 0, 1}, out), EReadError, "Stream read error");
    EXPECT_THROW_MSG(test::DecodeBytes("ico", {0, 0, 1, 0, 0, 0}, out), EInvalidGraphic, "Icon image is not valid");
    EXPECT_THROW_MSG(test::DecodeBytes("ico", {0, 0, 7, 0, 1, 0}, out), EInvalidGraphic, "Icon image is not valid");
    std::vector<uint8_t> cut = MakeIcon({kTwoByTwo}, {2});
    cut.resize(cut.size() - 10);
    EXPECT_THROW_MSG(test::DecodeBytes("ico", cut, out), EReadError, "Stream read error");
    // A broken largest entry falls back to the next one that decodes.
    std::vector<uint8_t> broken = kTwoByTwo;
    broken[14] = 7; // bit count
    TMemoryStream stream(MakeIcon({broken, kOneByOne}, {2, 1}));
    TIcon icon;
    icon.LoadStream(stream);
    EXPECT_EQ(icon.Width(), 1);
    EXPECT_EQ(icon.Pixels()[0], 0xFF090909u);
}

TEST_F(IconReaderTest, CorpusLoadsOrFailsWithTheSystemsMessage)
{
    int loaded = 0;
    for (const char* folder : {"ico", "cur"}) {
        for (const auto& entry : std::filesystem::directory_iterator(test::DataDir() / folder)) {
            SCOPED_TRACE(entry.path().filename().string());
            try {
                TBitmap32 out;
                test::DecodeBytes("ico", test::ReadFileBytes(entry.path()), out);
                EXPECT_FALSE(out.IsEmpty());
                ++loaded;
            } catch (const EReadError& e) {
                EXPECT_STREQ(e.what(), "Stream read error");
            } catch (const EInvalidGraphic& e) {
                EXPECT_STREQ(e.what(), "Icon image is not valid");
            }
        }
    }
    EXPECT_GE(loaded, 22);
}

TEST_F(IconReaderTest, MutationSweep)
{
    test::MutationSweep("ico", MakeIcon({kOneByOne, kTwoByTwo}, {1, 2}), 140);
    test::MutationSweep("ico", test::ReadFileBytes(test::DataDir() / "ico" / "imagers__png-32bpp-alpha.ico"), 64, 11);
}

} // namespace
} // namespace palvex
