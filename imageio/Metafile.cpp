#include "imageio/Metafile.h"

#include "platform/Errors.h"

namespace palvex {

PALVEX_DEFINE_GRAPHIC_CLASS(TMetafile, TGraphic)

void TMetafile::LoadStream(TStream& stream)
{
    (void)stream;
    throw EInvalidGraphic("Metafile is not valid");
}

void TMetafile::DrawInto(TBitmap32& canvas, const TRect& rect) const
{
    (void)canvas;
    (void)rect;
}

} // namespace palvex
