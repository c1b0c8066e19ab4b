// TAutodeskGraphic: the Autodesk Animator reader.
#pragma once

#include "imageio/decoders/DecoderGraphic.h"

namespace palvex {

// Three layouts share the extensions, told apart by their magic numbers:
// Animator cels and pictures (header, 6-bit palette, raw indices), Animator
// Pro pictures (chunks: colour map, 8-bit indices or a 1-bit mask) and Animator
// Pro cels, which are FLIC animations of which the first frame is the picture.
// A picture without a colour map of its own gets Animator's default colours.
// An Animator cel is put back at its offset on the 320x200 screen it was cut
// from (grown to hold all of it); Animator Pro offsets and cel centres are
// only informational there, so those pictures are the file's own size.
class TAutodeskGraphic : public TDecoderGraphic {
    PALVEX_DECODER_CLASS(TAutodeskGraphic, "Autodesk")
};

} // namespace palvex
