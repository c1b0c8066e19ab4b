// The maker's and the product's names, once: the settings store's folder and
// keys, the application title and the maker's data are made from them.
#pragma once

#include <cstddef>
#include <string_view>

namespace palvex {

// cmake/Version.cmake reads these two lines for the Windows version resource.
inline constexpr char kMakerName[] = "Korvane";
inline constexpr char kProductName[] = "Palvex";
// The desktop program's id: its desktop entry, AppStream data and icon carry
// this name. packaging/CMakeLists.txt reads this line.
inline constexpr char kApplicationId[] = "cz.korvane.Palvex";

// A text joined at compile time. Names made from it are plain C strings
// (kX = kXText.Text), so that they go into printf and QString alike.
template <size_t N>
struct TJoinedText {
    char Text[N] = {};
};

template <size_t... N>
constexpr TJoinedText<(N + ...) - sizeof...(N) + 1> JoinText(const char (&... parts)[N])
{
    TJoinedText<(N + ...) - sizeof...(N) + 1> joined;
    size_t at = 0;
    for (const std::string_view part : {std::string_view(parts, N - 1)...})
        for (const char c : part)
            joined.Text[at++] = c;
    return joined;
}

// "Korvane Palvex", the title of every window and message box.
inline constexpr auto kApplicationTitleText = JoinText(kMakerName, " ", kProductName);
inline constexpr const char* kApplicationTitle = kApplicationTitleText.Text;

} // namespace palvex
