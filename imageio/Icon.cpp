#include "imageio/Icon.h"

#include "platform/Errors.h"

namespace palvex {

PALVEX_DEFINE_GRAPHIC_CLASS(TIcon, TGraphic)

void TIcon::SetImage(int32_t width, int32_t height, std::vector<TColor32> pixels)
{
    m_width = width;
    m_height = height;
    m_pixels = std::move(pixels);
    Changed();
}

void TIcon::DrawInto(TBitmap32& canvas, const TRect& rect) const
{
    if (Empty())
        return;
    DrawPixelsScaled(canvas, rect, m_pixels.data(), m_width, m_height, [](TColor32& out, TColor32 f) {
        const uint32_t a = AlphaComponent(f);
        if (a == 0)
            return;
        if (a == 255) {
            out = f;
            return;
        }
        const TColor32 b = out;
        auto mix = [a](uint32_t fc, uint32_t bc) { return (fc * a + bc * (255 - a) + 127) / 255; };
        out = Color32(static_cast<uint8_t>(mix(RedComponent(f), RedComponent(b))),
                      static_cast<uint8_t>(mix(GreenComponent(f), GreenComponent(b))),
                      static_cast<uint8_t>(mix(BlueComponent(f), BlueComponent(b))),
                      static_cast<uint8_t>(AlphaComponent(b)));
    });
}

} // namespace palvex
