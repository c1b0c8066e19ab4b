#include "imageio/decoders/AutodeskGraphic.h"

namespace palvex {

PALVEX_DEFINE_GRAPHIC_CLASS(TAutodeskGraphic, TDecoderGraphic)

} // namespace palvex
