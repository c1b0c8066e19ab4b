// The platform's text-to-integer conversion: leading blanks, an optional sign,
// then decimal digits or hexadecimal digits after "$", "x" or "0x".
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace palvex {

// The value of text, or nothing when it does not convert or leaves the 32-bit range.
std::optional<int32_t> TryStrToInt(std::string_view text);

// As TryStrToInt, but raises EConvertError "'%s' is not a valid integer value".
int32_t StrToInt(std::string_view text);

// 0 to 15 for 0-9, a-f and A-F; -1 for anything else.
int HexDigitValue(char c);

} // namespace palvex
