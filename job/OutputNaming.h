// The names of output files: parameter suffix, base name, output name and the
// collision-free candidates (the folder's side is TOutputFolder).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace palvex {

// "_" + width + "x" + height + "_" + quality + "q".
std::string ParameterSuffix(int32_t width, int32_t height, int32_t quality);
// Everything before the last "."; a name without one stays whole.
std::string CutExtension(std::string_view fileName);
// n padded with "0" to 8 digits, or the file name of path less its extension.
std::string BaseName(std::string_view path, bool sequentialNames, int32_t n);
std::string OutputName(std::string_view prefix, std::string_view baseName, std::string_view suffix,
                       std::string_view parameterSuffix);
// k = 1 gives outputName itself, later k append "(k)" to it.
std::string CandidateName(std::string_view outputName, int32_t k);

} // namespace palvex
