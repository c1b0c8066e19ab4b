// TTIFFGraphic: the TIFF and fax reader.
#pragma once

#include "imageio/decoders/DecoderGraphic.h"

namespace palvex {

// Not read yet: every load fails with the family's "invalid format" message.
class TTIFFGraphic : public TDecoderGraphic {
    PALVEX_GRAPHIC_CLASS(TTIFFGraphic)

public:
    const char* FormatName() const override { return "TIFF"; }
};

} // namespace palvex
