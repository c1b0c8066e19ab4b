// TRLAGraphic: the Alias/Wavefront reader.
#pragma once

#include "imageio/decoders/DecoderGraphic.h"

namespace palvex {

// Not read yet: every load fails with the family's "invalid format" message.
class TRLAGraphic : public TDecoderGraphic {
    PALVEX_GRAPHIC_CLASS(TRLAGraphic)

public:
    const char* FormatName() const override { return "RLA"; }
};

} // namespace palvex
