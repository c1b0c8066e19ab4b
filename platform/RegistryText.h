// The registry store's text form: a tree of keys with string values, read from and
// written to a human-readable file. Used by the store where there is no system registry.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace palvex {

struct TRegistryValue {
    std::string Name;
    std::string Data;
};

struct TRegistryKey {
    std::string Name;
    std::vector<TRegistryValue> Values;
    std::vector<TRegistryKey> Subkeys;
};

bool SameRegistryName(std::string_view a, std::string_view b);

TRegistryKey* FindRegistryKey(TRegistryKey& root, const std::vector<std::string>& path);
const TRegistryKey* FindRegistryKey(const TRegistryKey& root, const std::vector<std::string>& path);
// Creates the missing keys of path; created tells whether anything was added.
TRegistryKey& CreateRegistryKey(TRegistryKey& root, const std::vector<std::string>& path, bool& created);
bool RemoveRegistryKey(TRegistryKey& root, const std::vector<std::string>& path);
TRegistryValue* FindRegistryValue(TRegistryKey& key, std::string_view name);
const TRegistryValue* FindRegistryValue(const TRegistryKey& key, std::string_view name);

// A key name the text form can hold: no control characters.
bool IsStorableKeyName(std::string_view name);
bool IsStorablePath(const std::vector<std::string>& path);

std::string SerializeRegistry(const TRegistryKey& root, std::string_view title);

// Parses text into root. Returns 0 on success, else the number of the first bad line.
int ParseRegistry(std::string_view text, TRegistryKey& root);

} // namespace palvex
