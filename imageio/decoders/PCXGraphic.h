// TPCXGraphic: the ZSoft Paintbrush reader.
#pragma once

#include "imageio/decoders/DecoderGraphic.h"

namespace palvex {

// Run-length or raw PCX: 1 bit in 1 to 4 planes, 2 and 4 bits packed, 8 bits
// with the trailing 256-colour palette (gray without it), 24 bits in three
// planes and 32 bits in four (the fourth is alpha). Lines are decoded as the
// rows are asked for.
class TPCXGraphic : public TDecoderGraphic {
    PALVEX_DECODER_CLASS(TPCXGraphic, "PCX")
};

} // namespace palvex
