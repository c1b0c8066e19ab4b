// TPCDGraphic: the Kodak Photo CD reader.
#pragma once

#include "imageio/decoders/DecoderGraphic.h"

namespace palvex {

// A Photo CD image pack at its Base level (768x512), turned upright when the
// file marks the picture as portrait. The higher levels (4Base, 16Base) are
// not read.
class TPCDGraphic : public TDecoderGraphic {
    PALVEX_DECODER_CLASS(TPCDGraphic, "PCD")
};

} // namespace palvex
