// The EXIF Orientation tag: how the stored pixels must be turned to stand
// upright. Cameras and phones store portrait photos as landscape pixels and
// say so here. Read from untrusted bytes: every offset is checked.
#pragma once

#include <cstdint>
#include <span>

namespace palvex {

// 1 (upright as stored) to 8, as the tag numbers them:
// 2 mirrored, 3 turned 180 degrees, 4 flipped top to bottom, 5 mirrored along
// the main diagonal, 6 to be turned 90 degrees clockwise, 7 mirrored along the
// other diagonal, 8 to be turned 90 degrees anticlockwise.
inline constexpr uint16_t kOrientationUpright = 1;

// The Orientation (tag 274) of the first IFD of a TIFF structure ("II*\0" or
// "MM\0*", offsets from its start). A missing, malformed or out-of-range tag
// gives kOrientationUpright.
uint16_t ExifOrientation(std::span<const uint8_t> tiff);

// The same from a JPEG APP1 segment's payload, which starts "Exif\0\0".
// Anything else (XMP, say) gives kOrientationUpright.
uint16_t ExifOrientationOfApp1(std::span<const uint8_t> payload);

// The same from an EXIF block as other containers keep it (PNG's eXIf chunk,
// Photoshop's EXIF resources): a TIFF structure, which some writers put
// behind APP1's "Exif\0\0" all the same.
uint16_t ExifOrientationOfBlock(std::span<const uint8_t> block);

} // namespace palvex
