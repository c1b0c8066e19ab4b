// The Animator reader against FFmpeg, hand-built files and damaged files.
#include "FixtureCompare.h"

namespace palvex::test {
namespace {

class AutodeskTest : public RegisteredFormats {};

TEST_F(AutodeskTest, FlicCelsMatchFFmpeg)
{
    if (!ToolInstalled("ffmpeg"))
        GTEST_SKIP() << "ffmpeg is not installed";
    // FFmpeg drops S-BULLET's COPY chunk, whose size is two bytes short
    // (checked below); TEST is 0x0 and refused by both.
    std::vector<std::filesystem::path> flics;
    for (const auto& path : Fixtures("cel", {"cel"}))
        if (path.filename().string().starts_with("animatorpro") && path.filename() != "animatorpro__S-BULLET.cel")
            flics.push_back(path);
    EXPECT_EQ(CompareFixtures(flics, [](const auto& p) {
                  return ToolDecode("ffmpeg -v error -f flic -i %IN% -frames:v 1 %OUT%", p);
              }),
              int(flics.size()) - 1);
}

// Original Animator: 32-byte header, 6-bit palette, raw indices.
std::vector<uint8_t> AnimatorCel(uint16_t width, uint16_t height, std::vector<uint8_t> pixels, int16_t left = 0,
                                 int16_t top = 0)
{
    std::vector<uint8_t> b;
    PutLE(b, 0x9119, 2), PutLE(b, width, 2), PutLE(b, height, 2), PutLE(b, uint16_t(left), 2), PutLE(b, uint16_t(top), 2);
    b.push_back(8), b.push_back(0), PutLE(b, pixels.size(), 4);
    b.resize(32 + 768);
    const uint8_t colours[3][3] = {{63, 0, 32}, {1, 2, 3}, {16, 48, 62}};
    for (int i = 0; i < 3; ++i)
        std::copy(colours[i], colours[i] + 3, b.begin() + 32 + 3 * i);
    b.insert(b.end(), pixels.begin(), pixels.end());
    return b;
}

// A chunk: 32-bit size including its 6-byte header, 16-bit type, data.
std::vector<uint8_t> Chunk(uint16_t type, std::vector<uint8_t> data)
{
    std::vector<uint8_t> c;
    PutLE(c, data.size() + 6, 4), PutLE(c, type, 2);
    c.insert(c.end(), data.begin(), data.end());
    return c;
}

// Animator Pro: a FLIC with one frame of the given chunks.
std::vector<uint8_t> Flic(uint16_t width, uint16_t height, const std::vector<std::vector<uint8_t>>& chunks)
{
    std::vector<uint8_t> b;
    PutLE(b, 0, 4), PutLE(b, 0xAF12, 2), PutLE(b, 1, 2), PutLE(b, width, 2), PutLE(b, height, 2), PutLE(b, 8, 2);
    b.resize(128);
    std::vector<uint8_t> frame;
    PutLE(frame, chunks.size(), 2);
    frame.resize(10);
    for (const auto& c : chunks)
        frame.insert(frame.end(), c.begin(), c.end());
    const auto f = Chunk(0xF1FA, frame);
    b.insert(b.end(), f.begin(), f.end());
    return b;
}

TEST_F(AutodeskTest, LayoutsPalettesAndDeltaChunks)
{
    // Original Animator: 6-bit components widened so that 63 is 255. A cel
    // goes back on its 320x200 screen at its offset, on the screen's colour 0.
    TBitmap32 out;
    DecodeBytes("cel", AnimatorCel(3, 1, {0, 1, 2}, 5, 7), out);
    EXPECT_EQ(out.Width(), 320);
    EXPECT_EQ(out.Height(), 200);
    EXPECT_EQ(out.Pixel(5, 7), Color32(255, 0, 130));
    EXPECT_EQ(out.Pixel(6, 7), Color32(4, 8, 12));
    EXPECT_EQ(out.Pixel(7, 7), Color32(65, 195, 251));
    EXPECT_EQ(out.Pixel(8, 7), Color32(255, 0, 130));
    EXPECT_EQ(out.Pixel(319, 199), Color32(255, 0, 130));
    // One reaching past the screen grows it: nothing is cut.
    DecodeBytes("cel", AnimatorCel(2, 2, {1, 2, 2, 1}, -1, 199), out);
    EXPECT_EQ(out.Width(), 321);
    EXPECT_EQ(out.Height(), 201);
    EXPECT_EQ(out.Pixel(0, 199), Color32(4, 8, 12));
    EXPECT_EQ(out.Pixel(1, 200), Color32(4, 8, 12));
    EXPECT_EQ(out.Pixel(2, 199), Color32(255, 0, 130));
    // One wholly off the screen is shown alone, however far away.
    DecodeBytes("cel", AnimatorCel(2, 1, {1, 2}, 32000, -32000), out);
    EXPECT_EQ(out.Width(), 2);
    EXPECT_EQ(out.Pixel(0, 0), Color32(4, 8, 12));
    // A cel as large as the screen at 0,0 (a picture) is just its pixels.
    DecodeBytes("pic", AnimatorCel(320, 200, std::vector<uint8_t>(64000, 2)), out);
    EXPECT_EQ(out.Width(), 320);
    EXPECT_EQ(out.Pixel(0, 0), Color32(65, 195, 251));

    // Animator Pro picture: chunks after a 64-byte header; without a colour
    // map (as in the FLIC below) Animator's default colours, which are the
    // colour file's; an 1-bit mask is black and white.
    auto pro = [](uint8_t depth, std::vector<std::vector<uint8_t>> chunks) {
        std::vector<uint8_t> b;
        PutLE(b, 0, 4), PutLE(b, 0x9500, 2), PutLE(b, 2, 2), PutLE(b, 2, 2);
        b.resize(18), b.push_back(depth), b.resize(64);
        for (const auto& c : chunks)
            b.insert(b.end(), c.begin(), c.end());
        return b;
    };
    DecodeBytes("pic", pro(8, {Chunk(0, {0, 0, 10, 20, 30, 40, 50, 60}), Chunk(7, {1}), Chunk(1, {1, 0, 9, 1})}), out);
    EXPECT_EQ(out.Pixel(0, 0), Color32(40, 50, 60));
    EXPECT_EQ(out.Pixel(1, 0), Color32(10, 20, 30));
    EXPECT_EQ(out.Pixel(0, 1), Color32(0, 0, 0));
    const auto defaults = ReadFileBytes(DataDir() / "cel" / "animator__NEWDEFAU.col");
    ASSERT_EQ(defaults.size(), 768u);
    auto defaultColour = [&](size_t i) {
        auto widen = [](uint8_t v) { return uint8_t((v << 2) | (v >> 4)); };
        return Color32(widen(defaults[3 * i]), widen(defaults[3 * i + 1]), widen(defaults[3 * i + 2]));
    };
    DecodeBytes("pic", ReadFileBytes(DataDir() / "cel" / "hand__animatorpro_nocmap_16x16.pic"), out);
    for (size_t i = 0; i < 256; ++i)
        ASSERT_EQ(out.Pixel(int32_t(i % 16), int32_t(i / 16)), defaultColour(i)) << i;
    DecodeBytes("cel", Flic(2, 1, {Chunk(16, {200, 37})}), out);
    EXPECT_EQ(out.Pixel(0, 0), defaultColour(200));
    EXPECT_EQ(out.Pixel(1, 0), defaultColour(37));
    DecodeBytes("pic", pro(1, {Chunk(2, {0x80, 0x40})}), out);
    EXPECT_EQ(out.Pixel(0, 0), Color32(255, 255, 255));
    EXPECT_EQ(out.Pixel(1, 1), Color32(255, 255, 255));
    EXPECT_EQ(out.Pixel(1, 0), Color32(0, 0, 0));

    // A first frame of delta chunks over the black frame: line changes at
    // line 1 (skip 1 column, a literal of 2, then a run of 2 cut at the
    // line's end), then word changes that skip a line and set line 2's last
    // pixel.
    const auto colours = Chunk(4, {1, 0, 0, 5, 0, 0, 0, 9, 9, 9, 1, 2, 3, 4, 5, 6, 7, 8, 9});
    const auto lc = Chunk(12, {1, 0, 1, 0, 2, 1, 2, 1, 2, 0, 0xFE, 3});
    const auto ss2 = Chunk(7, {2, 0, 0, 0, 0xFF, 0xFF, 0x02, 0x80, 0x01, 0x00, 0x00, 0xFF, 0x01, 0x02});
    DecodeBytes("cel", Flic(4, 3, {colours, lc, ss2}), out);
    const TColor32 c[5] = {Color32(0, 0, 0), Color32(9, 9, 9), Color32(1, 2, 3), Color32(4, 5, 6), Color32(7, 8, 9)};
    const int expected[3][4] = {{0, 0, 0, 0}, {0, 1, 2, 3}, {1, 2, 0, 2}};
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(out.Pixel(x, y), c[expected[y][x]]) << x << "," << y;
}

TEST_F(AutodeskTest, QuirksRefusalsAndDamage)
{
    // S-BULLET's COPY chunk is two bytes short; the frame holds the pixels.
    TBitmap32 out;
    DecodeBytes("cel", ReadFileBytes(DataDir() / "cel" / "animatorpro__S-BULLET.cel"), out);
    EXPECT_EQ(out.Width(), 8);
    EXPECT_EQ(out.Height(), 6);
    EXPECT_NE(out.Pixel(2, 0), out.Pixel(0, 0));

    const std::string invalid = "Cannot load image. Invalid or unexpected Autodesk image format.";
    EXPECT_EQ(DecodeFailure("pic", ReadFileBytes(DataDir() / "pic" / "oiio__softimage_A4.pic")), invalid);
    EXPECT_EQ(DecodeFailure("cel", ReadFileBytes(DataDir() / "cel" / "animatorpro__TEST.cel")), invalid);
    EXPECT_EQ(DecodeFailure("cel", Flic(60000, 60000, {Chunk(13, {})})), invalid);
    EXPECT_EQ(DecodeFailure("cel", AnimatorCel(2, 2, {1, 2, 3})), "Stream read error in Autodesk file.");
    SweepFixtures(Fixtures("cel", {"cel", "pic"}));
}

} // namespace
} // namespace palvex::test
