#include "raster/Color32.h"

namespace palvex {

TColor SystemColor(int index)
{
    // A fixed light desktop palette: window, text and face colours as the
    // classic defaults; anything else is the button face grey.
    switch (index) {
    case 5: return 0x00FFFFFF;  // window
    case 8: return 0x00000000;  // window text
    case 15: return 0x00F0F0F0; // button face
    default: return 0x00F0F0F0;
    }
}

TColor32 Color32(TColor color)
{
    if (color < 0)
        color = SystemColor(color & 0xFF);
    const uint32_t c = static_cast<uint32_t>(color);
    return 0xFF000000u | ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
}

} // namespace palvex
