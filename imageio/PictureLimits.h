// The largest picture a reader may take. Every reader checks the size its
// header declares against these before it allocates anything for the pixels,
// and refuses a larger one with its format's "invalid" message.
#pragma once

#include <cstdint>

namespace palvex {

#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
// Fuzzing explores the readers' logic; filling gigabyte pictures under the
// sanitizer only turns into timeouts.
inline constexpr uint64_t kMaxPicturePixels = uint64_t(1) << 22;
#else
inline constexpr uint64_t kMaxPicturePixels = uint64_t(1) << 28;
#endif
inline constexpr int32_t kMaxPictureSide = 65535;

// The pixel limit in force: kMaxPicturePixels unless a program lowered it
// (palvex-cli --max-pixels), for the whole process.
uint64_t MaxPicturePixels();
// Values above kMaxPicturePixels (or 0) restore kMaxPicturePixels.
void SetMaxPicturePixels(uint64_t pixels);

// True when a declared size is positive and within the limits.
bool IsPictureSizeAllowed(int64_t width, int64_t height);

} // namespace palvex
