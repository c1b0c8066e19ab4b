// TPSDGraphic: the Photoshop reader.
#pragma once

#include "imageio/decoders/DecoderGraphic.h"

namespace palvex {

// Not read yet: every load fails with the family's "invalid format" message.
class TPSDGraphic : public TDecoderGraphic {
    PALVEX_GRAPHIC_CLASS(TPSDGraphic)

public:
    const char* FormatName() const override { return "PSD"; }
};

} // namespace palvex
