// KVLibREG: the settings store, string values under the local-machine root in
// "\SOFTWARE\Korvane\" + sub-path.
#pragma once

#include <string>
#include <string_view>

#include "platform/MakerName.h"

namespace palvex {

inline constexpr auto kSettingsKeyText = JoinText("\\SOFTWARE\\", kMakerName, "\\");
inline constexpr const char* kSettingsKey = kSettingsKeyText.Text;

// Creates the key when needed; raises "Failed to create key %s" or "Failed to set data for '%s'".
void WriteSettingString(std::string_view subPath, std::string_view valueName, std::string_view data);
// The stored text, or empty when the key or value is missing. Never creates anything.
std::string ReadSettingString(std::string_view subPath, std::string_view valueName);

} // namespace palvex
