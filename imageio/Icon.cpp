#include "imageio/Icon.h"

#include "platform/Errors.h"

namespace palvex {

PALVEX_DEFINE_GRAPHIC_CLASS(TIcon, TGraphic)

void TIcon::DrawInto(TBitmap32& canvas, const TRect& rect) const
{
    DrawPixels(canvas, rect, [](TColor32& out, TColor32 f) { out = IconPixelOver(out, f); });
}

TColor32 IconPixelOver(TColor32 back, TColor32 f)
{
    const uint32_t a = AlphaComponent(f);
    if (a == 0)
        return back;
    if (a == 255)
        return f;
    auto mix = [a](uint32_t fc, uint32_t bc) { return (fc * a + bc * (255 - a) + 127) / 255; };
    return Color32(static_cast<uint8_t>(mix(RedComponent(f), RedComponent(back))),
                   static_cast<uint8_t>(mix(GreenComponent(f), GreenComponent(back))),
                   static_cast<uint8_t>(mix(BlueComponent(f), BlueComponent(back))),
                   static_cast<uint8_t>(AlphaComponent(back)));
}

TColor32 IconPixelAsCopied(TColor32 f)
{
    // Drawn over two colours: where they show through, the pixel is transparent.
    const TColor32 overBlue = IconPixelOver(0xFF0000FF, f) & 0x00FFFFFF;
    const TColor32 overRed = IconPixelOver(0xFFFF0000, f) & 0x00FFFFFF;
    return overBlue == overRed ? overBlue | 0xFF000000 : overBlue;
}

} // namespace palvex
