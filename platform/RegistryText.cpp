// Text form of the registry store:
//   [\SOFTWARE\Korvane\Palvex\Language]
//   ":"="1"
//   @="default value"
// Names and data are quoted with \\ \" \n \r \t and \xHH escapes.
#include "platform/RegistryText.h"

#include "platform/SplitText.h"
#include "platform/StrToInt.h"
#include "platform/UpperCase.h"

#include <algorithm>

namespace palvex {

bool SameRegistryName(std::string_view a, std::string_view b)
{
    // The conversion keeps byte lengths, so texts of different lengths never match.
    return a.size() == b.size() && UpperCase(a) == UpperCase(b);
}

TRegistryKey* FindRegistryKey(TRegistryKey& root, const std::vector<std::string>& path)
{
    TRegistryKey* key = &root;
    for (const std::string& name : path) {
        auto it = std::find_if(key->Subkeys.begin(), key->Subkeys.end(),
                               [&](const TRegistryKey& k) { return SameRegistryName(k.Name, name); });
        if (it == key->Subkeys.end())
            return nullptr;
        key = &*it;
    }
    return key;
}

const TRegistryKey* FindRegistryKey(const TRegistryKey& root, const std::vector<std::string>& path)
{
    return FindRegistryKey(const_cast<TRegistryKey&>(root), path);
}

TRegistryKey& CreateRegistryKey(TRegistryKey& root, const std::vector<std::string>& path, bool& created)
{
    created = false;
    TRegistryKey* key = &root;
    for (const std::string& name : path) {
        auto it = std::find_if(key->Subkeys.begin(), key->Subkeys.end(),
                               [&](const TRegistryKey& k) { return SameRegistryName(k.Name, name); });
        if (it == key->Subkeys.end()) {
            key->Subkeys.push_back(TRegistryKey{name, {}, {}});
            key = &key->Subkeys.back();
            created = true;
        } else {
            key = &*it;
        }
    }
    return *key;
}

bool RemoveRegistryKey(TRegistryKey& root, const std::vector<std::string>& path)
{
    if (path.empty())
        return false;
    TRegistryKey* parent = FindRegistryKey(root, std::vector<std::string>(path.begin(), path.end() - 1));
    if (!parent)
        return false;
    auto it = std::find_if(parent->Subkeys.begin(), parent->Subkeys.end(),
                           [&](const TRegistryKey& k) { return SameRegistryName(k.Name, path.back()); });
    if (it == parent->Subkeys.end())
        return false;
    parent->Subkeys.erase(it);
    return true;
}

TRegistryValue* FindRegistryValue(TRegistryKey& key, std::string_view name)
{
    auto it = std::find_if(key.Values.begin(), key.Values.end(),
                           [&](const TRegistryValue& v) { return SameRegistryName(v.Name, name); });
    return it == key.Values.end() ? nullptr : &*it;
}

const TRegistryValue* FindRegistryValue(const TRegistryKey& key, std::string_view name)
{
    return FindRegistryValue(const_cast<TRegistryKey&>(key), name);
}

bool IsStorableKeyName(std::string_view name)
{
    return !name.empty() && std::none_of(name.begin(), name.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 || c == 0x7F || c == '\\';
    });
}

bool IsStorablePath(const std::vector<std::string>& path)
{
    return std::all_of(path.begin(), path.end(), [](const std::string& name) { return IsStorableKeyName(name); });
}

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

// The escapes other than \xHH: the letter after "\" and the character it stands for.
struct TEscape {
    char Letter;
    char Meaning;
};
constexpr TEscape kEscapes[] = {{'\\', '\\'}, {'"', '"'}, {'n', '\n'}, {'r', '\r'}, {'t', '\t'}};

void AppendQuoted(std::string& out, std::string_view text)
{
    out += '"';
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        const auto escape = std::find_if(std::begin(kEscapes), std::end(kEscapes),
                                         [c](const TEscape& e) { return e.Meaning == c; });
        if (escape != std::end(kEscapes)) {
            out += '\\';
            out += escape->Letter;
        } else if (u < 0x20 || u == 0x7F) {
            out += "\\x";
            out += kHex[u >> 4];
            out += kHex[u & 15];
        } else {
            out += c;
        }
    }
    out += '"';
}

