// TAutodeskGraphic: the Autodesk Animator reader.
#pragma once

#include "imageio/decoders/DecoderGraphic.h"

namespace palvex {

// Not read yet: every load fails with the family's "invalid format" message.
class TAutodeskGraphic : public TDecoderGraphic {
    PALVEX_GRAPHIC_CLASS(TAutodeskGraphic)

public:
    const char* FormatName() const override { return "Autodesk"; }
};

} // namespace palvex
