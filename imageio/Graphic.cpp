#include "imageio/Graphic.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "imageio/Picture.h"
#include "imageio/PictureReader.h"
#include "imageio/Streams.h"
#include "platform/Errors.h"

namespace palvex {

bool TGraphicClass::InheritsFrom(const TGraphicClass& base) const
{
    for (const TGraphicClass* c = this; c; c = c->Parent)
        if (c == &base)
            return true;
    return false;
}

const TGraphicClass& TGraphic::StaticClass()
{
    static const TGraphicClass info{"TGraphic", nullptr, nullptr};
    return info;
}

namespace {

// A picture loaded whole, taken into 32-bit pixels once by its kind's copy.
class TLoadedPictureReader final : public TPictureReader {
public:
    explicit TLoadedPictureReader(const TGraphic& graphic) : m_graphic(graphic)
    {
        SetPicture(graphic.Width(), graphic.Height(), /*alpha=*/true, TFill::Whole);
    }

private:
    void ReadWhole(TBitmap32& picture) override
    {
        // Drawn kinds draw onto a cleared block, as onto a new bitmap.
        ClearIfNew(picture, true);
        CopyGraphicPixels(m_graphic, picture);
    }

    const TGraphic& m_graphic;
};

} // namespace

std::unique_ptr<TPictureReader> TGraphic::OpenRows(TStream& stream)
{
    LoadStream(stream);
    return std::make_unique<TLoadedPictureReader>(*this);
}

void TGraphic::LoadFile(const std::string& fileName)
{
    TFileStream stream(fileName, TFileStream::Mode::OpenRead);
    LoadStream(stream);
}

void TGraphic::SaveStream(TStream& stream)
{
    (void)stream;
    throw EInvalidGraphicOperation(Format("Cannot save a %s", ClassName()));
}

void TGraphic::SaveFile(const std::string& fileName)
{
    TMemoryStream memory;
    SaveStream(memory);
    WriteBytesToFile(fileName, memory.Bytes().data(), memory.Bytes().size(), false);
}

void WriteBytesToFile(const std::string& fileName, const uint8_t* data, size_t size, bool exclusive)
{
    TFileStream file(fileName,
                     exclusive ? TFileStream::Mode::CreateExclusive : TFileStream::Mode::Create);
    errno = 0;
    if (file.Write(data, size) != size || !file.Close()) {
        const int error = errno != 0 ? errno : EIO;
        ::unlink(fileName.c_str());
        throw EWriteError(Format(kSFWriteError, fileName.c_str(), SystemErrorText(error).c_str()));
    }
}

void TGraphic::SetWidth(int32_t value)
{
    (void)value;
}

void TGraphic::SetHeight(int32_t value)
{
    (void)value;
}

void ClearIfNew(TBitmap32& bitmap, bool resized)
{
    if (resized && !bitmap.IsEmpty())
        std::memset(bitmap.PixelData(), 0, bitmap.PixelCount() * sizeof(TColor32));
}

void TGraphic::AssignTo(TPersistent& dest) const
{
    auto* bitmap = dynamic_cast<TBitmap32*>(&dest);
    if (!bitmap) {
        TPersistent::AssignTo(dest);
        return;
    }
    ClearIfNew(*bitmap, bitmap->SetSize(Width(), Height()));
    if (!bitmap->IsEmpty()) {
        DrawInto(*bitmap, TRect{0, 0, bitmap->Width(), bitmap->Height()});
        bitmap->MakeOpaque();
    }
}

void TGraphic::Changed()
{
    if (OnChange)
        OnChange(*this);
}

void TGraphic::Progress(TProgressStage stage, int percentDone)
{
    if (OnProgress)
        OnProgress(*this, stage, percentDone);
}

} // namespace palvex
