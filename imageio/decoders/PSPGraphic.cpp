#include "imageio/decoders/PSPGraphic.h"

namespace palvex {

PALVEX_DEFINE_GRAPHIC_CLASS(TPSPGraphic, TDecoderGraphic)

} // namespace palvex
