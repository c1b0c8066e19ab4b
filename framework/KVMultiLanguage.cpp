#include "framework/KVMultiLanguage.h"

#include "framework/KVLibREG.h"
#include "platform/Errors.h"
#include "platform/StrToInt.h"

namespace palvex {

std::string RegistryNodeName;
int CurrentLanguage = kLanguageEnglish;
TTextTable TextTable;

namespace {

// Byte length of the first maxChars UTF-8 characters of text.
size_t PrefixBytes(std::string_view text, int maxChars)
{
    int chars = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            if (chars == maxChars)
                return i;
            ++chars;
        }
    }
    return text.size();
}

struct FrameworkText {
    int number;
    const char* czech;
    const char* english;
};

constexpr FrameworkText kFrameworkTexts[] = {
    {905, "Domovská stránka", "Home Page"},
    {906, "Otevře a předvyplní e-mail s žádostí o technickou podporu", "Creates e-mail for Korvane Technical Support"},
    {907, "Technická podpora:", "Technical support:"},
    {908, "Česká republika", "Czech Republic"},
    {925, "Otevře webovou stránku technické prodpory produktů Korvane", "Korvane Technical Support Web Page"},
    {932, "Informace", "Information"},
    {933, "Chyba", "Error"},
};

std::string LanguageKey() { return RegistryNodeName + "\\Language"; }

} // namespace

void TTextTable::Set(int number, std::string_view text)
{
    if (number < 1 || number > kTextCount)
        throw EAssertionFailed(Format("Text number %d is outside the text table", number));
    m_entries[static_cast<size_t>(number - 1)].assign(text.substr(0, PrefixBytes(text, kMaxTextLength)));
}

const std::string& TTextTable::Get(int number) const
{
    static const std::string empty;
    if (number < 1 || number > kTextCount)
        return empty;
    return m_entries[static_cast<size_t>(number - 1)];
}

void TTextTable::Clear()
{
    for (std::string& entry : m_entries)
        entry.clear();
}

std::string GetText(int number)
{
    const std::string& entry = TextTable.Get(number);
    if (entry.empty())
        return "<#" + std::to_string(number) + ">";
    if (entry == "\\\\\\")
        return {};
    return entry;
}

void SetText(int number, std::string_view text) { TextTable.Set(number, text); }

bool LoadLanguage()
{
    const std::string text = ReadSettingString(LanguageKey(), ":");
    if (text.empty())
        return false;
    CurrentLanguage = StrToInt(text);
    return true;
}

void SaveLanguage() { WriteSettingString(LanguageKey(), ":", std::to_string(CurrentLanguage)); }

void FillFrameworkTexts()
{
    if (CurrentLanguage == kLanguageCzech)
        for (const FrameworkText& t : kFrameworkTexts)
            SetText(t.number, t.czech);
    if (CurrentLanguage == kLanguageEnglish)
        for (const FrameworkText& t : kFrameworkTexts)
            SetText(t.number, t.english);
}

} // namespace palvex
