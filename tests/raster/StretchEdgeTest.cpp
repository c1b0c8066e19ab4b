// The worked cases of the resampler: weight lists, messages, averages, edges.
#include "TestMain.h"
#include "platform/Errors.h"
#include "raster/Stretch.h"
#include "raster/StretchInternals.h"

using namespace palvex;

TEST(StretchEdge, ChecksAndMessages)
{
    TBitmap32 src, dst, empty;
    src.SetSize(4, 4);
    dst.SetSize(4, 4);
    EXPECT_THROW_MSG(StretchCopy(&dst, dst.FullRect(), dst.FullRect(), nullptr, src.FullRect(), sfNearest, dmOpaque, {}),
                     ETransformError, "Source bitmap is nil or empty");
    EXPECT_THROW_MSG(StretchCopy(&empty, dst.FullRect(), dst.FullRect(), &src, src.FullRect(), sfNearest, dmOpaque, {}),
                     ETransformError, "Destination bitmap is nil or empty");
    EXPECT_THROW_MSG(StretchCopy(&dst, dst.FullRect(), dst.FullRect(), &src, TRect{0, 0, 5, 4}, sfNearest, dmOpaque, {}),
                     ETransformError, "Source rectangle is invalid");
    EXPECT_NO_THROW(StretchCopy(&dst, dst.FullRect(), dst.FullRect(), &empty, TRect{0, 0, 5, 4}, sfNearest, dmOpaque, {}));
}

TEST(StretchEdge, WorkedWeightLists)
{
    const auto lists = BuildContributions(0, 4, 0, 4, 0, 10, sfLinear);
    ASSERT_EQ(lists.size(), 4u);
    EXPECT_EQ(lists[0], (TContributionList{{0, 31}, {0, 72}, {1, 92}, {2, 51}, {3, 10}}));
    EXPECT_EQ(lists[1], (TContributionList{{1, 10}, {2, 51}, {3, 92}, {4, 72}, {5, 31}}));
    EXPECT_EQ(lists[2], (TContributionList{{4, 31}, {5, 72}, {6, 92}, {7, 51}, {8, 10}}));
    EXPECT_EQ(lists[3], (TContributionList{{6, 10}, {7, 51}, {8, 92}, {9, 72}, {9, 31}}));
    EXPECT_EQ(BuildContributions(0, 10, 4, 5, 0, 10, sfSpline)[0], (TContributionList{{3, 43}, {4, 170}, {5, 43}}));
    EXPECT_EQ(BuildContributions(0, 10, 4, 5, 0, 10, sfMitchell)[0], (TContributionList{{3, 14}, {4, 228}, {5, 14}}));
    for (TStretchFilter f : {sfLinear, sfCosine, sfLanczos})
        EXPECT_EQ(BuildContributions(0, 10, 4, 5, 0, 10, f)[0], (TContributionList{{4, 256}}));
}

TEST(StretchEdge, AveragesAndBilinear)
{
    const uint64_t white3[4] = {765, 765, 765, 765};
    EXPECT_EQ(AverageOfSums(white3, 3), 0xFEFEFEFEu);
    const uint64_t big[4] = {255ull * 25000000, 255ull * 25000000, 255ull * 25000000, 255ull * 25000000};
    EXPECT_EQ(AverageOfSums(big, 25000000), 0xFEFEFEFEu); // not 0, as 2^24 div count would give
    EXPECT_EQ(CombineWeighted(0xFFFFFFFF, 0xFFFFFFFF, 192), 0xFEFEFEFEu);
    EXPECT_EQ(BilinearSampleMMX(192, 64, ~0u, ~0u, ~0u, ~0u), ~0u);
    const auto t = BuildBilinearTable(0, 0, 4, 0, 2, 4, 2);
    ASSERT_EQ(t.size(), 4u);
    EXPECT_EQ(t[0].Weight, 256);
    EXPECT_EQ(t[1].Weight, 192);
    EXPECT_EQ(t[2].Weight, 64);
    EXPECT_EQ(t[3].Index0, 0);
    EXPECT_EQ(t[3].Weight, 0);
    // One source column: both samples from it, never outside.
    for (const auto& e : BuildBilinearTable(0, 0, 5, 3, 4, 5, 4))
        EXPECT_TRUE(e.Index0 == 3 && e.Index1 == 3);
}

TEST(StretchEdge, LargeAndTinySizes)
{
    TBitmap32 src, dst;
    src.SetSize(70000, 1);
    src.FillAll(0xFFFFFFFF);
    for (int f = sfNearest; f <= sfMitchell; ++f) {
        dst.SetSize(3, 1);
        StretchCopy(&dst, dst.FullRect(), dst.FullRect(), &src, src.FullRect(), TStretchFilter(f), dmOpaque, {});
        dst.SetSize(1, 1);
        StretchCopy(&dst, dst.FullRect(), dst.FullRect(), &src, src.FullRect(), TStretchFilter(f), dmOpaque, {});
        dst.SetSize(70001, 2);
        StretchCopy(&dst, dst.FullRect(), dst.FullRect(), &src, src.FullRect(), TStretchFilter(f), dmOpaque, {});
    }
}
