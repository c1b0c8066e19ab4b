// The framework's upper-case conversion: a-z and the Czech lower-case letters
// of code page 1250 become capitals; every other character stays.
#pragma once

#include <string>
#include <string_view>

namespace palvex {

// UTF-8 in, UTF-8 out.
std::string UpperCase(std::string_view text);

} // namespace palvex
