// TPicture loading, and the copies of the held picture into a TBitmap32.
#include "imageio/Picture.h"

#include "imageio/Bitmap.h"
#include "imageio/FileFormats.h"
#include "imageio/Icon.h"
#include "imageio/Metafile.h"
#include "platform/Errors.h"

namespace palvex {

namespace {

// Icons and metafiles: drawn once over blue and once over red; where the two
// agree the picture covered the pixel.
void CopyWithMask(TBitmap32& target, const TGraphic& graphic, int32_t width, int32_t height)
{
    target.SetSize(graphic.Width(), graphic.Height());
    if (target.IsEmpty())
        return;
    const TRect rect{0, 0, width, height};
    target.FillAll(0xFF0000FF);
    graphic.DrawInto(target, rect);
    TBitmap32 red;
    red.SetSize(graphic.Width(), graphic.Height());
    red.FillAll(0xFFFF0000);
    graphic.DrawInto(red, rect);
    TColor32* p = target.PixelData();
    const TColor32* q = red.PixelData();
    const size_t n = std::min(static_cast<size_t>(width) * static_cast<size_t>(height), target.PixelCount());
    for (size_t i = 0; i < n; ++i) {
        const TColor32 c = p[i] & 0x00FFFFFF;
        p[i] = (q[i] & 0x00FFFFFF) == c ? (c | 0xFF000000) : c;
    }
}

} // namespace

void TPicture::SetGraphic(std::unique_ptr<TGraphic> graphic)
{
    m_graphic = std::move(graphic);
    if (m_graphic)
        Attach(*m_graphic);
    Changed();
}

TBitmap& TPicture::Bitmap()
{
    if (!dynamic_cast<TBitmap*>(m_graphic.get()))
        SetGraphic(std::make_unique<TBitmap>());
    return static_cast<TBitmap&>(*m_graphic);
}

void TPicture::Attach(TGraphic& graphic)
{
    graphic.OnChange = [this](TPersistent&) { Changed(); };
    graphic.OnProgress = [this](TGraphic& sender, TProgressStage stage, int percent) {
        if (OnProgress)
            OnProgress(sender, stage, percent);
    };
}

std::unique_ptr<TGraphic> CreateGraphicFor(const std::string& fileName)
{
    const std::string ext = ExtractFileExt(fileName);
    const std::string bare = ext.empty() ? std::string() : ext.substr(1);
    const TGraphicClass* cls = FileFormats().FindClassForExtension(bare);
    if (!cls || !cls->Create)
        throw EInvalidGraphic(Format("Unknown picture file extension (.%s)", bare.c_str()));
    return cls->Create();
}

void CopyGraphicPixels(const TGraphic& graphic, TBitmap32& target)
{
    if (dynamic_cast<const TIcon*>(&graphic) || dynamic_cast<const TMetafile*>(&graphic))
        CopyWithMask(target, graphic, graphic.Width(), graphic.Height());
    else
        graphic.AssignTo(target);
}

void TPicture::LoadFile(const std::string& fileName)
{
    std::unique_ptr<TGraphic> graphic = CreateGraphicFor(fileName);
    graphic->OnProgress = [this](TGraphic& sender, TProgressStage stage, int percent) {
        if (OnProgress)
            OnProgress(sender, stage, percent);
    };
    graphic->LoadFile(fileName);
    m_graphic = std::move(graphic);
    Attach(*m_graphic);
    Changed();
}

void TPicture::Changed()
{
    if (OnChange)
        OnChange(*this);
}

void TPicture::AssignTo(TPersistent& dest) const
{
    auto* bitmap = dynamic_cast<TBitmap32*>(&dest);
    if (!bitmap) {
        TPersistent::AssignTo(dest);
        return;
    }
    if (!m_graphic) {
        bitmap->SetSize(0, 0);
        return;
    }
    if (dynamic_cast<const TBitmap*>(m_graphic.get())) {
        m_graphic->AssignTo(*bitmap);
    } else if (dynamic_cast<const TIcon*>(m_graphic.get()) || dynamic_cast<const TMetafile*>(m_graphic.get())) {
        CopyWithMask(*bitmap, *m_graphic, Width(), Height());
    } else {
        ClearIfNew(*bitmap, bitmap->SetSize(m_graphic->Width(), m_graphic->Height()));
        if (!bitmap->IsEmpty()) {
            m_graphic->DrawInto(*bitmap, TRect{0, 0, Width(), Height()});
            bitmap->MakeOpaque();
        }
    }
}

bool TPicture::TakeFrom(const TPersistent& source)
{
    if (!dynamic_cast<const TBitmap32*>(&source))
        return false;
    return Bitmap().TakeFrom(source);
}

} // namespace palvex
