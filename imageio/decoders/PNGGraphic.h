// TPNGGraphic: the PNG reader (libpng).
#pragma once

#include "imageio/decoders/DecoderGraphic.h"

namespace palvex {

// Every colour type and bit depth, interlaced or not. Pictures with an alpha
// channel or a tRNS chunk have alpha (32-bit bitmaps, straight alpha), the
// rest not (24-bit); 16-bit samples are rounded to 8 bits. Rows are decoded
// as they are asked for; an interlaced picture is filled whole, pass by pass.
class TPNGGraphic : public TDecoderGraphic {
    PALVEX_DECODER_CLASS(TPNGGraphic, "PNG")
};

} // namespace palvex
