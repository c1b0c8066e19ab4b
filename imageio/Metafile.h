// TMetafile: vector pictures (WMF, EMF) played once at their own size; the
// picture is what the records covered.
#pragma once

#include <vector>

#include "imageio/Graphic.h"

namespace palvex {

// Pixels per inch at which a metafile's physical size becomes its picture
// size: the screen resolution Windows programs assume.
inline constexpr int kMetafilePixelsPerInch = 96;

class TMetafile : public TGraphic {
    PALVEX_GRAPHIC_CLASS(TMetafile)

public:
    // Reads a placeable or plain Windows metafile or an enhanced metafile
    // and plays its records; anything refused: "Metafile is not valid".
    void LoadStream(TStream& stream) override;
    // The header is read at once; the records are played into the whole
    // picture at its first row, with the transparency mask of LoadStream.
    std::unique_ptr<TPictureReader> OpenRows(TStream& stream) override;

    int32_t Width() const override { return m_width; }
    int32_t Height() const override { return m_height; }
    bool Empty() const override { return m_pixels.empty(); }
    bool Enhanced() const { return m_enhanced; }

    // The played picture, rows top to bottom: alpha 255 where the records
    // drew, 0 where the background shows.
    const std::vector<TColor32>& Pixels() const { return m_pixels; }

    // Covered pixels replace the canvas; the rest leave it as it is.
    void DrawInto(TBitmap32& canvas, const TRect& rect) const override;

private:
    int32_t m_width = 0;
    int32_t m_height = 0;
    bool m_enhanced = false;
    std::vector<TColor32> m_pixels;
};

} // namespace palvex
