#include "platform/UpperCase.h"

namespace palvex {

namespace {
struct CaseFold {
    const char* lower;
    const char* upper;
};
// á š ť ž č é ě í ď ň ó ř ů ú ý, the letters the conversion knows beyond ASCII.
constexpr CaseFold kCzech[] = {
    {"\xC3\xA1", "\xC3\x81"}, {"\xC5\xA1", "\xC5\xA0"}, {"\xC5\xA5", "\xC5\xA4"}, {"\xC5\xBE", "\xC5\xBD"},
    {"\xC4\x8D", "\xC4\x8C"}, {"\xC3\xA9", "\xC3\x89"}, {"\xC4\x9B", "\xC4\x9A"}, {"\xC3\xAD", "\xC3\x8D"},
    {"\xC4\x8F", "\xC4\x8E"}, {"\xC5\x88", "\xC5\x87"}, {"\xC3\xB3", "\xC3\x93"}, {"\xC5\x99", "\xC5\x98"},
    {"\xC5\xAF", "\xC5\xAE"}, {"\xC3\xBA", "\xC3\x9A"}, {"\xC3\xBD", "\xC3\x9D"},
};
} // namespace

std::string UpperCase(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (c >= 'a' && c <= 'z') {
            out += static_cast<char>(c - 'a' + 'A');
            ++i;
            continue;
        }
        bool folded = false;
        if (i + 1 < text.size()) {
            for (const auto& f : kCzech) {
                if (text[i] == f.lower[0] && text[i + 1] == f.lower[1]) {
                    out += f.upper;
                    i += 2;
                    folded = true;
                    break;
                }
            }
        }
        if (!folded)
            out += text[i++];
    }
    return out;
}

} // namespace palvex
