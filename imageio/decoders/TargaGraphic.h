// TTargaGraphic: the Truevision Targa reader.
#pragma once

#include "imageio/decoders/DecoderGraphic.h"

namespace palvex {

// Not read yet: every load fails with the family's "invalid format" message.
class TTargaGraphic : public TDecoderGraphic {
    PALVEX_GRAPHIC_CLASS(TTargaGraphic)

public:
    const char* FormatName() const override { return "Targa"; }
};

} // namespace palvex
