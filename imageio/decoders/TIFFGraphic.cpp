#include "imageio/decoders/TIFFGraphic.h"

namespace palvex {

PALVEX_DEFINE_GRAPHIC_CLASS(TTIFFGraphic, TDecoderGraphic)

} // namespace palvex
