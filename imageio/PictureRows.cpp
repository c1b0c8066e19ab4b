#include "imageio/PictureRows.h"

#include "imageio/JPEGImage.h"
#include "imageio/Picture.h"

namespace palvex {

TPictureRows::TPictureRows(const std::string& fileName)
{
    TPicture picture;
    picture.LoadFile(fileName);
    auto* jpeg = dynamic_cast<TJPEGImage*>(picture.Graphic());
    if (jpeg)
        m_jpeg = jpeg->OpenRows();
    if (m_jpeg) {
        m_source = m_jpeg.get();
        return;
    }
    if (jpeg)
        jpeg->DecodeInto(m_whole);
    else
        m_whole.AssignFrom(&picture);
    m_wholeRows = std::make_unique<TBitmapRows>(m_whole);
    m_source = m_wholeRows.get();
}

TPictureRows::~TPictureRows() = default;

void TPictureRows::Finish()
{
    if (m_jpeg)
        m_jpeg->Finish();
}

} // namespace palvex
