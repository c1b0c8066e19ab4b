// TPSDGraphic: the Photoshop document reader.
#pragma once

#include "imageio/decoders/DecoderGraphic.h"

namespace palvex {

// The merged composite of a Photoshop document (version 1, and the large
// document format of version 2), raw or PackBits: bitmap, gray, duotone and
// multichannel (as gray), indexed, RGB, CMYK and Lab (both converted to RGB),
// 1, 8 and 16 bits a channel. The first channel after the colour channels
// is the alpha; an indexed picture's transparent index gives alpha 0. Each
// row is read from its channels' rows where they lie.
class TPSDGraphic : public TDecoderGraphic {
    PALVEX_DECODER_CLASS(TPSDGraphic, "PSD")
};

} // namespace palvex
