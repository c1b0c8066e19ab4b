// TMetafile: vector pictures (WMF, EMF) that draw themselves.
#pragma once

#include "imageio/Graphic.h"

namespace palvex {

class TMetafile : public TGraphic {
    PALVEX_GRAPHIC_CLASS(TMetafile)

public:
    TMetafile() = default;

    // Metafiles are not read yet: every load fails with "Metafile is not valid".
    void LoadStream(TStream& stream) override;

    int32_t Width() const override { return m_width; }
    int32_t Height() const override { return m_height; }
    bool Empty() const override { return true; }
    void DrawInto(TBitmap32& canvas, const TRect& rect) const override;

private:
    int32_t m_width = 0;
    int32_t m_height = 0;
};

} // namespace palvex
