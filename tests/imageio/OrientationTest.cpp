// EXIF orientation: the tag read from hostile bytes, and rows turned upright
// on the row road, against the EXIF table, read through rings and whole.
#include <cstring>
#include <functional>

#include "TestMain.h"
#include "imageio/Exif.h"
#include "imageio/Orientation.h"
#include "imageio/PictureReader.h"

namespace palvex::test {
namespace {

using Bytes = std::vector<uint8_t>;

// A TIFF structure whose first IFD holds one entry.
Bytes Tiff(bool bigEndian, uint16_t tag, uint16_t type, uint32_t count, uint32_t value)
{
    Bytes b;
    auto u16 = [&](uint16_t v) {
        b.push_back(uint8_t(bigEndian ? v >> 8 : v));
        b.push_back(uint8_t(bigEndian ? v : v >> 8));
    };
    auto u32 = [&](uint32_t v) { bigEndian ? (u16(uint16_t(v >> 16)), u16(uint16_t(v))) : (u16(uint16_t(v)), u16(uint16_t(v >> 16))); };
    b.push_back(bigEndian ? 'M' : 'I');
    b.push_back(bigEndian ? 'M' : 'I');
    u16(42);
    u32(8);
    u16(1);
    u16(tag);
    u16(type);
    u32(count);
    if (type == 3)
        u16(uint16_t(value)), u16(0);
    else
        u32(value);
    u32(0);
    return b;
}

TEST(Exif, OrientationIsReadOnlyFromAWellFormedTag)
{
    EXPECT_EQ(ExifOrientation(Tiff(false, 274, 3, 1, 6)), 6);
    EXPECT_EQ(ExifOrientation(Tiff(true, 274, 3, 1, 8)), 8);
    EXPECT_EQ(ExifOrientation(Tiff(true, 274, 4, 1, 3)), 3);
    EXPECT_EQ(ExifOrientation(Tiff(false, 274, 3, 1, 9)), 1); // no such orientation
    EXPECT_EQ(ExifOrientation(Tiff(false, 274, 3, 2, 6)), 1); // two values
    EXPECT_EQ(ExifOrientation(Tiff(false, 275, 3, 1, 6)), 1); // another tag
    Bytes cut = Tiff(false, 274, 3, 1, 6);
    cut.resize(cut.size() - 10); // the entry runs past the end
    EXPECT_EQ(ExifOrientation(cut), 1);
    Bytes far = Tiff(false, 274, 3, 1, 6);
    far[4] = 0xF0; // the IFD lies beyond the bytes
    EXPECT_EQ(ExifOrientation(far), 1);
    Bytes many = Tiff(true, 275, 3, 1, 6);
    many[8] = 0xFF; // 65000 entries claimed, one there
    EXPECT_EQ(ExifOrientation(many), 1);
    Bytes app1 = {'E', 'x', 'i', 'f', 0, 0};
    const Bytes tiff = Tiff(true, 274, 3, 1, 5);
    app1.insert(app1.end(), tiff.begin(), tiff.end());
    EXPECT_EQ(ExifOrientationOfApp1(app1), 5);
    EXPECT_EQ(ExifOrientationOfApp1(tiff), 1);
}

// Every stored pixel tells where it stood: x in the low half, y in the high.
TColor32 Stored(int32_t x, int32_t y)
{
    return 0xFF000000u | uint32_t(x) | (uint32_t(y) << 12);
}

class TFakeReader final : public TPictureReader {
public:
    TFakeReader(int32_t width, int32_t height, bool whole)
    {
        SetPicture(width, height, false, whole ? TFill::Whole : TFill::Rows);
    }

private:
    void ReadRow(int32_t y, TColor32* out) override
    {
        for (int32_t x = 0; x < Width(); ++x)
            out[x] = Stored(x, y);
    }
    void ReadWhole(TBitmap32& picture) override
    {
        for (int32_t y = 0; y < Height(); ++y)
            ReadRow(y, picture.RowAddress(y));
    }
};

// The stored pixel that upright pixel (X, Y) shows, from the EXIF table.
TColor32 Expected(uint16_t o, int32_t X, int32_t Y, int32_t w, int32_t h)
{
    switch (o) {
    case 2: return Stored(w - 1 - X, Y);
    case 3: return Stored(w - 1 - X, h - 1 - Y);
    case 4: return Stored(X, h - 1 - Y);
    case 5: return Stored(Y, X);
    case 6: return Stored(Y, h - 1 - X);
    case 7: return Stored(w - 1 - Y, h - 1 - X);
    default: return Stored(w - 1 - Y, X); // 8
    }
}

TEST(OrientedRows, EveryOrientationThroughRingsAndWholeFollowsTheTable)
{
    // Wider than a band of turned rows, odd sizes.
    const int32_t w = 37, h = 19;
    for (uint16_t o = 2; o <= 8; ++o) {
        for (bool whole : {false, true}) {
            for (int32_t keep : {1, 5}) {
                SCOPED_TRACE(testing::Message() << "orientation " << o << " whole " << whole << " keep " << keep);
                TFakeReader reader(w, h, whole);
                TOrientedRows rows(reader, o);
                ASSERT_EQ(rows.Width(), o >= 5 ? h : w);
                ASSERT_EQ(rows.Height(), o >= 5 ? w : h);
                rows.KeepRows(keep);
                for (int32_t y = 0; y < rows.Height(); ++y) {
                    const TColor32* row = rows.Row(y);
                    for (int32_t x = 0; x < rows.Width(); ++x)
                        ASSERT_EQ(row[x], Expected(o, x, y, w, h)) << x << "," << y;
                    // The rows kept are still there, unchanged.
                    for (int32_t k = std::max(0, y - keep + 1); k <= y; ++k) {
                        const TColor32* kept = rows.RowIfReady(k);
                        ASSERT_NE(kept, nullptr) << k;
                        ASSERT_EQ(kept[0], Expected(o, 0, k, w, h));
                    }
                }
                rows.Finish();
                EXPECT_EQ(rows.RowIfReady(0), nullptr);
                EXPECT_THROW(rows.Row(0), std::logic_error);

                TFakeReader again(w, h, whole);
                TOrientedRows all(again, o);
                TBitmap32 picture;
                all.ReadAll(picture);
                ASSERT_EQ(picture.Width(), rows.Width());
                for (int32_t y = 0; y < picture.Height(); ++y)
                    for (int32_t x = 0; x < picture.Width(); ++x)
                        ASSERT_EQ(picture.Pixel(x, y), Expected(o, x, y, w, h));
            }
        }
    }
}

} // namespace
} // namespace palvex::test
