#include "imageio/decoders/PCDGraphic.h"

namespace palvex {

PALVEX_DEFINE_GRAPHIC_CLASS(TPCDGraphic, TDecoderGraphic)

} // namespace palvex
