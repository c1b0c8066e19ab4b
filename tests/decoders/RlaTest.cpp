// The RLA reader against OpenImageIO, a hand-built file and damaged files.
#include "FixtureCompare.h"

namespace palvex::test {
namespace {

class RlaTest : public RegisteredFormats {};

struct RlaWindows {
    int16_t Full[4], Active[4]; // left, right, bottom, top
};

// A 740-byte header, the scanline table and the records (bottom scanline first
// in lines; stored top first, as OpenImageIO does).
std::vector<uint8_t> Rla(const RlaWindows& w, uint16_t storage, uint16_t colours, uint16_t mattes, uint16_t bits,
                         uint16_t matteBits, const std::vector<std::vector<uint8_t>>& lines)
{
    std::vector<uint8_t> b;
    for (int16_t v : w.Full)
        PutBE(b, uint16_t(v), 2);
    for (int16_t v : w.Active)
        PutBE(b, uint16_t(v), 2);
    PutBE(b, 0, 2);
    PutBE(b, storage, 2);
    PutBE(b, colours, 2);
    PutBE(b, mattes, 2);
    PutBE(b, 0, 2);
    PutBE(b, 0xFFFE, 2);
    b.resize(658);
    PutBE(b, bits, 2);
    PutBE(b, 0, 2);
    PutBE(b, matteBits, 2);
    b.resize(740);
    size_t offset = b.size() + 4 * lines.size();
    std::vector<size_t> offsets(lines.size());
    for (size_t i = lines.size(); i-- > 0;)
        offsets[i] = offset, offset += lines[i].size();
    for (size_t o : offsets)
        PutBE(b, o, 4);
    for (size_t i = lines.size(); i-- > 0;)
        b.insert(b.end(), lines[i].begin(), lines[i].end());
    return b;
}

// A channel record: its length, then the data.
std::vector<uint8_t> Record(std::vector<uint8_t> data)
{
    std::vector<uint8_t> r;
    PutBE(r, data.size(), 2);
    r.insert(r.end(), data.begin(), data.end());
    return r;
}

TEST_F(RlaTest, FixturesMatchOpenImageIO)
{
    if (!ToolInstalled("oiiotool"))
        GTEST_SKIP() << "oiiotool (openimageio-tools) is not installed";
    const auto files = Fixtures("rla", {"rla", "rpf"});
    // 10-bit samples reach 8 bits through 16 in OpenImageIO; it takes the
    // colour under a matte as premultiplied, we keep it as stored.
    EXPECT_EQ(CompareFixtures(files, [](const auto& p) { return ToolDecode("oiiotool %IN% -d uint8 -o %OUT%", p); },
                              {{"oiio__ginsu_rgb_nc10.rla", 1}}, false),
              int(files.size()) - 1);
}

TEST_F(RlaTest, ActiveWindowBottomUpSixteenBitsAndMatte)
{
    // Full window 4x3, active 2x2 at columns 1-2 of the two bottom rows;
    // 16-bit RGB as two byte planes each, 8-bit matte.
    auto rgb16 = [](std::initializer_list<uint16_t> twoPixels) {
        std::vector<uint8_t> hi = {0xFE}, lo = {0xFE};
        for (uint16_t v : twoPixels)
            hi.push_back(uint8_t(v >> 8)), lo.push_back(uint8_t(v));
        return Record(Concat({hi, lo}));
    };
    const std::vector<std::vector<uint8_t>> lines = {
        Concat({rgb16({0xFFFF, 0}), rgb16({0, 0x4040}), rgb16({0x8080, 0xFFFF}), Record({0x01, 200})}),
        Concat({rgb16({0x8080, 0xFFFF}), rgb16({0x8080, 0xFFFF}), rgb16({0x8080, 0xFFFF}), Record({0xFE, 255, 100})}),
    };
    TBitmap32 out;
    DecodeBytes("rla", Rla({{0, 3, 0, 2}, {1, 2, 0, 1}}, 1, 3, 1, 16, 8, lines), out);
    ASSERT_EQ(out.Width(), 4);
    ASSERT_EQ(out.Height(), 3);
    const TColor32 none = 0;
    const TColor32 expected[3][4] = {
        {none, none, none, none},
        {none, Color32(128, 128, 128, 255), Color32(255, 255, 255, 100), none},
        {none, Color32(255, 0, 128, 200), Color32(0, 64, 255, 200), none},
    };
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(out.Pixel(x, y), expected[y][x]) << x << "," << y;

    // Gray floats stored big-endian, as 3ds Max writes them; a run longer than
    // the line is cut.
    DecodeBytes("rpf", Rla({{0, 1, 0, 0}, {0, 1, 0, 0}}, 4, 1, 0, 32, 0, {Record({0x3F, 0, 0, 0, 0x40, 0, 0, 0})}),
                out);
    EXPECT_EQ(out.Pixel(0, 0), Color32(128, 128, 128));
    EXPECT_EQ(out.Pixel(1, 0), Color32(255, 255, 255));
    DecodeBytes("rla", Rla({{0, 1, 0, 0}, {0, 1, 0, 0}}, 0, 1, 0, 8, 8, {Record({0x05, 77})}), out);
    EXPECT_EQ(out.Pixel(1, 0), Color32(77, 77, 77));
}

TEST_F(RlaTest, RefusalsBombsAndTruncation)
{
    const std::string invalid = "Cannot load image. Invalid or unexpected RLA image format.";
    const auto line = Record({0x00, 9});
    auto bad = Rla({{0, 0, 0, 0}, {0, 0, 0, 0}}, 0, 1, 0, 8, 8, {line});
    bad[26] = 0x12; // revision
    EXPECT_EQ(DecodeFailure("rla", bad), invalid);
    EXPECT_EQ(DecodeFailure("rla", Rla({{0, 0, 0, 0}, {0, 0, 0, 0}}, 0, 2, 0, 8, 8, {line})), invalid);
    // 32767 x 32767 pixels: refused at the header, before the table is read.
    EXPECT_EQ(DecodeFailure("rla", Rla({{0, 32766, 0, 32766}, {0, 32766, 0, 32766}}, 0, 1, 0, 8, 8, {line})), invalid);
    // 20000 scanlines of 10000 pixels in a small file: short before allocating.
    auto tall = Rla({{0, 9999, 0, 0}, {0, 9999, 0, 0}}, 0, 1, 0, 8, 8, {line});
    tall[14] = 0x4E, tall[15] = 0x1F; // active top 19999
    tall.resize(740 + 4 * 20000, 0);
    for (size_t i = 0; i < 20000; ++i)
        tall[740 + 4 * i + 1] = 0x01; // every scanline at offset 65536
    tall.resize(70000, 0);
    EXPECT_EQ(DecodeFailure("rla", tall), "Stream read error in RLA file.");
    auto shortRecord = Rla({{0, 3, 0, 0}, {0, 3, 0, 0}}, 0, 1, 0, 8, 8, {Record({0xFE, 1, 2})});
    EXPECT_EQ(DecodeFailure("rla", shortRecord), "Stream read error in RLA file.");
    EXPECT_EQ(DecodeFailure("rla", std::vector<uint8_t>(700)), "Stream read error in RLA file.");
}

TEST_F(RlaTest, DamagedFixturesGiveAPictureOrTheFormatsError)
{
    SweepFixtures(Fixtures("rla", {"rla", "rpf"}));
}

} // namespace
} // namespace palvex::test
