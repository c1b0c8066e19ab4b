#include "imageio/decoders/RLAGraphic.h"

namespace palvex {

PALVEX_DEFINE_GRAPHIC_CLASS(TRLAGraphic, TDecoderGraphic)

} // namespace palvex
