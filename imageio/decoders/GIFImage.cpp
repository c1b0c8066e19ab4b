#include "imageio/decoders/GIFImage.h"

#include "platform/Errors.h"

namespace palvex {

PALVEX_DEFINE_GRAPHIC_CLASS(TGIFImage, TGraphic)

void TGIFImage::LoadStream(TStream&)
{
    throw EInvalidGraphic("Cannot load image. Invalid or unexpected GIF image format.");
}

void TGIFImage::DrawInto(TBitmap32&, const TRect&) const {}

} // namespace palvex
