// TPCXGraphic: the ZSoft Paintbrush reader.
#pragma once

#include "imageio/decoders/DecoderGraphic.h"

namespace palvex {

// Not read yet: every load fails with the family's "invalid format" message.
class TPCXGraphic : public TDecoderGraphic {
    PALVEX_GRAPHIC_CLASS(TPCXGraphic)

public:
    const char* FormatName() const override { return "PCX"; }
};

} // namespace palvex
