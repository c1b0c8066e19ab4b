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
    const TRect clip = IntersectRect(rect, canvas.FullRect());
    if (Empty() || IsRectEmpty(clip) || IsRectEmpty(rect))
        return;
    const int64_t rw = rect.Width(), rh = rect.Height();
    for (int32_t y = clip.Top; y < clip.Bottom; ++y) {
        const auto sy = static_cast<size_t>((static_cast<int64_t>(y - rect.Top) * m_height) / rh);
        const TColor32* in = m_pixels.data() + sy * static_cast<size_t>(m_width);
        TColor32* out = canvas.RowAddress(y);
        for (int32_t x = clip.Left; x < clip.Right; ++x) {
            const TColor32 f = in[(static_cast<int64_t>(x - rect.Left) * m_width) / rw];
            const uint32_t a = AlphaComponent(f);
            if (a == 0)
                continue;
            if (a == 255) {
                out[x] = f;
                continue;
            }
            const TColor32 b = out[x];
            auto mix = [a](uint32_t fc, uint32_t bc) { return (fc * a + bc * (255 - a) + 127) / 255; };
            out[x] = Color32(static_cast<uint8_t>(mix(RedComponent(f), RedComponent(b))),
                             static_cast<uint8_t>(mix(GreenComponent(f), GreenComponent(b))),
                             static_cast<uint8_t>(mix(BlueComponent(f), BlueComponent(b))),
                             static_cast<uint8_t>(AlphaComponent(b)));
        }
    }
    canvas.NotifyChanged();
}

} // namespace palvex
