// What loading does to a picture beyond decoding it: both on unless a run
// asks for the pixels as stored.
#pragma once

namespace palvex {

struct TPictureLoadOptions {
    // Turn the picture upright as its EXIF or TIFF Orientation says.
    bool Orientation = true;
    // Convert a picture with an embedded ICC profile other than sRGB to sRGB.
    bool ColorProfile = true;
};

// The pixels exactly as the file stores them.
inline constexpr TPictureLoadOptions kPixelsAsStored{false, false};

} // namespace palvex
