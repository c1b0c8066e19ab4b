// TPCDGraphic: the Kodak Photo-CD reader.
#pragma once

#include "imageio/decoders/DecoderGraphic.h"

namespace palvex {

// Not read yet: every load fails with the family's "invalid format" message.
class TPCDGraphic : public TDecoderGraphic {
    PALVEX_GRAPHIC_CLASS(TPCDGraphic)

public:
    const char* FormatName() const override { return "PCD"; }
};

} // namespace palvex
