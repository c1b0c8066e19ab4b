// The options of one reduction run, the size rule and the filter list's map.
#pragma once

#include <cstdint>
#include <string>

#include "imageio/PictureLoadOptions.h"
#include "raster/RasterTypes.h"

namespace palvex {

inline constexpr int32_t kMinQuality = 1;
inline constexpr int32_t kMaxQuality = 100;
inline constexpr int32_t kMinScalePercent = 1;
inline constexpr int32_t kMaxScalePercent = 1000;
// The filter list's entries; any other index means none is chosen.
inline constexpr int32_t kFilterCount = 5;

struct ReductionSettings {
    std::string SourceFolder;
    std::string TargetFolder;
    // The limits stay text until a size is computed.
    std::string MinWidth = "0";
    std::string MinHeight = "0";
    std::string MaxWidth = "10000";
    std::string MaxHeight = "10000";
    bool KeepAspectRatio = false;
    bool DetectPortrait = false;
    std::string NamePrefix;
    std::string NameSuffix;
    bool AddParameters = false;
    bool SequentialNames = false;
    // Pictures turned upright and converted to sRGB as they are loaded; only
    // the command line turns these off (the window has no control for them).
    TPictureLoadOptions Loading;

    int32_t Quality() const { return m_quality; }
    // Stores the nearest value of 1..100, as the slider does.
    void SetQuality(int32_t value);
    int32_t ScalePercent() const { return m_scalePercent; }
    // Stores the nearest value of 1..1000.
    void SetScalePercent(int32_t value);
    // -1 when no list entry is chosen.
    int32_t FilterIndex() const { return m_filterIndex; }
    // An index that names no entry leaves none chosen.
    void SetFilterIndex(int32_t value);

private:
    int32_t m_quality = 100;
    int32_t m_scalePercent = 100;
    int32_t m_filterIndex = 0;
};

struct TargetSize {
    int32_t Width = 0;
    int32_t Height = 0;
    bool operator==(const TargetSize&) const = default;
};

// The output size of a W x H picture; raises EConvertError when a limit does
// not convert. Sides of 0 or below come back unchanged.
TargetSize ComputeTargetSize(int32_t width, int32_t height, const ReductionSettings& settings);

// Filter list index to resampling filter; no entry chosen gives sfLinear.
TStretchFilter FilterForIndex(int32_t index);

} // namespace palvex
