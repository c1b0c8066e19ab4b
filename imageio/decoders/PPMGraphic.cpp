#include "imageio/decoders/PPMGraphic.h"

namespace palvex {

PALVEX_DEFINE_GRAPHIC_CLASS(TPPMGraphic, TDecoderGraphic)

} // namespace palvex