void SerializeKey(std::string& out, const TRegistryKey& key, const std::string& path, bool isRoot)
{
    if (!isRoot || !key.Values.empty()) {
        out += "\n[";
        out += isRoot ? "\\" : path;
        out += "]\n";
        for (const TRegistryValue& value : key.Values) {
            if (value.Name.empty())
                out += '@';
            else
                AppendQuoted(out, value.Name);
            out += '=';
            AppendQuoted(out, value.Data);
            out += '\n';
        }
    }
    for (const TRegistryKey& sub : key.Subkeys)
        SerializeKey(out, sub, path + "\\" + sub.Name, false);
}

// Reads a quoted text at line[pos]; advances pos past the closing quote.
bool ParseQuoted(std::string_view line, size_t& pos, std::string& out)
{
    if (pos >= line.size() || line[pos] != '"')
        return false;
    ++pos;
    out.clear();
    while (pos < line.size()) {
        const char c = line[pos++];
        if (c == '"')
            return true;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (pos >= line.size())
            return false;
        const char letter = line[pos++];
        const auto escape = std::find_if(std::begin(kEscapes), std::end(kEscapes),
                                         [letter](const TEscape& e) { return e.Letter == letter; });
        if (escape != std::end(kEscapes)) {
            out += escape->Meaning;
            continue;
        }
        if (letter != 'x' || pos + 2 > line.size())
            return false;
        const int hi = HexDigitValue(line[pos]);
        const int lo = HexDigitValue(line[pos + 1]);
        if (hi < 0 || lo < 0)
            return false;
        out += static_cast<char>(hi * 16 + lo);
        pos += 2;
    }
    return false;
}

} // namespace

std::string SerializeRegistry(const TRegistryKey& root, std::string_view title)
{
    std::string out = "; ";
    out += title;
    out += "\n; One [key] per section; \"name\"=\"data\" per value, @ for the key's default value.\n";
    SerializeKey(out, root, "", true);
    return out;
}

int ParseRegistry(std::string_view text, TRegistryKey& root)
{
    root = TRegistryKey{};
    TRegistryKey* current = nullptr;
    int lineNumber = 0;
    for (std::string_view line : SplitText(text, '\n')) {
        ++lineNumber;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.remove_prefix(1);
        if (line.empty() || line.front() == ';' || line.front() == '#')
            continue;

        if (line.front() == '[') {
            if (line.size() < 3 || line.back() != ']' || line[1] != '\\')
                return lineNumber;
            const std::string_view path = line.substr(1, line.size() - 2);
            if (path == "\\") {
                current = &root;
                continue;
            }
            // Empty names are kept here, so that the check below refuses them.
            const std::vector<std::string_view> pieces = SplitText(path.substr(1), '\\');
            const std::vector<std::string> names(pieces.begin(), pieces.end());
            if (!IsStorablePath(names))
                return lineNumber;
            bool created = false;
            current = &CreateRegistryKey(root, names, created);
            continue;
        }

        if (!current)
            return lineNumber;
        size_t pos = 0;
        std::string name;
        if (line.front() == '@') {
            pos = 1;
        } else if (!ParseQuoted(line, pos, name)) {
            return lineNumber;
        }
        if (pos >= line.size() || line[pos] != '=')
            return lineNumber;
        ++pos;
        std::string data;
        if (!ParseQuoted(line, pos, data))
            return lineNumber;
        while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t'))
            ++pos;
        if (pos != line.size())
            return lineNumber;
        if (TRegistryValue* existing = FindRegistryValue(*current, name))
            existing->Data = std::move(data);
        else
            current->Values.push_back(TRegistryValue{std::move(name), std::move(data)});
    }
    return 0;
}

} // namespace palvex
