// The Photo CD reader against ImageMagick, in the three orientations, and
// damaged files.
#include "FixtureCompare.h"

namespace palvex::test {
namespace {

class PcdTest : public RegisteredFormats {};

TEST_F(PcdTest, BaseLevelInEachOrientationMatchesImageMagick)
{
    // The fixture is marked as turned left (1); as stored (0) and turned right
    // (3) are the same file with that byte changed. ImageMagick's YCC
    // conversion rounds through 16 bits: within 1.
    std::vector<uint8_t> bytes = ReadFileBytes(DataDir() / "pcd" / "gen__pcd_portrait.pcd");
    TempDir dir;
    for (const uint8_t orientation : {1, 0, 3}) {
        SCOPED_TRACE(int(orientation));
        bytes[0x0E02] = uint8_t((bytes[0x0E02] & ~3) | orientation);
        const auto path = dir.Path() / ("turned" + std::to_string(orientation) + ".pcd");
        WriteFileBytes(path, bytes);
        TBitmap32 ours;
        DecodeBytes("pcd", bytes, ours);
        EXPECT_EQ(ours.Width(), orientation == 0 ? 768 : 512);
        // The file's first picture is Base/16: ask for the whole file.
        const MagickPicture theirs = ToolDecode("/usr/bin/convert %IN% %OUT%", path);
        const int diff = MaxChannelDifference(ours, theirs, true);
        EXPECT_GE(diff, 0);
        EXPECT_LE(diff, 1) << FirstDifference(ours, theirs, true);
    }
}

TEST_F(PcdTest, RefusalsAndDamage)
{
    std::vector<uint8_t> bytes = ReadFileBytes(DataDir() / "pcd" / "gen__pcd_portrait.pcd");
    EXPECT_EQ(DecodeFailure("pcd", std::vector<uint8_t>(bytes.begin(), bytes.begin() + 700000)),
              "Stream read error in PCD file.");
    bytes[0x800 + 4] = 'O'; // an overview pack, "PCD_OPA"
    EXPECT_EQ(DecodeFailure("pcd", bytes), "Cannot load image. Invalid or unexpected PCD image format.");
    SweepFixtures(Fixtures("pcd", {"pcd"}));
}

} // namespace
} // namespace palvex::test
