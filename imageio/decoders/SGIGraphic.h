// TSGIGraphic: the SGI reader.
#pragma once

#include "imageio/decoders/DecoderGraphic.h"

namespace palvex {

// Not read yet: every load fails with the family's "invalid format" message.
class TSGIGraphic : public TDecoderGraphic {
    PALVEX_GRAPHIC_CLASS(TSGIGraphic)

public:
    const char* FormatName() const override { return "SGI"; }
};

} // namespace palvex
