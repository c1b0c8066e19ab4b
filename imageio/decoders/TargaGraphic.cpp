#include "imageio/decoders/TargaGraphic.h"

namespace palvex {

PALVEX_DEFINE_GRAPHIC_CLASS(TTargaGraphic, TDecoderGraphic)

} // namespace palvex
