// Enumerations and event types shared by the bitmap and the resampler.
#pragma once

#include <cstdint>
#include <functional>

#include "raster/Color32.h"

namespace palvex {

class TPersistent;

enum TStretchFilter : uint8_t {
    sfNearest = 0,
    sfDraft = 1,
    sfLinear = 2,
    sfCosine = 3,
    sfSpline = 4,
    sfLanczos = 5,
    sfMitchell = 6,
};

enum TDrawMode : uint8_t {
    dmOpaque = 0,
    dmBlend = 1,
    dmCustom = 2,
};

using TNotifyEvent = std::function<void(TPersistent& sender)>;

// F: the computed pixel; B: the destination pixel to update; M: the source's MasterAlpha.
using TPixelCombineEvent = std::function<void(TColor32 F, TColor32& B, TColor32 M)>;

} // namespace palvex
