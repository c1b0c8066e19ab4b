#include "job/Presets.h"

#include <array>

namespace palvex {

namespace {

constexpr std::array<TPreset, 15> kPresets{{
    {"opt1", 38, "Optimalizovat pro 800x600, 50% kvalita", 50, 1000, "0", "0", "800", "600", 1, true, false, false},
    {"opt2", 39, "Optimalizovat pro 1024x768, 50% kvalita", 50, 1000, "0", "0", "1024", "768", 1, true, false, false},
    {"opt3", 40, "Optimalizovat pro 1280x1024, 50% kvalita", 50, 1000, "0", "0", "1280", "1024", 1, true, false, false},
    {"opt4", 41, "Optimalizovat pro 1600x1200, 50% kvalita", 50, 1000, "0", "0", "1600", "1200", 1, true, false, true},
    {"opt5", 42, "Optimalizovat pro 800x600, 80% kvalita", 80, 1000, "0", "0", "800", "600", 1, true, false, false},
    {"opt6", 43, "Optimalizovat pro 1024x768, 80% kvalita", 80, 1000, "0", "0", "1024", "768", 1, true, false, false},
    {"opt7", 44, "Optimalizovat pro 1280x1024, 80% kvalita", 80, 1000, "0", "0", "1280", "1024", 1, true, false, false},
    {"opt8", 45, "Optimalizovat pro 1600x1200, 80% kvalita", 80, 1000, "0", "0", "1600", "1200", 1, true, false, true},
    {"opt9", 46, "Optimalizovat pro vyvolání fotografie 10x15cm", 90, 1, "1536", "1", "1536", "1536", 3, true, true,
     false},
    {"opt10", 56, "Optimalizovat pro vyvolání fotografie 13x19cm", 90, 1, "1920", "1", "1920", "1920", 3, true, true,
     false},
    {"opt11", 57, "Optimalizovat pro vyvolání fotografie 15x23cm", 90, 1, "2304", "1", "2304", "2304", 3, true, true,
     false},
    {"opt12", 58, "Optimalizovat pro vyvolání fotografie 20x30cm", 90, 1, "3072", "1", "3072", "3072", 3, true, true,
     true},
    {"base4", 228, "Optimalizovat na 4-BASE (fotografie až 10x15cm)", 90, 1, "1536", "1", "1536", "1536", 3, true,
     true, false},
    {"base16", 229, "Optimalizovat na 16-BASE (fotografie až 20x30cm)", 90, 1, "3072", "1", "3072", "3072", 3, true,
     true, true},
    {"opt100", 59, "Pouze konvertovat do JPEG, 100% kvalita", 100, 100, "0", "0", "10000", "10000", 0, false, false,
     false},
}};

} // namespace

std::span<const TPreset> Presets()
{
    return kPresets;
}

const TPreset* FindPreset(std::string_view itemName)
{
    for (const TPreset& preset : kPresets) {
        if (itemName == preset.ItemName)
            return &preset;
    }
    return nullptr;
}

void ApplyPreset(const TPreset& preset, ReductionSettings& settings)
{
    settings.SetQuality(preset.Quality);
    settings.SetScalePercent(preset.ScalePercent);
    settings.MinWidth = preset.MinWidth;
    settings.MinHeight = preset.MinHeight;
    settings.MaxWidth = preset.MaxWidth;
    settings.MaxHeight = preset.MaxHeight;
    settings.SetFilterIndex(preset.FilterIndex);
    settings.KeepAspectRatio = preset.KeepAspectRatio;
    settings.DetectPortrait = preset.DetectPortrait;
}

} // namespace palvex
