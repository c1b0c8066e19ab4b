// Placeholder until the libjpeg wrapper lands: the class and its registrations.
#include "imageio/JPEGImage.h"

#include "imageio/FileFormats.h"
#include "platform/Errors.h"

namespace palvex {

PALVEX_DEFINE_GRAPHIC_CLASS(TJPEGImage, TGraphic)

TJPEGDefaults& JPEGDefaults()
{
    static TJPEGDefaults defaults;
    return defaults;
}

TJPEGImage::TJPEGImage() : m_data(std::make_shared<TJPEGData>()) {}
TJPEGImage::~TJPEGImage() = default;

void TJPEGImage::AssignFrom(const TPersistent* source)
{
    TGraphic::AssignFrom(source);
}
void TJPEGImage::LoadStream(TStream&)
{
    throw EJPEG("JPEG error #0");
}
void TJPEGImage::SaveStream(TStream&) {}
TBitmap& TJPEGImage::DecodedBitmap()
{
    if (!m_bitmap)
        m_bitmap = std::make_unique<TBitmap>();
    return *m_bitmap;
}
int32_t TJPEGImage::Width() const { return m_bitmap ? m_bitmap->Width() : m_data->Width; }
int32_t TJPEGImage::Height() const { return m_bitmap ? m_bitmap->Height() : m_data->Height; }
void TJPEGImage::SetWidth(int32_t)
{
    throw EInvalidGraphicOperation("Cannot change the size of a JPEG image");
}
void TJPEGImage::SetHeight(int32_t)
{
    throw EInvalidGraphicOperation("Cannot change the size of a JPEG image");
}
bool TJPEGImage::Empty() const { return !m_data->Data && (!m_bitmap || m_bitmap->Empty()); }
void TJPEGImage::DrawInto(TBitmap32&, const TRect&) const {}

void RegisterJPEGFormats()
{
    FileFormats().RegisterFormat("jpeg", "JPEG Image File", TJPEGImage::StaticClass());
    FileFormats().RegisterFormat("jpg", "JPEG Image File", TJPEGImage::StaticClass());
}

void UnregisterJPEGFormats()
{
    FileFormats().RemoveFormatsOf(TJPEGImage::StaticClass());
}

} // namespace palvex
