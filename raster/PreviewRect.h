// Where the preview control draws its picture: fitted to the control, keeping
// the picture's proportions, centred.
#pragma once

#include <cstdint>

#include "raster/Rect.h"

namespace palvex {

// (0, 0, 0, 0) for an empty picture or a control without area.
TRect PreviewRect(int32_t bitmapWidth, int32_t bitmapHeight, int32_t controlWidth, int32_t controlHeight);

} // namespace palvex
