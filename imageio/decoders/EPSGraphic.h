// TEPSGraphic: the preview picture of an Encapsulated PostScript file.
#pragma once

#include "imageio/decoders/DecoderGraphic.h"

namespace palvex {

// PostScript is never run: the picture is the preview the file carries. A
// DOS binary header's TIFF preview is read by the TIFF reader, its WMF
// preview by the metafile kind (on white); a plain file's EPSI hex preview
// (%%BeginPreview) is read as gray. A file without any preview is refused.
class TEPSGraphic : public TDecoderGraphic {
    PALVEX_DECODER_CLASS(TEPSGraphic, "EPS")
};

} // namespace palvex
