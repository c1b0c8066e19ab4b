// Cutting a text at a separator, for the line-based files the platform reads
// (the settings store, os-release) and the "\"-separated key paths.
#pragma once

#include <string_view>
#include <vector>

namespace palvex {

// The pieces between the separators, empty ones kept: n separators give n + 1
// pieces, so "" gives one empty piece and "a\n" gives "a" and "". The pieces
// point into text.
std::vector<std::string_view> SplitText(std::string_view text, char separator);

} // namespace palvex
