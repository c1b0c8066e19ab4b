// TPSPGraphic: the Paint Shop Pro reader.
#pragma once

#include "imageio/decoders/DecoderGraphic.h"

namespace palvex {

// Paint Shop Pro images of file versions 3 (Paint Shop Pro 5) and later: the
// full-size composite image where the file holds one, else the raster layers
// merged bottom to top (visibility, opacity and transparency masks, every
// blend mode as normal). Channels uncompressed, run-length or LZ77 (zlib);
// 1, 4 and 8 bits with palette, 8 and 16-bit gray, 24 and 48-bit colour.
class TPSPGraphic : public TDecoderGraphic {
    PALVEX_DECODER_CLASS(TPSPGraphic, "PSP")
};

} // namespace palvex
