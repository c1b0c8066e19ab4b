#include "platform/CommandLine.h"
#include "platform/Files.h"

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

TEST(Files, WildcardIgnoresCase)
{
    EXPECT_TRUE(MatchesWildcard("PHOTO.JPG", "*.jpg"));
    EXPECT_TRUE(MatchesWildcard("a.jpg", "*.jpg"));
    EXPECT_FALSE(MatchesWildcard("a.jpeg", "*.jpg"));
    EXPECT_FALSE(MatchesWildcard("a.jpg.png", "*.jpg"));
    EXPECT_TRUE(MatchesWildcard("čaj.jpg", "Č?J.*"));
}

} // namespace
} // namespace palvex
