#include "imageio/decoders/PNGGraphic.h"

namespace palvex {

PALVEX_DEFINE_GRAPHIC_CLASS(TPNGGraphic, TDecoderGraphic)

} // namespace palvex
