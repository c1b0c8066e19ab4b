// TGraphic, the abstract picture kind, and the class records that the picture
// registry keys its entries by.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Persistent.h"
#include "raster/Bitmap32.h"
#include "raster/Rect.h"

namespace palvex {

// A drawn copy starts from a cleared block, as a new platform bitmap does:
// drawings such as transparent GIF pixels leave pixels alone, and a block
// is not cleared when it is made (it may have held an earlier picture).
// A bitmap that kept its size keeps its pixels.
void ClearIfNew(TBitmap32& bitmap, bool resized);

class TGraphic;
class TPictureReader;
class TStream;

// A picture kind: its name, its parent kind and, unless abstract, its maker.
struct TGraphicClass {
    const char* Name;
    const TGraphicClass* Parent;
    std::unique_ptr<TGraphic> (*Create)();

    bool InheritsFrom(const TGraphicClass& base) const;
};

enum class TProgressStage { Starting, Running, Ending };
using TProgressEvent = std::function<void(TGraphic& sender, TProgressStage stage, int percentDone)>;

// Declares the class record of a picture kind inside its class body.
#define PALVEX_GRAPHIC_CLASS(Name)                                                  \
public:                                                                             \
    static const ::palvex::TGraphicClass& StaticClass();                            \
    const ::palvex::TGraphicClass& Class() const override { return StaticClass(); } \
    const char* ClassName() const override { return #Name; }

// Defines it in the kind's .cpp; Parent is the base kind.
#define PALVEX_DEFINE_GRAPHIC_CLASS(Name, Parent)                                      \
    const ::palvex::TGraphicClass& Name::StaticClass()                                 \
    {                                                                                  \
        static const ::palvex::TGraphicClass info{                                     \
            #Name, &Parent::StaticClass(),                                             \
            []() -> std::unique_ptr<::palvex::TGraphic> { return std::make_unique<Name>(); }}; \
        return info;                                                                   \
    }

class TGraphic : public TPersistent {
public:
    static const TGraphicClass& StaticClass();
    virtual const TGraphicClass& Class() const { return StaticClass(); }
    const char* ClassName() const override { return "TGraphic"; }

    // Reads the picture from the stream's current position.
    virtual void LoadStream(TStream& stream) = 0;
    // The picture's rows, read from the stream's current position: the header
    // is read and checked now, the pixels as the rows are asked for. stream
    // and this picture must outlive the reader. By default the picture is
    // loaded whole here (LoadStream) and the reader takes its 32-bit pixels
    // once, as LoadPictureFile always took them; kinds that can do better
    // hand out a reader of their own.
    virtual std::unique_ptr<TPictureReader> OpenRows(TStream& stream);
    // Opens read-only (EFOpenError "Cannot open file ..."), LoadStream, closes.
    virtual void LoadFile(const std::string& fileName);
    // Writes the picture's file form; only JPEG pictures are ever saved.
    virtual void SaveStream(TStream& stream);
    // Encodes in memory first, then creates the file, so a failed encoding
    // leaves no file; a failed write removes the partial file.
    virtual void SaveFile(const std::string& fileName);

    virtual int32_t Width() const = 0;
    virtual int32_t Height() const = 0;
    virtual void SetWidth(int32_t value);
    virtual void SetHeight(int32_t value);
    virtual bool Empty() const = 0;

    // Draws the picture into rect of a 32-bit canvas.
    virtual void DrawInto(TBitmap32& canvas, const TRect& rect) const = 0;

    // A TBitmap32 destination gets the drawn copy, made opaque.
    void AssignTo(TPersistent& dest) const override;

    TNotifyEvent OnChange;
    TProgressEvent OnProgress;

protected:
    void Changed();
    void Progress(TProgressStage stage, int percentDone);
};

// Writes bytes to a new file under fileName. Mode is create-or-truncate, or
// exclusive (an existing name fails with EFCreateError). A failed write removes
// the file and raises EWriteError "Cannot write file ...".
void WriteBytesToFile(const std::string& fileName, const uint8_t* data, size_t size, bool exclusive);

// The put of DrawPixelsScaled for pictures whose pixels are either shown or
// not (GIF, metafiles): alpha 0 leaves the canvas as it is.
inline void PutUnlessTransparent(TColor32& out, TColor32 in)
{
    if (AlphaComponent(in) != 0)
        out = in;
}

// Draws 32-bit pixels of width x height into rect of canvas (clipped), scaled by
// nearest pixel; put(out, in) combines each source pixel with the canvas pixel.
template <class Put>
void DrawPixelsScaled(TBitmap32& canvas, const TRect& rect, const TColor32* pixels, int32_t width, int32_t height,
                      Put put)
{
    const TRect clip = IntersectRect(rect, canvas.FullRect());
    if (width <= 0 || height <= 0 || IsRectEmpty(clip) || IsRectEmpty(rect))
        return;
    const int64_t rw = rect.Width(), rh = rect.Height();
    for (int32_t y = clip.Top; y < clip.Bottom; ++y) {
        const auto sy = static_cast<size_t>((static_cast<int64_t>(y - rect.Top) * height) / rh);
        const TColor32* in = pixels + sy * static_cast<size_t>(width);
        TColor32* out = canvas.RowAddress(y);
        for (int32_t x = clip.Left; x < clip.Right; ++x)
            put(out[x], in[(static_cast<int64_t>(x - rect.Left) * width) / rw]);
    }
    canvas.NotifyChanged();
}

// A kind that holds its picture whole as 32-bit pixels, rows top to bottom
// (icons, metafiles); each draws and fills them its own way.
class TPixelsGraphic : public TGraphic {
public:
    int32_t Width() const override { return m_width; }
    int32_t Height() const override { return m_height; }
    bool Empty() const override { return m_pixels.empty(); }
    const std::vector<TColor32>& Pixels() const { return m_pixels; }

protected:
    void SetPixels(int32_t width, int32_t height, std::vector<TColor32> pixels)
    {
        m_width = width;
        m_height = height;
        m_pixels = std::move(pixels);
        Changed();
    }
    template <class Put>
    void DrawPixels(TBitmap32& canvas, const TRect& rect, Put put) const
    {
        if (!Empty())
            DrawPixelsScaled(canvas, rect, m_pixels.data(), m_width, m_height, put);
    }

private:
    int32_t m_width = 0;
    int32_t m_height = 0;
    std::vector<TColor32> m_pixels;
};

} // namespace palvex
