// TGIFImage: GIF pictures; the first frame, drawn onto the canvas.
#pragma once

#include "imageio/Graphic.h"

namespace palvex {

// Not read yet: every load fails with the family's "invalid format" message.
class TGIFImage : public TGraphic {
    PALVEX_GRAPHIC_CLASS(TGIFImage)

public:
    void LoadStream(TStream& stream) override;
    int32_t Width() const override { return 0; }
    int32_t Height() const override { return 0; }
    bool Empty() const override { return true; }
    void DrawInto(TBitmap32& canvas, const TRect& rect) const override;
};

} // namespace palvex
