// The command that the file managers' entries run:
//     palvex --selection OPTION... -- PATH...
// The options are a preset's keywords, matched as on the program's own command
// line; nothing after "--" is ever matched against them, so a folder named
// "width" stays a folder. All paths of one selection come in one start. A path
// that is a folder is reduced as /folder reduces it, any other as one picture.
// A program that does not know the form refuses --selection as an unknown option.
#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace palvex {

inline constexpr const char* kSelectionOption = "--selection";
inline constexpr const char* kEndOfOptions = "--";

// The word as a desktop entry's Exec, GLib's and KDE's argument splitting and
// sh all read it back: unchanged when it holds nothing special, else between
// double quotes with a backslash before " ` $ and \.
std::string QuoteCommandWord(std::string_view word);

// text with each character of escapes replaced by its escaped form.
std::string Escaped(std::string_view text, std::initializer_list<std::pair<char, std::string_view>> escapes);

// The program, --selection, the options, quoted, then "--": the entry's command up to its paths.
std::string EntryCommandPrefix(const std::string& program, const std::vector<std::string>& options);

// The program's arguments (after its own path) in the entry form, taken apart
// into one argument list per path in the program's usual form: "--", the path
// made absolute, the options, and /folder for a folder. Nothing when the arguments do not
// start with --selection or have no "--".
std::optional<std::vector<std::vector<std::string>>> EntryRuns(const std::vector<std::string>& arguments);

} // namespace palvex
