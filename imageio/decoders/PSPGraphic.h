// TPSPGraphic: the Paint Shop Pro reader.
#pragma once

#include "imageio/decoders/DecoderGraphic.h"

namespace palvex {

// Not read yet: every load fails with the family's "invalid format" message.
class TPSPGraphic : public TDecoderGraphic {
    PALVEX_GRAPHIC_CLASS(TPSPGraphic)

public:
    const char* FormatName() const override { return "PSP"; }
};

} // namespace palvex
