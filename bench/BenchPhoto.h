// The photo the benchmarks work on, and libjpeg-turbo's own decoding of it to
// measure the program's roads against.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio> // jpeglib.h needs FILE and size_t first
#include <functional>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace palvex::bench {

// Debian's plasma-workspace-wallpapers: boats at dusk, 2560x1600.
inline constexpr const char* kPhotoSource = "/usr/share/wallpapers/EveningGlow/contents/images/2560x1600.jpg";

// Empty when the file cannot be read.
std::vector<uint8_t> ReadFileBytes(const std::string& path);

// The middle 2560x1440 of kPhotoSource four times, mirrored, to 5120x2880,
// encoded by TJPEGImage at quality 92 (baseline, 4:2:0, as a camera writes):
// the photo's own detail at every pixel, so the entropy decoder has as much
// to do as on a camera's picture of this size. Throws when it cannot be made.
std::vector<uint8_t> MakeBenchPhoto();

// The bytes of path, or MakeBenchPhoto's when path is empty, with a line on
// stderr that says which; empty, after saying why, when there are none.
std::vector<uint8_t> LoadBenchPhoto(const std::string& path);

// libjpeg-turbo alone: bytes decoded into rows of space (JCS_EXT_BGRA or
// JCS_EXT_BGR), with the float DCT when floatDct, into the memory target
// gives for the picture's size in bytes (null fails). False on any failure.
using TDecodeTarget = std::function<uint8_t*(size_t bytes, int width, int height)>;
bool DecodeWithLibjpeg(const std::vector<uint8_t>& bytes, J_COLOR_SPACE space, bool floatDct,
                       const TDecodeTarget& target);

} // namespace palvex::bench
