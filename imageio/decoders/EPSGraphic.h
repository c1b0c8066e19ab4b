// TEPSGraphic: the Encapsulated PostScript reader.
#pragma once

#include "imageio/decoders/DecoderGraphic.h"

namespace palvex {

// Not read yet: every load fails with the family's "invalid format" message.
class TEPSGraphic : public TDecoderGraphic {
    PALVEX_GRAPHIC_CLASS(TEPSGraphic)

public:
    const char* FormatName() const override { return "EPS"; }
};

} // namespace palvex
