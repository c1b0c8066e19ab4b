#include "imageio/decoders/PCXGraphic.h"

namespace palvex {

PALVEX_DEFINE_GRAPHIC_CLASS(TPCXGraphic, TDecoderGraphic)

} // namespace palvex
