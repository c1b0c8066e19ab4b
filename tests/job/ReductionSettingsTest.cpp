#include "job/OutputNaming.h"
#include "job/Presets.h"
#include "job/ReductionSettings.h"
#include "platform/Errors.h"

#include "TestMain.h"

namespace palvex {
namespace {

ReductionSettings WithPreset(const char* name)
{
    ReductionSettings s;
    ApplyPreset(*FindPreset(name), s);
    return s;
}

TEST(ComputeTargetSize, WorkedTable)
{
    EXPECT_EQ(ComputeTargetSize(3000, 2000, WithPreset("opt1")), (TargetSize{800, 533}));
    EXPECT_EQ(ComputeTargetSize(2000, 3000, WithPreset("opt1")), (TargetSize{400, 600}));
    EXPECT_EQ(ComputeTargetSize(400, 300, WithPreset("opt1")), (TargetSize{800, 600}));
    EXPECT_EQ(ComputeTargetSize(3000, 2000, WithPreset("opt9")), (TargetSize{1536, 1024}));
    EXPECT_EQ(ComputeTargetSize(2000, 3000, WithPreset("opt9")), (TargetSize{1024, 1536}));
    ReductionSettings s;
    s.SetScalePercent(50);
    EXPECT_EQ(ComputeTargetSize(5, 7, s), (TargetSize{2, 4}));
    s.SetScalePercent(1);
    EXPECT_EQ(ComputeTargetSize(40, 30, s), (TargetSize{0, 0}));
    EXPECT_EQ(ComputeTargetSize(0, 0, ReductionSettings{}), (TargetSize{1, 1}));
}

TEST(ComputeTargetSize, EdgeCases)
{
    ReductionSettings s;
    EXPECT_EQ(ComputeTargetSize(12000, 50, s), (TargetSize{10000, 50}));
    s.KeepAspectRatio = true;
    s.MinWidth = "20";
    s.MaxWidth = "50";
    s.MaxHeight = "50";
    EXPECT_EQ(ComputeTargetSize(100, 1000, s), (TargetSize{5, 50}));
    s.MinWidth = "abc";
    EXPECT_THROW_MSG(ComputeTargetSize(10, 10, s), EConvertError, "'abc' is not a valid integer value");
    s.MinWidth = "";
    EXPECT_THROW_MSG(ComputeTargetSize(10, 10, s), EConvertError, "'' is not a valid integer value");
}

TEST(ReductionSettings, ClampingAndFilters)
{
    ReductionSettings s;
    s.SetQuality(0);
    EXPECT_EQ(s.Quality(), 1);
    s.SetQuality(150);
    EXPECT_EQ(s.Quality(), 100);
    s.SetScalePercent(5000);
    EXPECT_EQ(s.ScalePercent(), 1000);
    s.SetFilterIndex(7);
    EXPECT_EQ(s.FilterIndex(), -1);
    EXPECT_EQ(FilterForIndex(-1), sfLinear);
    EXPECT_EQ(FilterForIndex(1), sfDraft);
    EXPECT_EQ(FilterForIndex(2), sfLinear);
    EXPECT_EQ(FilterForIndex(4), sfSpline);
    EXPECT_EQ(Presets().size(), 15u);
}

TEST(OutputNaming, Names)
{
    EXPECT_EQ(ParameterSuffix(800, 533, 50), "_800x533_50q");
    EXPECT_EQ(BaseName("/img/photo.final.png", false, 1), "photo.final");
    EXPECT_EQ(BaseName("/img/noext", false, 1), "noext");
    EXPECT_EQ(BaseName("/img/.hidden", false, 1), "");
    EXPECT_EQ(BaseName("/img/a.jpg", true, 3), "00000003");
    EXPECT_EQ(CandidateName("IMG_0001", 3), "IMG_0001(3)");
}

} // namespace
} // namespace palvex
