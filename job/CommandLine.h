// The command line of an unattended run: one option table that drives option
// matching, the --help text and the manual pages; the picture or the folder's
// JPEG files into the list.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "job/ReductionSettings.h"
#include "platform/Errors.h"

namespace palvex {

// A command line that cannot be run: an unknown long option, a missing or
// malformed value, no path. Programs exit with kExitUsage.
class EUsageError : public Exception {
public:
    using Exception::Exception;
};

// What the options chose besides the reduction settings; read by the program
// that runs them. A new option that is not a setting adds its field here.
struct TCommandLineChoices {
    bool FolderMode = false;
    bool ShowHelp = false;
    bool ShowVersion = false;
    uint64_t MaxPixels = 0; // --max-pixels; 0: the picture limit as it is
    bool KeepGoing = false;
    int32_t Jobs = 0; // --jobs; 0: as many as the processors the process may use
};

// The most pictures --jobs lets a run reduce at a time.
inline constexpr int32_t kMaxJobs = 256;

enum class TOptionValue : uint8_t {
    None,   // a switch
    Number, // digits: those of the argument (keyword form) or the option's value (long form)
};

// Which programs' --help and manual page list an option.
enum TOptionPrograms : uint8_t {
    kForCli = 1,
    kForDesktop = 2,
    kForBoth = kForCli | kForDesktop,
};

struct TCommandLineOption {
    // Upper case with its "/": the option applies when the keyword occurs
    // anywhere in an upper-cased argument. Null for an option with a long form only.
    const char* Keyword;
    // "width" for --width=N, --width N. Null for a keyword-only option.
    const char* LongName;
    TOptionValue Value;
    TOptionPrograms Programs;
    // One line for --help and the manual pages.
    const char* Help;
    // value: the digits for a Number option, empty for a switch.
    void (*Apply)(const std::string& value, ReductionSettings& settings, TCommandLineChoices& choices);
};

// Every option in the order in which the keywords of one argument apply.
std::span<const TCommandLineOption> CommandLineOptions();

// Exit codes of the programs' unattended runs.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitPictureFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitSomeFailed = 3;

struct TExitStatus {
    int Code;
    const char* Meaning;
};
std::span<const TExitStatus> ExitStatuses();

// The option list of --help for one program: "  --width=N, /width=N   text" lines.
std::string CommandLineHelp(TOptionPrograms program);
// How options are written (forms, places, order), then the option list.
std::string OptionsHelp(TOptionPrograms program);

// Every decimal digit of the argument, in order ("/q=1a2" gives "12").
std::string DigitsOf(std::string_view argument);

// Applies the keyword options (arguments after the path) in order; every keyword
// that occurs in an upper-cased argument applies, in the table's order.
// Returns true in folder mode. "/QUALITY" or "/PROCESS" without digits raise
// EConvertError, leaving the rest unapplied.
bool ApplyCommandLineOptions(const std::vector<std::string>& options, ReductionSettings& settings);

struct TCommandLine {
    std::string Path; // empty when there were no arguments, or help or version was asked for
    TCommandLineChoices Choices;
};

// Reads the arguments after the program path, left to right, applying each
// option as it comes. "--name", "--name=value" and "--name value" are long
// options anywhere on the line until "--"; the first other argument is the
// path, every later one a keyword option. ScalePercent starts at 1000 when
// there is any argument. --help and --version end the reading. Raises
// EUsageError, and EConvertError as ApplyCommandLineOptions does.
TCommandLine ParseCommandLine(const std::vector<std::string>& arguments, ReductionSettings& settings);

// The run of a parsed command line: the folders, AddParameters on, and the list
// entries, all to be ticked (the folder's JPEG files in folder mode).
std::vector<std::string> PrepareCommandLineRun(const TCommandLine& commandLine, ReductionSettings& settings);

// Both steps; no arguments give no entries and leave the settings alone.
std::vector<std::string> PrepareUnattendedRun(const std::vector<std::string>& arguments, ReductionSettings& settings);

} // namespace palvex
