// The Dr. Halo reader and its palette file against ImageMagick, hand-built
// files and damaged files.
#include <sys/stat.h>

#include <array>

#include "FixtureCompare.h"

namespace palvex::test {
namespace {

class CutTest : public RegisteredFormats {};

// Loads a file the way a run does, so that the palette beside it is found.
void LoadCut(const std::filesystem::path& path, TBitmap32& out)
{
    TPicture picture;
    picture.LoadFile(path.string());
    out.AssignFrom(&picture);
}

TColor32 CutPixel(const std::filesystem::path& path, int x, int y)
{
    TBitmap32 out;
    LoadCut(path, out);
    return out.Pixel(x, y);
}

// A header and lines given as their packets (the byte count is added).
std::vector<uint8_t> Cut(uint16_t width, uint16_t height, const std::vector<std::vector<uint8_t>>& lines)
{
    std::vector<uint8_t> b;
    PutLE(b, width, 2), PutLE(b, height, 2), PutLE(b, 0, 2);
    for (const auto& line : lines) {
        PutLE(b, line.size(), 2);
        b.insert(b.end(), line.begin(), line.end());
    }
    return b;
}

// A palette: the 40-byte header, then 16-bit entries, none across a
// 512-byte block.
std::vector<uint8_t> Pal(uint16_t maxValue, const std::vector<std::array<uint16_t, 3>>& entries)
{
    std::vector<uint8_t> b = {'A', 'H'};
    b.resize(12);
    PutLE(b, entries.size() - 1, 2);
    for (int i = 0; i < 3; ++i)
        PutLE(b, maxValue, 2);
    b.resize(40);
    for (const auto& e : entries) {
        if (b.size() % 512 > 506)
            b.resize((b.size() / 512 + 1) * 512);
        for (uint16_t v : e)
            PutLE(b, v, 2);
    }
    return b;
}

TEST_F(CutTest, FixturesMatchImageMagick)
{
    for (const auto& path : Fixtures("cut", {"cut"})) {
        SCOPED_TRACE(path.filename().string());
        TBitmap32 ours;
        LoadCut(path, ours);
        const MagickPicture theirs = MagickDecode(path);
        EXPECT_EQ(MaxChannelDifference(ours, theirs, true), 0) << FirstDifference(ours, theirs, true);
    }
}

TEST_F(CutTest, CompanionPaletteAndRuns)
{
    TempDir dir;
    // Line 0: a run of 2 and a literal of 1; line 1: a run past the width,
    // cut; line 2 ends early (0x80) and is filled with index 0.
    const auto cut = Cut(3, 3, {{0x82, 1, 0x01, 2, 0}, {0x85, 3, 0}, {0x01, 90, 0x80}});
    WriteFileBytes(dir.Path() / "pic.cut", cut);
    // No palette: a grey ramp.
    TBitmap32 out;
    LoadCut(dir.Path() / "pic.cut", out);
    EXPECT_EQ(out.Pixel(2, 0), Color32(2, 2, 2));
    EXPECT_EQ(out.Pixel(0, 2), Color32(90, 90, 90));
    EXPECT_EQ(out.Pixel(2, 2), Color32(0, 0, 0));

    // An upper-case .PAL of 100 entries scaled (truncated) by its maximum of
    // 63; index 90 lies in the second 512-byte block.
    std::vector<std::array<uint16_t, 3>> entries(100, {0, 0, 0});
    entries[1] = {63, 0, 32}, entries[2] = {1, 2, 3}, entries[3] = {0, 63, 0}, entries[90] = {10, 20, 30};
    WriteFileBytes(dir.Path() / "PIC.PAL", Pal(63, entries));
    LoadCut(dir.Path() / "pic.cut", out);
    EXPECT_EQ(out.Pixel(0, 0), Color32(255, 0, 129));
    EXPECT_EQ(out.Pixel(2, 0), Color32(4, 8, 12));
    EXPECT_EQ(out.Pixel(2, 1), Color32(0, 255, 0));
    EXPECT_EQ(out.Pixel(0, 2), Color32(40, 80, 121));

    // Beside another picture: a palette without "AH" counts as none, and a
    // pipe of that name is never opened (it would block).
    WriteFileBytes(dir.Path() / "other.cut", cut);
    WriteFileBytes(dir.Path() / "other.pal", std::vector<uint8_t>(600, 7));
    EXPECT_EQ(CutPixel(dir.Path() / "other.cut", 2, 0), Color32(2, 2, 2));
    std::filesystem::remove(dir.Path() / "other.pal");
    ASSERT_EQ(::mkfifo((dir.Path() / "other.pal").c_str(), 0600), 0);
    EXPECT_EQ(CutPixel(dir.Path() / "other.cut", 2, 0), Color32(2, 2, 2));
}

TEST_F(CutTest, RefusalsAndDamage)
{
    const std::string invalid = "Cannot load image. Invalid or unexpected CUT image format.";
    auto reserved = Cut(1, 1, {{0x81, 5, 0}});
    reserved[4] = 1;
    EXPECT_EQ(DecodeFailure("cut", reserved), invalid);
    // No signature: a first line that does not give the width is no CUT.
    EXPECT_EQ(DecodeFailure("cut", Cut(4, 1, {{0x81, 5, 0}})), invalid);
    EXPECT_EQ(DecodeFailure("cut", Cut(65535, 65535, {{0x81, 5, 0}})), invalid);
    EXPECT_EQ(DecodeFailure("cut", Cut(1, 2, {{0x81, 5, 0}})), "Stream read error in CUT file.");
    EXPECT_EQ(DecodeFailure("cut", Cut(1, 2, {{0x81, 5, 0}, {0x02, 1}})), "Stream read error in CUT file.");
    SweepFixtures(Fixtures("cut", {"cut"}));
}

} // namespace
} // namespace palvex::test
