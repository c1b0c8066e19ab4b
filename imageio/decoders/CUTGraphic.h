// TCUTGraphic: the Dr. Halo reader.
#pragma once

#include "imageio/decoders/DecoderGraphic.h"

namespace palvex {

// Not read yet: every load fails with the family's "invalid format" message.
class TCUTGraphic : public TDecoderGraphic {
    PALVEX_GRAPHIC_CLASS(TCUTGraphic)

public:
    const char* FormatName() const override { return "CUT"; }
};

} // namespace palvex
