// TBitmap32::LoadPictureFile lives with the picture kinds, since it needs the
// picture registry that sits above the raster layer.
#include "imageio/JPEGImage.h"
#include "imageio/Picture.h"
#include "raster/Bitmap32.h"

namespace palvex {

void TBitmap32::LoadPictureFile(const std::string& fileName)
{
    TPicture picture;
    picture.LoadFile(fileName);
    // Some kinds (JPEG) decode only when drawn, so the copy can still fail;
    // it runs into a scratch bitmap that replaces this one's pixels on success.
    TBitmap32 loaded;
    CopyPicturePixels(picture, loaded);
    picture.SetGraphic(nullptr);
    AdoptPixels(loaded);
}

void CopyPicturePixels(const TPicture& picture, TBitmap32& target)
{
    if (const auto* jpeg = dynamic_cast<const TJPEGImage*>(picture.Graphic()))
        jpeg->DecodeInto(target);
    else
        target.AssignFrom(&picture);
}

} // namespace palvex
