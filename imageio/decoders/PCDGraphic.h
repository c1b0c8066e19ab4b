// TPCDGraphic: the Kodak Photo CD reader.
#pragma once

#include "imageio/decoders/DecoderGraphic.h"

namespace palvex {

// A Photo CD image pack at the largest level it holds whole: Base (768x512),
// 4Base (1536x1024) or 16Base (3072x2048), the last two from their residuals;
// turned upright when the file marks the picture as portrait.
class TPCDGraphic : public TDecoderGraphic {
    PALVEX_DECODER_CLASS(TPCDGraphic, "PCD")
};

} // namespace palvex
