// TPPMGraphic: the portable bitmap, gray map and pixel map reader.
#pragma once

#include "imageio/decoders/DecoderGraphic.h"

namespace palvex {

// P1 to P6, plain and raw, with comments; samples of up to 65535 are rounded
// to 8 bits. Only the first picture of a file is read, row by row.
class TPPMGraphic : public TDecoderGraphic {
    PALVEX_DECODER_CLASS(TPPMGraphic, "PPM")
};

} // namespace palvex
