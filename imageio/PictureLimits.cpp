#include "imageio/PictureLimits.h"

#include <atomic>

namespace palvex {

namespace {
std::atomic<uint64_t> g_maxPixels{kMaxPicturePixels};
} // namespace

uint64_t MaxPicturePixels()
{
    return g_maxPixels.load(std::memory_order_relaxed);
}

void SetMaxPicturePixels(uint64_t pixels)
{
    g_maxPixels.store(pixels == 0 || pixels > kMaxPicturePixels ? kMaxPicturePixels : pixels,
                      std::memory_order_relaxed);
}

bool IsPictureSizeAllowed(int64_t width, int64_t height)
{
    if (width <= 0 || height <= 0 || width > kMaxPictureSide || height > kMaxPictureSide)
        return false;
    return static_cast<uint64_t>(width) * static_cast<uint64_t>(height) <= MaxPicturePixels();
}

} // namespace palvex
