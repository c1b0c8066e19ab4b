// TRLAGraphic: the Alias/Wavefront reader.
#pragma once

#include "imageio/decoders/DecoderGraphic.h"

namespace palvex {

// Wavefront/Alias RLA and 3ds Max RPF: run-length scanlines stored bottom-up,
// gray or RGB with an optional matte (alpha), integer samples of 1 to 32 bits
// or 32-bit floats. The active window is placed inside the full window; the
// area around it is black (transparent when there is a matte). Auxiliary and
// G-buffer channels are skipped; a file holding several pictures gives its
// first.
class TRLAGraphic : public TDecoderGraphic {
    PALVEX_DECODER_CLASS(TRLAGraphic, "RLA")
};

} // namespace palvex
