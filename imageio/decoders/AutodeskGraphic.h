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
    PALVEX_GRAPHIC_CLASS(TAutodeskGraphic)

public:
    const char* FormatName() const override { return "Autodesk"; }

protected:
    void Decode(std::span<const uint8_t> data) override;

private:
    void DecodeAnimator(TByteReader& in);
    void DecodeProPicture(TByteReader& in);
    void DecodeFlic(TByteReader& in);
    void StoreIndexed(uint16_t width, uint16_t height, std::span<const uint8_t> indices,
                      std::span<const TColor32> palette);
};

} // namespace palvex
