// TBitmap: the platform's device-independent bitmap. Decoded pictures arrive in
// one and finished pixels leave for the JPEG writer in one.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "imageio/Graphic.h"
#include "imageio/PictureLimits.h"
#include "platform/LargeBlock.h"
#include "raster/Color32.h"

namespace palvex {

enum class TPixelFormat { pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit };
enum class TBitmapHandleType { bmDIB, bmDDB };

int BitsPerPixel(TPixelFormat format);

// One row held in format as 32-bit pixels: palette entries for indexes (an
// index beyond the palette is black), 15/16-bit values expanded. 32-bit rows
// keep their fourth byte; other depths give alpha 0, as a block copy into a
// 32-bit block does.
void ConvertRowTo32(TPixelFormat format, const std::vector<TColor32>& palette, const uint8_t* row, int32_t width,
                    TColor32* out);

class TBitmap : public TGraphic {
    PALVEX_GRAPHIC_CLASS(TBitmap)

public:
    // Reads BMP, RLE and DIB data ("Bitmap image is not valid").
    void LoadStream(TStream& stream) override;
    // The same as rows, read where they lie.
    std::unique_ptr<TPictureReader> OpenRows(TStream& stream) override;

    int32_t Width() const override { return m_width; }
    int32_t Height() const override { return m_height; }
    void SetWidth(int32_t value) override { SetSize(value, m_height); }
    void SetHeight(int32_t value) override { SetSize(m_width, value); }
    bool Empty() const override { return m_width == 0 || m_height == 0; }

    // Rows keep their content where the old and new sizes overlap; new pixels
    // are zero. Beyond the picture limits: EInvalidGraphic "Bitmap image is not valid".
    void SetSize(int32_t width, int32_t height);
    TPixelFormat PixelFormat() const { return m_format; }
    void SetPixelFormat(TPixelFormat format);
    TBitmapHandleType HandleType() const { return m_handleType; }
    void SetHandleType(TBitmapHandleType type) { m_handleType = type; }

    // Top-down rows of Stride() bytes, each padded to 4 bytes as the platform's.
    size_t Stride() const { return m_stride; }
    uint8_t* ScanLine(int32_t y) { return m_bits.data() + static_cast<size_t>(y) * m_stride; }
    const uint8_t* ScanLine(int32_t y) const { return m_bits.data() + static_cast<size_t>(y) * m_stride; }

    // Palette entries as opaque colours (1, 4 and 8 bits per pixel).
    const std::vector<TColor32>& Palette() const { return m_palette; }
    void SetPalette(std::vector<TColor32> palette);

    bool Transparent() const { return m_transparent; }
    void SetTransparent(bool value) { m_transparent = value; }
    // The platform colour that shows through; by default the bottom-left pixel's.
    TColor TransparentColor() const;
    void SetTransparentColor(TColor color) { m_transparentColor = color; }

    // One row as 32-bit pixels. 32-bit rows keep their fourth byte; other
    // depths give alpha 0, as a block copy into a 32-bit block does.
    void ReadRow32(int32_t y, TColor32* out) const;

    void DrawInto(TBitmap32& canvas, const TRect& rect) const override;

    void AssignFrom(const TPersistent* source) override;
    // The copy from a platform bitmap into a TBitmap32.
    void AssignTo(TPersistent& dest) const override;
    // The copy of a TBitmap32 into this bitmap: 32 bits, same size and pixels.
    bool TakeFrom(const TPersistent& source) override;

private:
    void Reallocate(int32_t width, int32_t height, TPixelFormat format);

    int32_t m_width = 0;
    int32_t m_height = 0;
    TPixelFormat m_format = TPixelFormat::pf24bit;
    TBitmapHandleType m_handleType = TBitmapHandleType::bmDIB;
    size_t m_stride = 0;
    std::vector<uint8_t, TLargeBlockAllocator<uint8_t>> m_bits;
    std::vector<TColor32> m_palette;
    bool m_transparent = false;
    std::optional<TColor> m_transparentColor;
};

} // namespace palvex
