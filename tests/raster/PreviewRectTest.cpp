// The preview rectangle: fitted, proportions kept, centred, with the scale
// factors held as 32-bit floats and ties rounded to even.
#include "TestMain.h"
#include "raster/PreviewRect.h"

#include <initializer_list>

using namespace palvex;

namespace {

struct TCase {
    int32_t PictureWidth, PictureHeight, ControlWidth, ControlHeight;
    TRect Expected;
    const char* Why;
};

void ExpectRects(std::initializer_list<TCase> cases)
{
    for (const TCase& c : cases) {
        const TRect r = PreviewRect(c.PictureWidth, c.PictureHeight, c.ControlWidth, c.ControlHeight);
        EXPECT_TRUE(r.Left == c.Expected.Left && r.Top == c.Expected.Top && r.Right == c.Expected.Right &&
                    r.Bottom == c.Expected.Bottom)
            << c.Why << ": " << r.Left << "," << r.Top << "," << r.Right << "," << r.Bottom;
    }
}

} // namespace

TEST(PreviewRect, FitsCentresRoundsTiesToEvenAndStaysInside)
{
    ExpectRects({
        {640, 480, 400, 400, {0, 50, 400, 350}, "wide picture, square control: sx 0.625 < sy 0.8333, full width"},
        {480, 640, 400, 400, {50, 0, 350, 400}, "tall picture: 480 x 0.625 = 300 wide, full height"},
        {100, 50, 300, 300, {0, 75, 300, 225}, "small pictures are enlarged to fit as well"},
        {200, 100, 400, 200, {0, 0, 400, 200}, "equal scales take the first branch and fill the control"},
        {50, 50, 101, 50, {25, 0, 75, 50}, "an odd remainder is halved toward zero: (101 - 50) div 2 = 25"},
        {5, 2, 5, 1, {1, 0, 3, 1}, "sy = 0.5: 5 x 0.5 = 2.5 rounds to 2"},
        {7, 2, 7, 1, {1, 0, 5, 1}, "7 x 0.5 = 3.5 rounds to 4"},
        {2, 5, 1, 5, {0, 1, 1, 3}, "the other axis: 5 x 0.5 = 2.5 high becomes 2"},
        // 3 x 700 / 24 is exactly 87.5 (88 by ties to even), but sy as a
        // 32-bit float is 29.166666 and 3 x sy = 87.49999...
        {3, 24, 1000, 700, {456, 0, 543, 700}, "the width is 87"},
        {7, 28, 333, 222, {139, 0, 194, 222}, "7 x 222 / 28 as a float scale"},
        {0, 10, 100, 100, {0, 0, 0, 0}, "no picture width"},
        {10, 0, 100, 100, {0, 0, 0, 0}, "no picture height"},
        {10, 10, 0, 100, {0, 0, 0, 0}, "no control width"},
        {10, 10, 100, -3, {0, 0, 0, 0}, "a negative control height"},
        {65535, 1, 7, 5000, {0, 2500, 7, 2500}, "extreme proportions still stay inside the control"},
    });
    const TRect huge = PreviewRect(1, 1, 2147483647, 3);
    EXPECT_LE(huge.Right, 2147483647);
    EXPECT_EQ(huge.Width(), 3);
}
