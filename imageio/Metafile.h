// TMetafile: vector pictures (WMF, EMF) played once at their own size; the
// picture is what the records covered.
#pragma once

#include <vector>

#include "imageio/Graphic.h"

namespace palvex {

// Pixels per inch at which a metafile's physical size becomes its picture
// size: the screen resolution Windows programs assume.
inline constexpr int kMetafilePixelsPerInch = 96;

class TMetafile : public TPixelsGraphic {
    PALVEX_GRAPHIC_CLASS(TMetafile)

public:
    // Reads a placeable or plain Windows metafile or an enhanced metafile
    // and plays its records; anything refused: "Metafile is not valid".
    void LoadStream(TStream& stream) override;
    // The header is read at once; the records are played into the whole
    // picture at its first row, with the transparency mask of LoadStream.
    std::unique_ptr<TPictureReader> OpenRows(TStream& stream) override;

    bool Enhanced() const { return m_enhanced; }
    // Pixels(): the played picture, alpha 255 where the records drew, 0
    // where the background shows.

    // Covered pixels replace the canvas; the rest leave it as it is.
    void DrawInto(TBitmap32& canvas, const TRect& rect) const override;

private:
    bool m_enhanced = false;
};

} // namespace palvex
