#include "imageio/decoders/EPSGraphic.h"

namespace palvex {

PALVEX_DEFINE_GRAPHIC_CLASS(TEPSGraphic, TDecoderGraphic)

} // namespace palvex
