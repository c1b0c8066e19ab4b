// TCUTGraphic: the Dr. Halo reader.
#pragma once

#include "imageio/decoders/DecoderGraphic.h"

namespace palvex {

// Dr. Halo run-length pictures of 8-bit indices. The colours come from the
// palette file of the same name with the extension .pal (any letter case)
// beside the picture; without a usable one the indices are a grey ramp.
class TCUTGraphic : public TDecoderGraphic {
    PALVEX_DECODER_CLASS(TCUTGraphic, "CUT")
};

} // namespace palvex
