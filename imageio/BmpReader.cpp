// Placeholder until the BMP reader lands.
#include "imageio/Bitmap.h"
#include "platform/Errors.h"

namespace palvex {

void TBitmap::LoadStream(TStream&)
{
    throw EInvalidGraphic("Bitmap image is not valid");
}

} // namespace palvex
