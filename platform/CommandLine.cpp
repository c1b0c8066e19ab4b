#include "platform/CommandLine.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace palvex {

std::vector<std::string> SplitCommandLine(std::string_view commandLine)
{
    std::vector<std::string> words;
    size_t i = 0;
    const size_t n = commandLine.size();
    while (true) {
        while (i < n && static_cast<unsigned char>(commandLine[i]) <= ' ')
            ++i;
        if (i >= n)
            break;
        std::string word;
        while (i < n && static_cast<unsigned char>(commandLine[i]) > ' ') {
            if (commandLine[i] == '"') {
                ++i;
                while (i < n && commandLine[i] != '"')
                    word += commandLine[i++];
                if (i < n)
                    ++i; // the closing quote
            } else {
                word += commandLine[i++];
            }
        }
        words.push_back(std::move(word));
    }
    return words;
}

std::vector<std::string> ProgramArguments(int argc, char** argv)
{
#ifdef _WIN32
    (void)argc;
    (void)argv;
    const wchar_t* wide = ::GetCommandLineW();
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(bytes > 0 ? static_cast<size_t>(bytes) : 0, '\0');
    if (bytes > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8.data(), bytes, nullptr, nullptr);
    if (!utf8.empty())
        utf8.pop_back(); // the terminating zero
    std::vector<std::string> words = SplitCommandLine(utf8);
    if (!words.empty())
        words.erase(words.begin());
    return words;
#else
    std::vector<std::string> words;
    for (int i = 1; i < argc; ++i)
        words.emplace_back(argv[i]);
    return words;
#endif
}

} // namespace palvex
