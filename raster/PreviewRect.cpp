// The picture rectangle of the preview control.
#include "raster/PreviewRect.h"

#include <algorithm>
#include <cmath>

namespace palvex {

TRect PreviewRect(int32_t bitmapWidth, int32_t bitmapHeight, int32_t controlWidth, int32_t controlHeight)
{
    if (bitmapWidth <= 0 || bitmapHeight <= 0 || controlWidth <= 0 || controlHeight <= 0)
        return TRect{};
    const auto sx = static_cast<float>(static_cast<long double>(controlWidth) / bitmapWidth);
    const auto sy = static_cast<float>(static_cast<long double>(controlHeight) / bitmapHeight);
    int64_t width = controlWidth;
    int64_t height = controlHeight;
    if (sx >= sy)
        width = static_cast<int64_t>(nearbyintl(static_cast<long double>(bitmapWidth) * sy));
    else
        height = static_cast<int64_t>(nearbyintl(static_cast<long double>(sx) * bitmapHeight));
    // The float scale can round a side a pixel past the control.
    width = std::min<int64_t>(width, controlWidth);
    height = std::min<int64_t>(height, controlHeight);
    const auto left = static_cast<int32_t>((controlWidth - width) / 2);
    const auto top = static_cast<int32_t>((controlHeight - height) / 2);
    return TRect{left, top, left + static_cast<int32_t>(width), top + static_cast<int32_t>(height)};
}

} // namespace palvex
