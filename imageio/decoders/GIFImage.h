// TGIFImage: GIF pictures; the first frame, drawn onto the canvas.
#pragma once

#include <cstdint>
#include <vector>

#include "imageio/Graphic.h"
#include "raster/Color32.h"

namespace palvex {

// The first frame of a GIF file composed on its logical screen: the screen
// outside the frame and the frame's transparent index have alpha 0, every
// other pixel alpha 255. The file's bytes are kept, so saving writes them back.
class TGIFImage : public TGraphic {
    PALVEX_GRAPHIC_CLASS(TGIFImage)

public:
    // Reads the whole stream; failures are GIFException with giflib's error
    // turned into "Invalid GIF signature", "Unknown GIF block type",
    // "Premature end of data" or "Corrupt GIF image data".
    void LoadStream(TStream& stream) override;
    // Writes the loaded file back unchanged.
    void SaveStream(TStream& stream) override;
    // The rows as the drawn picture gives them (made opaque: transparent
    // pixels black), decoded as they are asked for; an interlaced frame is
    // decoded whole into its palette indexes first.
    std::unique_ptr<TPictureReader> OpenRows(TStream& stream) override;

    int32_t Width() const override { return m_width; }
    int32_t Height() const override { return m_height; }
    bool Empty() const override { return m_pixels.empty(); }

    // The composed screen, width x height straight-alpha pixels, top to bottom.
    const std::vector<TColor32>& Pixels() const { return m_pixels; }

    // Transparent pixels leave the canvas as it is; the others replace it.
    void DrawInto(TBitmap32& canvas, const TRect& rect) const override;

private:
    std::vector<uint8_t> m_data;
    int32_t m_width = 0;
    int32_t m_height = 0;
    std::vector<TColor32> m_pixels;
};

} // namespace palvex
