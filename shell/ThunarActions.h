// Thunar's custom actions file (uca.xml) with Palvex's actions merged in. The
// person's own actions and every byte around them stay as they are: Palvex's
// actions are found by their unique ids and taken out exactly as they went in.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace palvex {

// What Thunar itself starts a new file with.
inline constexpr const char* kEmptyThunarActions = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<actions>\n</actions>\n";

// Palvex's unique ids start with this.
inline constexpr const char* kThunarIdPrefix = "palvex-kvpx";

// One action, each element on its line as Thunar writes them; types are the
// empty elements that say which files it offers itself for ("image-files", ...).
std::string ThunarAction(std::string_view uniqueId, std::string_view name, std::string_view icon,
                         std::string_view command, std::string_view patterns,
                         std::initializer_list<std::string_view> types);

// text without every action whose unique id starts with kThunarIdPrefix.
std::string WithoutPalvexActions(std::string_view text);

// text with actions put before its closing </actions>, on lines of their own
// where that tag has one; nothing when text has no </actions>.
std::optional<std::string> WithActionsAdded(std::string_view text, std::string_view actions);

std::string EscapeXml(std::string_view text);

} // namespace palvex
