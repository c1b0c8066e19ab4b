// The Photo CD reader against ImageMagick, in the three orientations, and
// damaged files.
#include "FixtureCompare.h"

namespace palvex::test {
namespace {

class PcdTest : public RegisteredFormats {};

constexpr size_t kSector = 2048;

// Residual rows for a hand-built pack: plane (0 luma, 2 and 3 chroma), row
// (in luma rows), and a delta per sample.
struct Residuals {
    uint32_t Plane, Row;
    std::vector<int> Deltas;
};

// Codes 0: 0, 10: +1, 110: -1, 1110: +16. Each ends in a zero, so no run of
// deltas can look like a sync.
std::vector<uint8_t> CodeTable()
{
    return {3, 0, 0x00, 0, 0, 1, 0x80, 0, 1, 2, 0xC0, 0, 0xFF, 3, 0xE0, 0, 16};
}

// A residual stream: per row a sync, the header, the codes, zeros to the
// next byte; then the sync whose row is the level's height.
std::vector<uint8_t> Stream(const std::vector<Residuals>& rows, uint32_t height)
{
    std::vector<uint8_t> out;
    uint32_t acc = 0;
    int held = 0;
    auto put = [&](uint32_t bits, int count) {
        for (int i = count - 1; i >= 0; --i) {
            acc = (acc << 1) | ((bits >> i) & 1);
            if (++held == 8)
                out.push_back(uint8_t(acc)), acc = 0, held = 0;
        }
    };
    auto sync = [&](uint32_t plane, uint32_t row) {
        while (held != 0)
            put(0, 1);
        put(0xFFFFFE, 24), put((plane << 14) | (row << 1), 16);
    };
    for (const Residuals& r : rows) {
        sync(r.Plane, r.Row);
        for (const int d : r.Deltas)
            d == 0 ? put(0, 1) : d == 1 ? put(2, 2) : d == -1 ? put(6, 3) : put(14, 4);
    }
    sync(0, height);
    return out;
}

// pack (its first 385 sectors) with a 4Base level and, with rows16, a 16Base
// level. The 4Base streams here end in sector 389, so the 16Base tables are
// at sector 402 and its data at 404.
constexpr size_t k16BaseTables = 402 * kSector, k16BaseData = 404 * kSector;
std::vector<uint8_t> WithResiduals(std::vector<uint8_t> pack, const std::vector<Residuals>& rows4,
                                   const std::vector<Residuals>* rows16 = nullptr)
{
    auto at = [&](size_t offset, const std::vector<uint8_t>& bytes) {
        pack.resize(offset);
        pack.insert(pack.end(), bytes.begin(), bytes.end());
    };
    at(388 * kSector, CodeTable());
    at(389 * kSector, Stream(rows4, 1024));
    EXPECT_LT(pack.size(), 390 * kSector);
    if (rows16) {
        at(k16BaseTables, Concat({CodeTable(), CodeTable(), CodeTable()}));
        at(k16BaseData, Stream(*rows16, 2048));
    }
    pack.resize((pack.size() + kSector - 1) / kSector * kSector);
    return pack;
}

// A pack of 385 sectors whose Base level is luma 0 with neutral chroma.
std::vector<uint8_t> BlackPack(uint8_t orientation)
{
    std::vector<uint8_t> pack(385 * kSector);
    std::memcpy(pack.data() + kSector, "PCD_IPI", 7);
    pack[0x0E02] = orientation;
    for (size_t pair = 0; pair < 256; ++pair) {
        uint8_t* rows = pack.data() + 96 * kSector + pair * 2304;
        std::fill(rows + 1536, rows + 1920, 156);
        std::fill(rows + 1920, rows + 2304, 137);
    }
    return pack;
}

// A delta pattern with every code in it.
std::vector<int> Pattern(uint32_t seed, size_t width)
{
    std::vector<int> d(width);
    for (size_t x = 0; x < width; ++x)
        d[x] = (x + seed) % 7 == 0 ? 16 : x % 5 == 0 ? -1 : x % 3 == 0 ? 1 : 0;
    return d;
}

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

TEST_F(PcdTest, ResidualLevelsMatchImageMagick)
{
    // ImageMagick reads the levels as pictures 4 and 5 of the pack, turned as
    // the pack says (this one left). It refuses 16Base chroma rows, so the
    // 16Base pack here has luma rows only (chroma rows: next test).
    const std::vector<uint8_t> portrait = ReadFileBytes(DataDir() / "pcd" / "gen__pcd_portrait.pcd");
    std::vector<Residuals> rows4, rows16;
    for (const uint32_t row : {0u, 1u, 2u, 300u, 1023u})
        rows4.push_back({0, row, Pattern(row, 1536)});
    for (const uint32_t row : {0u, 1u, 1000u, 2047u})
        rows16.push_back({0, row, Pattern(row, 3072)});
    TempDir dir;
    for (const bool sixteen : {false, true}) {
        SCOPED_TRACE(sixteen ? "16Base" : "4Base");
        const auto bytes = WithResiduals(portrait, rows4, sixteen ? &rows16 : nullptr);
        const auto path = dir.Path() / "levels.pcd";
        WriteFileBytes(path, bytes);
        TBitmap32 ours;
        DecodeBytes("pcd", bytes, ours);
        EXPECT_EQ(ours.Width(), sixteen ? 2048 : 1024);
        const MagickPicture theirs =
            ToolDecode(std::string("/usr/bin/convert %IN%") + (sixteen ? "'[5]'" : "'[4]'") + " %OUT%", path);
        const int diff = MaxChannelDifference(ours, theirs, true);
        EXPECT_GE(diff, 0);
        EXPECT_LE(diff, 1) << FirstDifference(ours, theirs, true);
    }
}

TEST_F(PcdTest, ResidualsLandOnKnownPixelsAndDamageFallsBackALevel)
{
    // Black Base. 4Base row 3: +1, +16, -1 (held at 0), then row 3 again +1.
    // 16Base: luma row 1000 +16 at 5 and +1 at 6; C2 row 1000 (chroma row
    // 500) +16 at 10, C1 row 1001 (also chroma row 500) +16 at 11.
    std::vector<int> row3(1536, 0), again(1536, 0), luma(3072, 0), c2(1536, 0), c1(1536, 0);
    row3[0] = 1, row3[1] = 16, row3[2] = -1, again[0] = 1;
    luma[5] = 16, luma[6] = 1, c2[10] = 16, c1[11] = 16;
    const std::vector<Residuals> rows4 = {{0, 3, row3}, {0, 3, again}};
    const std::vector<Residuals> rows16 = {{0, 1000, luma}, {3, 1000, c2}, {2, 1001, c1}};
    const auto good = WithResiduals(BlackPack(0), rows4, &rows16);

    TBitmap32 out;
    DecodeBytes("pcd", good, out);
    ASSERT_EQ(out.Width(), 3072);
    ASSERT_EQ(out.Height(), 2048);
    // The 4Base row, doubled: stored samples at even places.
    EXPECT_EQ(out.Pixel(0, 6), Color32(2, 2, 2));
    EXPECT_EQ(out.Pixel(2, 6), Color32(16, 16, 16));
    EXPECT_EQ(out.Pixel(4, 6), Color32(0, 0, 0));
    EXPECT_EQ(out.Pixel(5, 1000), Color32(16, 16, 16));
    EXPECT_EQ(out.Pixel(6, 1000), Color32(1, 1, 1));
    EXPECT_EQ(out.Pixel(20, 1000), Color32(21, 0, 0));
    EXPECT_EQ(out.Pixel(22, 1000), Color32(0, 0, 26));
    EXPECT_EQ(out.Pixel(8, 1000), Color32(0, 0, 0));

    // Turned right: stored (x, y) lands at (height - 1 - y, x).
    auto turned = good;
    turned[0x0E02] = 3;
    DecodeBytes("pcd", turned, out);
    ASSERT_EQ(out.Width(), 2048);
    EXPECT_EQ(out.Pixel(2047 - 1000, 20), Color32(21, 0, 0));

    // A level whose tables or stream are damaged is left out whole.
    auto level = [&](std::vector<uint8_t> bytes) {
        TBitmap32 picture;
        DecodeBytes("pcd", bytes, picture);
        return std::to_string(picture.Width()) + "x" + std::to_string(picture.Height());
    };
    auto changed = [&](size_t offset, uint8_t value) {
        auto b = good;
        b[offset] = value;
        return b;
    };
    EXPECT_EQ(level(changed(k16BaseTables + 1, 16)), "1536x1024");        // a code of 17 bits
    EXPECT_EQ(level(changed(k16BaseTables + 1 + 4 + 1, 0)), "1536x1024"); // two codes "0"
    EXPECT_EQ(level(changed(k16BaseTables + 1 + 4, 0)), "1536x1024");     // "0" and "1" too many
    EXPECT_EQ(level(changed(k16BaseData + 3, 0x40)), "1536x1024");        // plane 1
    EXPECT_EQ(level(std::vector<uint8_t>(good.begin(), good.begin() + k16BaseData + 200)), "1536x1024");
    EXPECT_EQ(level(changed(389 * kSector + 5, 0xFF)), "768x512");        // "1111": no such code
    EXPECT_EQ(level(changed(389 * kSector + 3, 0x0F)), "768x512");        // row 1923 of 1024
    EXPECT_EQ(level(std::vector<uint8_t>(good.begin(), good.begin() + 388 * kSector + 3)), "768x512");
    // Rows listed with no end sync before the file ends are not a level.
    auto noEnd = WithResiduals(BlackPack(0), rows4);
    noEnd.resize(389 * kSector + 200);
    EXPECT_EQ(level(noEnd), "768x512");
}

TEST_F(PcdTest, RefusalsAndDamage)
{
    std::vector<uint8_t> bytes = ReadFileBytes(DataDir() / "pcd" / "gen__pcd_portrait.pcd");
    EXPECT_EQ(DecodeFailure("pcd", std::vector<uint8_t>(bytes.begin(), bytes.begin() + 700000)),
              "Stream read error in PCD file.");
    bytes[0x800 + 4] = 'O'; // an overview pack, "PCD_OPA"
    EXPECT_EQ(DecodeFailure("pcd", bytes), "Cannot load image. Invalid or unexpected PCD image format.");
    // The first sector is never read: cut the packs, and flip the bytes that
    // are read: signature, orientation, and the residual levels' tables, row
    // headers and first codes.
    SweepFixtures(Fixtures("pcd", {"pcd"}), 0);
    const auto residual = ReadFileBytes(DataDir() / "pcd" / "hand__pcd_16base_residuals.pcd");
    for (const size_t start : {size_t(0x800), size_t(0xE02), 388 * kSector, 389 * kSector, k16BaseTables,
                               k16BaseTables + 17, k16BaseData}) {
        std::vector<uint8_t> flipped = residual;
        for (size_t i = start; i < start + 4; ++i)
            for (const uint8_t mask : {uint8_t(0xFF), uint8_t(0x01)}) {
                flipped[i] ^= mask;
                try {
                    TBitmap32 out;
                    DecodeBytes("pcd", flipped, out);
                } catch (const Exception&) {
                }
                flipped[i] ^= mask;
            }
    }
}

} // namespace
} // namespace palvex::test
