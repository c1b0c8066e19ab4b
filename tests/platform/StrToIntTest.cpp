#include "platform/StrToInt.h"

#include "platform/Errors.h"
#include "TestMain.h"

#include <utility>

using namespace palvex;

TEST(StrToInt, DecimalAndHexadecimalWithBlanksSignsAndPrefixes)
{
    const std::pair<const char*, int32_t> cases[] = {
        {"0", 0},      {"1024", 1024}, {"   640", 640}, {"+7", 7},     {"-15", -15},  {"  -0", 0},
        {"007", 7},    {"$ff", 255},   {"$FF", 255},    {"x1A", 26},   {"X1a", 26},   {"0x10", 16},
        {"0X10", 16},  {" -$10", -16},
    };
    for (const auto& [text, value] : cases)
        EXPECT_EQ(StrToInt(text), value) << '"' << text << '"';
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
