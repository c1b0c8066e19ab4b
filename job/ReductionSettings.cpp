#include "job/ReductionSettings.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/StrToInt.h"

namespace palvex {

void ReductionSettings::SetQuality(int32_t value)
{
    m_quality = std::clamp(value, kMinQuality, kMaxQuality);
}

void ReductionSettings::SetScalePercent(int32_t value)
{
    m_scalePercent = std::clamp(value, kMinScalePercent, kMaxScalePercent);
}

void ReductionSettings::SetFilterIndex(int32_t value)
{
    m_filterIndex = value >= 0 && value < kFilterCount ? value : -1;
}

namespace {

// Nearest integer, halfway to even, in extended precision; saturated to the
// 32-bit range so that extreme limits cannot overflow.
int32_t Nearest(long double value)
{
    if (std::isnan(value))
        return 0;
    const long double rounded = std::nearbyintl(value);
    if (rounded >= static_cast<long double>(std::numeric_limits<int32_t>::max()))
        return std::numeric_limits<int32_t>::max();
    if (rounded <= static_cast<long double>(std::numeric_limits<int32_t>::min()))
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(rounded);
}

// The 32-bit product, wrapping as the machine's multiply does.
int32_t Product32(int32_t a, int32_t b)
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}

int32_t Scaled(int32_t side, int32_t percent)
{
    return Nearest(static_cast<long double>(Product32(side, percent)) / 100.0L);
}

// Minimum first, then maximum, each limit converted when its test needs it.
int32_t ApplyLimits(int32_t value, const std::string& minimum, const std::string& maximum)
{
    if (value < StrToInt(minimum))
        value = StrToInt(minimum);
    if (value > StrToInt(maximum))
        value = StrToInt(maximum);
    return value;
}

} // namespace

TargetSize ComputeTargetSize(int32_t width, int32_t height, const ReductionSettings& s)
{
    if (width == 0 || height == 0) {
        width = 1;
        height = 1;
    }
    const bool swapped = s.DetectPortrait && width < height;
    const int32_t a = swapped ? height : width;
    const int32_t b = swapped ? width : height;
    const int32_t scale = s.ScalePercent();

    int32_t w = 0;
    int32_t h = 0;
    if (s.KeepAspectRatio) {
        const double ratio = static_cast<double>(a) / static_cast<double>(b);
        w = ApplyLimits(Scaled(a, scale), s.MinWidth, s.MaxWidth);
        const int32_t h0 = Nearest(static_cast<long double>(w) / static_cast<long double>(ratio));
        h = h0;
        // Both tests look at h0, before either limit changed it.
        if (h0 < StrToInt(s.MinHeight))
            h = StrToInt(s.MinHeight);
        if (h0 > StrToInt(s.MaxHeight))
            h = StrToInt(s.MaxHeight);
        if (h != h0)
            w = Nearest(static_cast<long double>(h) * static_cast<long double>(ratio));
    } else {
        w = ApplyLimits(Scaled(a, scale), s.MinWidth, s.MaxWidth);
        h = ApplyLimits(Scaled(b, scale), s.MinHeight, s.MaxHeight);
    }
    return swapped ? TargetSize{h, w} : TargetSize{w, h};
}

TStretchFilter FilterForIndex(int32_t index)
{
    switch (index) {
    case 0:
        return sfNearest;
    case 1:
        return sfDraft;
    case 2:
        return sfLinear;
    case 3:
        return sfCosine;
    case 4:
        return sfSpline;
    default:
        return sfLinear;
    }
}

} // namespace palvex
