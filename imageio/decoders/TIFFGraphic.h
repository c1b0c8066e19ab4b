// TTIFFGraphic: the TIFF and fax reader (libtiff).
#pragma once

#include "imageio/decoders/DecoderGraphic.h"

namespace palvex {

// The first page of a TIFF file, and headerless G3 fax streams (read as a
// one-strip TIFF 2592 pixels wide). 8- and 16-bit gray and RGB, with or
// without alpha, are read sample by sample (16 bits rounded to 8, alpha kept
// straight in a 32-bit bitmap); every other kind goes through libtiff's RGBA
// interface. Rows are given as stored; the Orientation tag is not applied.
class TTIFFGraphic : public TDecoderGraphic {
    PALVEX_DECODER_CLASS(TTIFFGraphic, "TIFF")

private:
    [[noreturn]] void Fail(const struct TiffReadState& state) const;
    void DecodeSamples(struct TiffReadState& state, const struct TiffLayout& layout);
    void DecodeRGBA(struct TiffReadState& state, const struct TiffLayout& layout);
};

} // namespace palvex
