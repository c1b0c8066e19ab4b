// StretchCopy: a rectangle of one bitmap scaled onto a rectangle of another,
// clipped, with one of seven filters and one of three combine modes.
#pragma once

#include "raster/Bitmap32.h"
#include "raster/RasterTypes.h"
#include "raster/Rect.h"
#include "raster/RowSource.h"

namespace palvex {

// destination and source are pointers because an absent bitmap is an error the
// call reports ("... bitmap is nil or empty").
void StretchCopy(TBitmap32* destination, TRect destRect, TRect clipRect, const TBitmap32* source, TRect sourceRect,
                 TStretchFilter filter, TDrawMode combineMode, const TPixelCombineEvent& pixelEvent);

// The whole of source onto the whole of destination, dmOpaque: the pixels of
// StretchCopy from a bitmap of source's rows, read top to bottom and only as
// many at once as the path needs (a source may hold no more than that).
void StretchRows(TBitmap32& destination, TRowSource& source, TStretchFilter filter);

} // namespace palvex
