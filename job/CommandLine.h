// The command line of an unattended run: options into settings, the picture or
// the folder's JPEG files into the list.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "job/ReductionSettings.h"

namespace palvex {

// Every decimal digit of the argument, in order ("/q=1a2" gives "12").
std::string DigitsOf(std::string_view argument);

// Applies the options (arguments after the path) in order; every keyword that
// occurs in an upper-cased argument applies, in the keyword table's order.
// Returns true in folder mode. "/QUALITY" or "/PROCESS" without digits raise
// EConvertError, leaving the rest unapplied.
bool ApplyCommandLineOptions(const std::vector<std::string>& options, ReductionSettings& settings);

// The whole preparation of an unattended run from the arguments after the
// program path (the picture or folder path first, then the options): ScalePercent 1000 first, the options,
// the folders, AddParameters on. Returns the list entries, all to be ticked.
std::vector<std::string> PrepareUnattendedRun(const std::vector<std::string>& arguments, ReductionSettings& settings);

} // namespace palvex
