// The preview rectangle: fitted, proportions kept, centred, with the scale
// factors held as 32-bit floats and ties rounded to even.
#include "TestMain.h"
#include "raster/PreviewRect.h"

using namespace palvex;

namespace {
bool Same(const TRect& a, const TRect& b)
{
    return a.Left == b.Left && a.Top == b.Top && a.Right == b.Right && a.Bottom == b.Bottom;
}
} // namespace

#define EXPECT_RECT(actual, l, t, r, b) EXPECT_TRUE(Same(actual, (TRect{l, t, r, b}))) \
    << (actual).Left << "," << (actual).Top << "," << (actual).Right << "," << (actual).Bottom

TEST(PreviewRect, FitsKeepsProportionsAndCentres)
{
    // Wide picture, square control: sx 0.625 < sy 0.8333: full width, 300 high.
    EXPECT_RECT(PreviewRect(640, 480, 400, 400), 0, 50, 400, 350);
    // Tall picture: sx 0.8333 >= sy 0.625: 480 x 0.625 = 300 wide, full height.
    EXPECT_RECT(PreviewRect(480, 640, 400, 400), 50, 0, 350, 400);
    // Small pictures are enlarged to fit as well.
    EXPECT_RECT(PreviewRect(100, 50, 300, 300), 0, 75, 300, 225);
    // Equal scales take the first branch and fill the control.
    EXPECT_RECT(PreviewRect(200, 100, 400, 200), 0, 0, 400, 200);
    // An odd remainder is halved toward zero: (101 - 50) div 2 = 25.
    EXPECT_RECT(PreviewRect(50, 50, 101, 50), 25, 0, 75, 50);
}

TEST(PreviewRect, RoundsTiesToEvenAfterFloatScales)
{
    // sy = 0.5: 5 x 0.5 = 2.5 rounds to 2, 7 x 0.5 = 3.5 to 4.
    EXPECT_RECT(PreviewRect(5, 2, 5, 1), 1, 0, 3, 1);
    EXPECT_RECT(PreviewRect(7, 2, 7, 1), 1, 0, 5, 1);
    // The other axis: 5 x 0.5 = 2.5 high becomes 2.
    EXPECT_RECT(PreviewRect(2, 5, 1, 5), 0, 1, 1, 3);
    // 3 x 700 / 24 is exactly 87.5 (88 by ties to even), but sy as a 32-bit
    // float is 29.166666 and 3 x sy = 87.49999..., so the width is 87.
    EXPECT_RECT(PreviewRect(3, 24, 1000, 700), 456, 0, 543, 700);
    EXPECT_RECT(PreviewRect(7, 28, 333, 222), 139, 0, 194, 222);
}

TEST(PreviewRect, EmptyPictureOrControlGivesAnEmptyRectangle)
{
    EXPECT_RECT(PreviewRect(0, 10, 100, 100), 0, 0, 0, 0);
    EXPECT_RECT(PreviewRect(10, 0, 100, 100), 0, 0, 0, 0);
    EXPECT_RECT(PreviewRect(10, 10, 0, 100), 0, 0, 0, 0);
    EXPECT_RECT(PreviewRect(10, 10, 100, -3), 0, 0, 0, 0);
    // Extreme proportions still stay inside the control.
    const TRect thin = PreviewRect(65535, 1, 7, 5000);
    EXPECT_RECT(thin, 0, 2500, 7, 2500);
    const TRect huge = PreviewRect(1, 1, 2147483647, 3);
    EXPECT_LE(huge.Right, 2147483647);
    EXPECT_EQ(huge.Width(), 3);
}
