// TSGIGraphic: the Silicon Graphics image reader.
#pragma once

#include "imageio/decoders/DecoderGraphic.h"

namespace palvex {

// Verbatim and run-length SGI images of 1 to 4 channels (gray, gray with
// alpha, RGB, RGBA) with 8 or 16 bits a channel; 16 bits are rounded to 8.
// Each row is read from its channels' rows where they lie.
class TSGIGraphic : public TDecoderGraphic {
    PALVEX_DECODER_CLASS(TSGIGraphic, "SGI")
};

} // namespace palvex
