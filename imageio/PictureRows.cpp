#include "imageio/PictureRows.h"

#include "imageio/Picture.h"

namespace palvex {

TPictureRows::TPictureRows(const std::string& fileName)
{
    m_graphic = CreateGraphicFor(fileName);
    m_stream = std::make_unique<TFileStream>(fileName, TFileStream::Mode::OpenRead);
    m_reader = m_graphic->OpenRows(*m_stream);
}

// Members go in reverse: the reader before the picture and stream it uses.
TPictureRows::~TPictureRows() = default;

void LoadPictureFile(TBitmap32& bitmap, const std::string& fileName)
{
    TPictureRows rows(fileName);
    TBitmap32 loaded;
    rows.ReadAll(loaded);
    bitmap.AdoptPixels(loaded);
}

} // namespace palvex
