// TPCDGraphic: the Kodak Photo CD reader.
#pragma once

#include "imageio/decoders/DecoderGraphic.h"

namespace palvex {

// A Photo CD image pack at its Base level (768x512), turned upright when the
// file marks the picture as portrait. The higher levels (4Base, 16Base) are
// not read.
class TPCDGraphic : public TDecoderGraphic {
    PALVEX_GRAPHIC_CLASS(TPCDGraphic)

public:
    const char* FormatName() const override { return "PCD"; }

    std::unique_ptr<TPictureReader> OpenRows(TStream& stream) override;
};

} // namespace palvex
