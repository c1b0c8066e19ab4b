#include "imageio/decoders/PSDGraphic.h"

namespace palvex {

PALVEX_DEFINE_GRAPHIC_CLASS(TPSDGraphic, TDecoderGraphic)

} // namespace palvex
