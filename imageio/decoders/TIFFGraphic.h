// TTIFFGraphic: the TIFF and fax reader (libtiff).
#pragma once

#include "imageio/decoders/DecoderGraphic.h"

namespace palvex {

// The first page of a TIFF file, and headerless G3 fax streams (read as a
// one-strip TIFF 2592 pixels wide). Gray, RGB and CMYK samples are read
// sample by sample, row by row (strips a row at a time, tiles a row of tiles
// at a time; 16 bits rounded to 8, alpha kept straight); every other kind goes
// through libtiff's RGBA interface, whole, into the 32-bit picture. Rows are
// given as stored; the Orientation tag is not applied.
class TTIFFGraphic : public TDecoderGraphic {
    PALVEX_DECODER_CLASS(TTIFFGraphic, "TIFF")
};

} // namespace palvex
