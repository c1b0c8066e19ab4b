#include "platform/StrToInt.h"

#include "platform/Errors.h"
#include "TestMain.h"

using namespace palvex;

TEST(StrToInt, DecimalWithBlanksAndSign)
{
    EXPECT_EQ(StrToInt("0"), 0);
    EXPECT_EQ(StrToInt("1024"), 1024);
    EXPECT_EQ(StrToInt("   640"), 640);
    EXPECT_EQ(StrToInt("+7"), 7);
    EXPECT_EQ(StrToInt("-15"), -15);
    EXPECT_EQ(StrToInt("  -0"), 0);
    EXPECT_EQ(StrToInt("007"), 7);
}

TEST(StrToInt, HexadecimalPrefixesInEitherCase)
{
    EXPECT_EQ(StrToInt("$ff"), 255);
    EXPECT_EQ(StrToInt("$FF"), 255);
    EXPECT_EQ(StrToInt("x1A"), 26);
    EXPECT_EQ(StrToInt("X1a"), 26);
    EXPECT_EQ(StrToInt("0x10"), 16);
    EXPECT_EQ(StrToInt("0X10"), 16);
    EXPECT_EQ(StrToInt(" -$10"), -16);
    EXPECT_EQ(StrToInt("0"), 0);
}

TEST(StrToInt, ThirtyTwoBitRange)
{
    EXPECT_EQ(StrToInt("2147483647"), INT32_MAX);
    EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
    EXPECT_EQ(StrToInt("$7FFFFFFF"), INT32_MAX);
    EXPECT_EQ(StrToInt("-$80000000"), INT32_MIN);
    EXPECT_FALSE(TryStrToInt("2147483648"));
    EXPECT_FALSE(TryStrToInt("-2147483649"));
    EXPECT_FALSE(TryStrToInt("$80000000"));
    EXPECT_FALSE(TryStrToInt("99999999999999999999999"));
}

TEST(StrToInt, RejectsAnythingElse)
{
    for (const char* text : {"", " ", "-", "+", "$", "x", "0x", "12 ", "1.5", "12a", "a12", "--1",
                             "+-1", "$-1", "$ 1", "0x$1", "\t5", "1e3"})
        EXPECT_FALSE(TryStrToInt(text)) << '"' << text << '"';
    EXPECT_THROW_MSG(StrToInt("abc"), EConvertError, "'abc' is not a valid integer value");
    EXPECT_THROW_MSG(StrToInt(""), EConvertError, "'' is not a valid integer value");
    EXPECT_THROW_MSG(StrToInt(" 12 "), EConvertError, "' 12 ' is not a valid integer value");
}
