#include "imageio/decoders/CUTGraphic.h"

namespace palvex {

PALVEX_DEFINE_GRAPHIC_CLASS(TCUTGraphic, TDecoderGraphic)

} // namespace palvex
