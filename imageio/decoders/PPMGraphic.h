// TPPMGraphic: the portable map reader.
#pragma once

#include "imageio/decoders/DecoderGraphic.h"

namespace palvex {

// Not read yet: every load fails with the family's "invalid format" message.
class TPPMGraphic : public TDecoderGraphic {
    PALVEX_GRAPHIC_CLASS(TPPMGraphic)

public:
    const char* FormatName() const override { return "PPM"; }
};

} // namespace palvex
