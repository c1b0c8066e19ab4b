// TEPSGraphic: the preview picture of an Encapsulated PostScript file.
#pragma once

#include "imageio/decoders/DecoderGraphic.h"

namespace palvex {

// PostScript is never run: the picture is the preview the file carries. A
// DOS binary header's TIFF preview is read by the TIFF reader, its WMF
// preview by the metafile kind (on white); a plain file's EPSI hex preview
// (%%BeginPreview) is read as gray. A file without any preview is refused.
class TEPSGraphic : public TDecoderGraphic {
    PALVEX_GRAPHIC_CLASS(TEPSGraphic)

public:
    const char* FormatName() const override { return "EPS"; }

protected:
    void Decode(std::span<const uint8_t> data) override;

private:
    void DecodeTiffPreview(std::span<const uint8_t> tiff);
    void DecodeWmfPreview(std::span<const uint8_t> wmf);
    bool DecodeHexPreview(std::span<const uint8_t> text);
};

} // namespace palvex
