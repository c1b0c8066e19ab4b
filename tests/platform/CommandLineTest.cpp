#include "platform/CommandLine.h"

#include "TestMain.h"

namespace palvex {
namespace {

TEST(SplitCommandLine, QuotingRule)
{
    using V = std::vector<std::string>;
    EXPECT_EQ(SplitCommandLine("prog.exe  \"C:\\my pics\\a.png\"\t/width=800"),
              (V{"prog.exe", "C:\\my pics\\a.png", "/width=800"}));
    EXPECT_EQ(SplitCommandLine("a\"b c\"d \"\" e"), (V{"ab cd", "", "e"}));
    EXPECT_EQ(SplitCommandLine("   "), V{});
    EXPECT_EQ(SplitCommandLine("x \"open"), (V{"x", "open"}));
}

} // namespace
} // namespace palvex
