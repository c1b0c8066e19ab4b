#include "shell/EntryCommand.h"

#include "platform/UpperCase.h"

#include <algorithm>
#include <filesystem>

namespace palvex {

std::string QuoteCommandWord(std::string_view word)
{
    // The reserved characters of the desktop entry Exec key.
    constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";
    if (!word.empty() && word.find_first_of(kReserved) == std::string_view::npos)
        return std::string(word);
    std::string quoted = "\"";
    for (const char c : word) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

std::string Escaped(std::string_view text, std::initializer_list<std::pair<char, std::string_view>> escapes)
{
    std::string out;
    for (const char c : text) {
        const auto escape = std::find_if(escapes.begin(), escapes.end(), [c](const auto& e) { return e.first == c; });
        if (escape == escapes.end())
            out += c;
        else
            out += escape->second;
    }
    return out;
}

std::string EntryCommandPrefix(const std::string& program, const std::vector<std::string>& options)
{
    std::string command = QuoteCommandWord(program) + " " + kSelectionOption;
    for (const std::string& option : options)
        command += " " + QuoteCommandWord(option);
    return command + " " + kEndOfOptions;
}

std::optional<std::vector<std::vector<std::string>>> EntryRuns(const std::vector<std::string>& arguments)
{
    const auto end = std::find(arguments.begin(), arguments.end(), kEndOfOptions);
    if (arguments.empty() || arguments.front() != kSelectionOption || end == arguments.end())
        return std::nullopt;
    // Folder mode comes from each path's own kind, not from the options.
    std::vector<std::string> options;
    for (auto it = arguments.begin() + 1; it != end; ++it)
        if (UpperCase(*it).find("/FOLDER") == std::string::npos)
            options.push_back(*it);
    std::vector<std::vector<std::string>> runs;
    for (auto it = end + 1; it != arguments.end(); ++it) {
        // Absolute, so that the runs may be handed to a copy of the program
        // started elsewhere; "--" first, so that no path is read as a long option.
        std::error_code error;
        const std::filesystem::path path = std::filesystem::absolute(*it, error);
        std::vector<std::string> run{kEndOfOptions, error ? *it : path.string()};
        run.insert(run.end(), options.begin(), options.end());
        if (std::filesystem::is_directory(*it, error))
            run.push_back("/folder");
        runs.push_back(std::move(run));
    }
    return runs;
}

} // namespace palvex
