// TPicture: holds at most one picture and loads a file by its extension.
#pragma once

#include <memory>
#include <string>

#include "imageio/Graphic.h"

namespace palvex {

class TBitmap;

class TPicture : public TPersistent {
public:
    const char* ClassName() const override { return "TPicture"; }

    TGraphic* Graphic() const { return m_graphic.get(); }
    void SetGraphic(std::unique_ptr<TGraphic> graphic);
    // The held bitmap; a new empty TBitmap replaces any other kind first.
    TBitmap& Bitmap();

    int32_t Width() const { return m_graphic ? m_graphic->Width() : 0; }
    int32_t Height() const { return m_graphic ? m_graphic->Height() : 0; }

    // Picks the kind by the extension ("Unknown picture file extension (.%s)"),
    // loads it, and only on success replaces the held picture.
    void LoadFile(const std::string& fileName);

    // A TBitmap32 destination is filled by the kind of the held picture.
    void AssignTo(TPersistent& dest) const override;
    // A TBitmap32 source goes into the held bitmap.
    bool TakeFrom(const TPersistent& source) override;

    TNotifyEvent OnChange;
    TProgressEvent OnProgress;

private:
    void Changed();
    void Attach(TGraphic& graphic);

    std::unique_ptr<TGraphic> m_graphic;
};

// A new, empty picture of the kind the registry names for the file's
// extension; EInvalidGraphic "Unknown picture file extension (.%s)" when none.
std::unique_ptr<TGraphic> CreateGraphicFor(const std::string& fileName);

// A loaded picture as 32-bit pixels in target, by its kind: a platform bitmap
// copied, an icon or metafile with its transparency mask, any other kind
// drawn (a JPEG decoded straight into the rows).
void CopyGraphicPixels(const TGraphic& graphic, TBitmap32& target);

} // namespace palvex
