// TBitmap32::LoadPictureFile lives with the picture kinds, since it needs the
// picture registry that sits above the raster layer.
#include "imageio/Picture.h"
#include "raster/Bitmap32.h"

namespace palvex {

void TBitmap32::LoadPictureFile(const std::string& fileName)
{
    TPicture picture;
    picture.LoadFile(fileName);
    AssignFrom(&picture);
}

} // namespace palvex
