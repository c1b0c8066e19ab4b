#include "imageio/PictureRows.h"

#include "imageio/JPEGImage.h"
#include "imageio/Picture.h"

namespace palvex {

TPictureRows::TPictureRows(const std::string& fileName)
{
    TPicture picture;
    picture.LoadFile(fileName);
    if (const auto* jpeg = dynamic_cast<const TJPEGImage*>(picture.Graphic()))
        m_jpeg = jpeg->OpenRows();
    if (m_jpeg) {
        m_source = m_jpeg.get();
        return;
    }
    CopyPicturePixels(picture, m_whole);
    m_source = &m_wholeRows;
}

TPictureRows::~TPictureRows() = default;

void TPictureRows::Finish()
{
    if (m_jpeg)
        m_jpeg->Finish();
}

} // namespace palvex
