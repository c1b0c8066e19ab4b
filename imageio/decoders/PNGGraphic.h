// TPNGGraphic: the PNG reader.
#pragma once

#include "imageio/decoders/DecoderGraphic.h"

namespace palvex {

// Not read yet: every load fails with the family's "invalid format" message.
class TPNGGraphic : public TDecoderGraphic {
    PALVEX_GRAPHIC_CLASS(TPNGGraphic)

public:
    const char* FormatName() const override { return "PNG"; }
};

} // namespace palvex
