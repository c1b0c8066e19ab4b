// Placeholder until the ICO reader lands.
#include "imageio/Icon.h"
#include "platform/Errors.h"

namespace palvex {

void TIcon::LoadStream(TStream&)
{
    throw EInvalidGraphic("Icon image is not valid");
}

} // namespace palvex
