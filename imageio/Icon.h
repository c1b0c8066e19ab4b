// TIcon: one image of an icon file, held as straight-alpha 32-bit pixels
// (the AND mask becomes alpha 0). It draws itself over what is there.
#pragma once

#include <vector>

#include "imageio/Graphic.h"

namespace palvex {

class TIcon : public TPixelsGraphic {
    PALVEX_GRAPHIC_CLASS(TIcon)

public:
    // Reads an ICO file and keeps its largest, deepest image ("Icon image is not valid").
    void LoadStream(TStream& stream) override;
    // The same image's rows; a PNG image is not held whole.
    std::unique_ptr<TPictureReader> OpenRows(TStream& stream) override;

    // The image the icon holds: width x height pixels, rows top to bottom.
    void SetImage(int32_t width, int32_t height, std::vector<TColor32> pixels)
    {
        SetPixels(width, height, std::move(pixels));
    }

    // Alpha 0 leaves the canvas, 255 replaces it, values between blend.
    void DrawInto(TBitmap32& canvas, const TRect& rect) const override;
};

// pixel drawn over back, as an icon draws itself.
TColor32 IconPixelOver(TColor32 back, TColor32 pixel);
// pixel as an icon's picture is copied out (TPicture, CopyGraphicPixels):
// opaque, or transparent where the canvas showed through.
TColor32 IconPixelAsCopied(TColor32 pixel);

} // namespace palvex
