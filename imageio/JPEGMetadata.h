// What a JPEG file's header segments say of its pixels: the EXIF
// orientation (APP1) and the ICC profile (APP2 "ICC_PROFILE" chunks). The
// segments up to the first scan are walked here, apart from libjpeg, so that
// no more is kept than the two things asked for.
#pragma once

#include <cstdint>
#include <vector>

namespace palvex {

class TByteReader;

struct TJPEGMetadata {
    uint16_t Orientation = 1;
    // The chunks put back together; empty when there are none or they do not
    // make one profile (a chunk missing, repeated or numbered inconsistently).
    std::vector<uint8_t> ColorProfile;
};

// From the reader's position 0. A file that ends or breaks off early gives
// what was found before; errors of the file are libjpeg's to report.
TJPEGMetadata ReadJPEGMetadata(TByteReader& in);

} // namespace palvex
