#include "imageio/decoders/SGIGraphic.h"

namespace palvex {

PALVEX_DEFINE_GRAPHIC_CLASS(TSGIGraphic, TDecoderGraphic)

} // namespace palvex
