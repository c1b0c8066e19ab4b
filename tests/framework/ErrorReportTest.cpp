#include "framework/ErrorReport.h"

#include <gtest/gtest.h>

using namespace palvex;

TEST(ErrorReport, FullStopOnlyAfterCharactersAboveTheFullStop)
{
    EXPECT_EQ(FormatErrorReport("Stream read error"), "Stream read error.");
    EXPECT_EQ(FormatErrorReport("Done."), "Done.");
    EXPECT_EQ(FormatErrorReport("Stop!"), "Stop!");
    EXPECT_EQ(FormatErrorReport("Unknown picture file extension (.txt)"), "Unknown picture file extension (.txt)");
    EXPECT_EQ(FormatErrorReport("'' is not a valid integer value"), "'' is not a valid integer value.");
    EXPECT_EQ(FormatErrorReport("size 0"), "size 0.");
    EXPECT_EQ(FormatErrorReport(""), "");
    EXPECT_EQ(FormatErrorReport("a-"), "a-");
}
