#include "framework/ErrorReport.h"

#include <gtest/gtest.h>

#include <utility>

using namespace palvex;

TEST(ErrorReport, FullStopOnlyAfterCharactersAboveTheFullStop)
{
    const std::pair<const char*, const char*> cases[] = {
        {"Stream read error", "Stream read error."},
        {"Done.", "Done."},
        {"Stop!", "Stop!"},
        {"Unknown picture file extension (.txt)", "Unknown picture file extension (.txt)"},
        {"'' is not a valid integer value", "'' is not a valid integer value."},
        {"size 0", "size 0."},
        {"", ""},
        {"a-", "a-"},
    };
    for (const auto& [message, report] : cases)
        EXPECT_EQ(FormatErrorReport(message), report) << '"' << message << '"';
}
