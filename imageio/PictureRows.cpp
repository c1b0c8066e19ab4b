#include "imageio/PictureRows.h"

#include "imageio/Picture.h"

namespace palvex {

TPictureRows::TPictureRows(const std::string& fileName, TPictureLoadOptions options)
{
    m_graphic = CreateGraphicFor(fileName);
    m_stream = std::make_unique<TFileStream>(fileName, TFileStream::Mode::OpenRead);
    Open(options);
}

TPictureRows::TPictureRows(std::unique_ptr<TGraphic> graphic, std::unique_ptr<TStream> stream,
                           TPictureLoadOptions options)
    : m_stream(std::move(stream)), m_graphic(std::move(graphic))
{
    Open(options);
}

void TPictureRows::Open(TPictureLoadOptions options)
{
    m_reader = m_graphic->OpenRows(*m_stream);
    if (options.ColorProfile)
        m_converts = m_reader->ConvertToSRGB();
    if (options.Orientation && m_reader->Orientation() != 1)
        m_turned = std::make_unique<TOrientedRows>(*m_reader, m_reader->Orientation());
}

// Members go in reverse: the reader before the picture and stream it uses.
TPictureRows::~TPictureRows() = default;

void TPictureRows::Finish()
{
    if (m_turned)
        m_turned->Finish();
    else
        m_reader->Finish();
}

void TPictureRows::ReadAll(TBitmap32& target)
{
    if (m_turned)
        m_turned->ReadAll(target);
    else
        m_reader->ReadAll(target);
}

void LoadPictureFile(TBitmap32& bitmap, const std::string& fileName, TPictureLoadOptions options)
{
    TPictureRows rows(fileName, options);
    TBitmap32 loaded;
    rows.ReadAll(loaded);
    bitmap.AdoptPixels(loaded);
}

} // namespace palvex
