// The presets menu as data: the main window, the command line and the tests
// share this one table.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "job/ReductionSettings.h"

namespace palvex {

struct TPreset {
    const char* ItemName;    // the menu item, e.g. "opt1"
    int32_t CaptionText;     // number of its caption in the text table
    const char* CzechCaption;
    int32_t Quality;
    int32_t ScalePercent;
    const char* MinWidth;
    const char* MinHeight;
    const char* MaxWidth;
    const char* MaxHeight;
    int32_t FilterIndex;
    bool KeepAspectRatio;
    bool DetectPortrait;
    bool SeparatorAfter;     // a menu separator follows the entry
};

// The fifteen entries in menu order.
std::span<const TPreset> Presets();
// The entry with this item name, or null.
const TPreset* FindPreset(std::string_view itemName);
// Sets the preset's fields; folders and naming stay as they are.
void ApplyPreset(const TPreset& preset, ReductionSettings& settings);

} // namespace palvex
