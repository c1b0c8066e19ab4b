// TTargaGraphic: the Truevision Targa reader.
#pragma once

#include "imageio/decoders/DecoderGraphic.h"

namespace palvex {

// Uncompressed and run-length Targa: colour-mapped (8 or 16-bit indices),
// true colour of 15, 16, 24 and 32 bits, gray of 8 bits and gray with alpha
// of 16 bits, in any of the four origins. 32-bit pixels and gray with alpha
// give a 32-bit bitmap with their alpha; everything else is 24 bits. Rows are
// read where they lie; run-length rows from an index of where each starts.
class TTargaGraphic : public TDecoderGraphic {
    PALVEX_DECODER_CLASS(TTargaGraphic, "Targa")
};

} // namespace palvex
