// TBitmap32: width x height TColor32 pixels in one contiguous top-down block.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/LargeBlock.h"
#include "raster/Color32.h"
#include "raster/Rect.h"
#include "raster/ThreadPersistent.h"

namespace palvex {

// The bitmap-info header that describes the block to the platform: 40 bytes of
// header and one colour entry.
struct TDibHeader {
    uint32_t biSize = 40;
    int32_t biWidth = 0;
    int32_t biHeight = 0; // negative: rows run top to bottom
    uint16_t biPlanes = 1;
    uint16_t biBitCount = 32;
    uint32_t biCompression = 0;
    uint32_t biSizeImage = 0;
    int32_t biXPelsPerMeter = 0;
    int32_t biYPelsPerMeter = 0;
    uint32_t biClrUsed = 0;
    uint32_t biClrImportant = 0;
    uint32_t bmiColors0 = 0;
};
static_assert(sizeof(TDibHeader) == 44);

class TBitmap32 : public TCustomMap {
public:
    TBitmap32();
    ~TBitmap32() override;

    const char* ClassName() const override { return "TBitmap32"; }

    // The pixel block; null when empty.
    TColor32* PixelData() { return m_bits.get(); }
    const TColor32* PixelData() const { return m_bits.get(); }
    TColor32* RowAddress(int32_t y) { return m_bits.get() + static_cast<size_t>(y) * static_cast<size_t>(m_width); }
    const TColor32* RowAddress(int32_t y) const
    {
        return m_bits.get() + static_cast<size_t>(y) * static_cast<size_t>(m_width);
    }
    TColor32* PixelAddress(int32_t x, int32_t y) { return RowAddress(y) + x; }
    const TColor32* PixelAddress(int32_t x, int32_t y) const { return RowAddress(y) + x; }
    TColor32 Pixel(int32_t x, int32_t y) const { return *PixelAddress(x, y); }
    void SetPixel(int32_t x, int32_t y, TColor32 c) { *PixelAddress(x, y) = c; }
    TRect FullRect() const { return TRect{0, 0, m_width, m_height}; }
    size_t PixelCount() const { return static_cast<size_t>(m_width) * static_cast<size_t>(m_height); }

    bool HandleAllocated() const { return m_bits != nullptr; }
    bool IsEmpty() const override;
    void Discard() override { SetSize(0, 0); }
    const TDibHeader& DibHeader() const { return m_dibHeader; }

    void FillAll(TColor32 color);
    void MakeOpaque();

    // Takes over other's pixel block and size as one change; other gets this
    // bitmap's old block. Lets a load (LoadPictureFile, imageio/PictureRows.h)
    // finish in a scratch bitmap first, so a failure half-way leaves this one
    // untouched.
    void AdoptPixels(TBitmap32& other);

    // nil, another TBitmap32, or any kind that knows how to copy itself here.
    void AssignFrom(const TPersistent* source) override;
    void AssignFrom(const TPersistent& source) { AssignFrom(&source); }
    // Into a platform bitmap or a picture container, or the assignment error.
    void CopyTo(TPersistent& target) const;
    void AssignTo(TPersistent& dest) const override { CopyTo(dest); }

    // Stretches this bitmap onto destRect of destination through StretchCopy.
    void StretchOnto(TBitmap32& destination, const TRect& destRect) const;

    // The stored form "Data": width, height (32-bit little-endian), then the
    // pixels as little-endian 32-bit values, rows top to bottom.
    static constexpr const char* kStoredPropertyName = "Data";
    bool StoresData() const { return !IsEmpty(); }
    std::vector<uint8_t> WriteData() const;
    void ReadData(std::span<const uint8_t> data);

    TDrawMode DrawMode() const { return m_drawMode; }
    void SetDrawMode(TDrawMode value);
    uint32_t MasterAlpha() const { return m_masterAlpha; }
    void SetMasterAlpha(uint32_t value);
    TColor32 OuterColor() const { return m_outerColor; }
    void SetOuterColor(TColor32 value) { m_outerColor = value; }
    TStretchFilter StretchFilter() const { return m_stretchFilter; }
    void SetStretchFilter(TStretchFilter value);

    TNotifyEvent OnHandleChanged;
    TPixelCombineEvent OnPixelCombine;

    virtual void NotifyHandleChanged();

    // The largest block the bitmap asks for; beyond it, allocation fails as the
    // platform's would. Tests lower it.
    static uint64_t MaxBlockBytes();

protected:
    void ReallocatePixels(int32_t& width, int32_t& height, int32_t newWidth, int32_t newHeight) override;

private:
    std::unique_ptr<TColor32[], TLargeBlockDeleter> m_bits;
    TDrawMode m_drawMode = dmOpaque;
    TDibHeader m_dibHeader;
    uint32_t m_masterAlpha = 255;
    TColor32 m_outerColor = 0;
    TStretchFilter m_stretchFilter = sfNearest;
};

} // namespace palvex
