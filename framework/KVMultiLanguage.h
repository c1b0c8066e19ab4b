// KVMultiLanguage: the numbered text table that every window fills for the
// current language, the current language itself and its place in the settings store.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace palvex {

inline constexpr int kTextCount = 1000;
// Counted in characters of UTF-8 text, not bytes.
inline constexpr int kMaxTextLength = 150;

inline constexpr int kLanguageCzech = 0;
inline constexpr int kLanguageEnglish = 1;

class TTextTable {
public:
    // Stores text under number (1 to 1000), cut to kMaxTextLength characters.
    void Set(int number, std::string_view text);
    // The entry as stored; empty for numbers outside the table.
    const std::string& Get(int number) const;
    void Clear();

private:
    std::array<std::string, kTextCount> m_entries;
};

// The framework's globals: the settings node of the program, the interface language and the texts.
extern std::string RegistryNodeName;
extern int CurrentLanguage;
extern TTextTable TextTable;

// The entry, "<#" + number + ">" when it is empty, the empty text when it is exactly "\\\".
std::string GetText(int number);
void SetText(int number, std::string_view text);

// Reads the stored language; true when one was stored. Raises EConvertError
// "'%s' is not a valid integer value" for a stored text that is not a number.
bool LoadLanguage();
void SaveLanguage();

// Writes the framework's texts 905 to 933 for the current language.
void FillFrameworkTexts();

} // namespace palvex
