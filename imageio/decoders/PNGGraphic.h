// TPNGGraphic: the PNG reader (libpng).
#pragma once

#include "imageio/decoders/DecoderGraphic.h"

namespace palvex {

// Every colour type and bit depth, interlaced or not. Pictures with an alpha
// channel or a tRNS chunk become 32-bit bitmaps with straight alpha, the rest
// 24-bit; 16-bit samples are rounded to 8 bits.
class TPNGGraphic : public TDecoderGraphic {
    PALVEX_DECODER_CLASS(TPNGGraphic, "PNG")

private:
    [[noreturn]] void Fail(const struct PngReadState& state) const;
};

} // namespace palvex
