// TAutodeskGraphic: the Autodesk Animator reader.
#pragma once

#include "imageio/decoders/DecoderGraphic.h"

namespace palvex {

// Three layouts share the extensions, told apart by their magic numbers:
// Animator cels and pictures (header, 6-bit palette, raw indices), Animator
// Pro pictures (chunks: colour map, 8-bit indices or a 1-bit mask) and Animator
// Pro cels, which are FLIC animations of which the first frame is the picture.
// A picture without a colour map of its own gets the grey ramp. Placement
// offsets are read but not applied: a cel is its own picture.
class TAutodeskGraphic : public TDecoderGraphic {
    PALVEX_DECODER_CLASS(TAutodeskGraphic, "Autodesk")
};

} // namespace palvex
