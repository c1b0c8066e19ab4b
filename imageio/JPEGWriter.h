// The JPEG writer: 32-bit rows into the bytes of a baseline (or progressive)
// JFIF file through libjpeg. The only encoder of output files; the batch run
// calls it straight, TJPEGImage for its own encodings.
#pragma once

#include <cstdint>

#include "imageio/JPEGBytes.h"
#include "raster/RowSource.h"

namespace palvex {

struct TJPEGWriteSettings {
    int Quality = 90;
    bool Grayscale = false;
    bool Progressive = false;
};

// Encodes pixels (the fourth byte of each ignored), reading each row once,
// top to bottom, in place, into bytes (replaced). A picture without pixels
// gives no bytes. A library error raises EJPEG "JPEG error #%d", an exception
// of the source leaves as it is; either way bytes is left empty.
void WriteJPEG(TRowSource& pixels, const TJPEGWriteSettings& settings, TJPEGBytes& bytes);

} // namespace palvex
