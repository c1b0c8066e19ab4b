// TBitmap storage, depth conversion and the copies to and from TBitmap32.
#include "imageio/Bitmap.h"

#include <algorithm>
#include <cstring>

#include "platform/Errors.h"

namespace palvex {

PALVEX_DEFINE_GRAPHIC_CLASS(TBitmap, TGraphic)

namespace {
constexpr const char* kSInvalidBitmap = "Bitmap image is not valid";

inline uint8_t Expand5(uint32_t v) { return static_cast<uint8_t>((v << 3) | (v >> 2)); }
inline uint8_t Expand6(uint32_t v) { return static_cast<uint8_t>((v << 2) | (v >> 4)); }
} // namespace

int BitsPerPixel(TPixelFormat format)
{
    switch (format) {
    case TPixelFormat::pf1bit: return 1;
    case TPixelFormat::pf4bit: return 4;
    case TPixelFormat::pf8bit: return 8;
    case TPixelFormat::pf15bit:
    case TPixelFormat::pf16bit: return 16;
    case TPixelFormat::pf24bit: return 24;
    case TPixelFormat::pf32bit: return 32;
    }
    return 32;
}

void TBitmap::Reallocate(int32_t width, int32_t height, TPixelFormat format)
{
    width = std::max(width, 0);
    height = std::max(height, 0);
    if ((width != 0 || height != 0) && !(width == 0 || height == 0) && !IsPictureSizeAllowed(width, height))
        throw EInvalidGraphic(kSInvalidBitmap);
    const size_t stride = ((static_cast<size_t>(width) * BitsPerPixel(format) + 31) / 32) * 4;
    std::vector<uint8_t, TLargeBlockAllocator<uint8_t>> bits(stride * static_cast<size_t>(height), 0);
    if (!m_bits.empty() && format == m_format) {
        const size_t rowBytes = std::min(stride, m_stride);
        for (int32_t y = 0; y < std::min(height, m_height); ++y)
            std::memcpy(bits.data() + static_cast<size_t>(y) * stride, ScanLine(y), rowBytes);
    }
    m_bits = std::move(bits);
    m_stride = stride;
    m_width = width;
    m_height = height;
    m_format = format;
}

void TBitmap::SetSize(int32_t width, int32_t height)
{
    if (width == m_width && height == m_height)
        return;
    Reallocate(width, height, m_format);
    Changed();
}

void TBitmap::SetPixelFormat(TPixelFormat format)
{
    if (format == m_format)
        return;
    const bool keepPixels = !Empty() && BitsPerPixel(format) >= 15;
    std::vector<TColor32> pixels;
    if (keepPixels) {
        pixels.resize(static_cast<size_t>(m_width) * static_cast<size_t>(m_height));
        for (int32_t y = 0; y < m_height; ++y)
            ReadRow32(y, pixels.data() + static_cast<size_t>(y) * m_width);
    }
    m_bits.clear();
    Reallocate(m_width, m_height, format);
    if (keepPixels) {
        for (int32_t y = 0; y < m_height; ++y) {
            const TColor32* in = pixels.data() + static_cast<size_t>(y) * m_width;
            uint8_t* out = ScanLine(y);
            for (int32_t x = 0; x < m_width; ++x) {
                const TColor32 c = in[x];
                const uint32_t r = RedComponent(c), g = GreenComponent(c), b = BlueComponent(c);
                switch (format) {
                case TPixelFormat::pf15bit: {
                    const uint16_t v = static_cast<uint16_t>(((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3));
                    std::memcpy(out + 2 * x, &v, 2);
                    break;
                }
                case TPixelFormat::pf16bit: {
                    const uint16_t v = static_cast<uint16_t>(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
                    std::memcpy(out + 2 * x, &v, 2);
                    break;
                }
                case TPixelFormat::pf24bit:
                    out[3 * x] = static_cast<uint8_t>(b);
                    out[3 * x + 1] = static_cast<uint8_t>(g);
                    out[3 * x + 2] = static_cast<uint8_t>(r);
                    break;
                default:
                    std::memcpy(out + 4 * x, &c, 4);
                    break;
                }
            }
        }
    }
    Changed();
}

void TBitmap::SetPalette(std::vector<TColor32> palette)
{
    m_palette = std::move(palette);
    Changed();
}

TColor TBitmap::TransparentColor() const
{
    if (m_transparentColor)
        return *m_transparentColor;
    if (Empty())
        return 0;
    // ReadRow32 fills a whole row, so it needs room for all of it.
    std::vector<TColor32> row(static_cast<size_t>(m_width));
    ReadRow32(m_height - 1, row.data());
    const TColor32 c = row[0];
    return static_cast<TColor>(RedComponent(c) | (GreenComponent(c) << 8) | (BlueComponent(c) << 16));
}

void TBitmap::ReadRow32(int32_t y, TColor32* out) const
{
    const uint8_t* row = ScanLine(y);
    auto paletteColor = [&](uint32_t index) -> TColor32 {
        return index < m_palette.size() ? (m_palette[index] & 0x00FFFFFF) : 0;
    };
    switch (m_format) {
    case TPixelFormat::pf1bit:
        for (int32_t x = 0; x < m_width; ++x)
            out[x] = paletteColor((row[x >> 3] >> (7 - (x & 7))) & 1);
        break;
    case TPixelFormat::pf4bit:
        for (int32_t x = 0; x < m_width; ++x)
            out[x] = paletteColor((x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4));
        break;
    case TPixelFormat::pf8bit:
        for (int32_t x = 0; x < m_width; ++x)
            out[x] = paletteColor(row[x]);
        break;
    case TPixelFormat::pf15bit:
        for (int32_t x = 0; x < m_width; ++x) {
            const uint32_t v = row[2 * x] | (uint32_t(row[2 * x + 1]) << 8);
            out[x] = Color32(Expand5((v >> 10) & 31), Expand5((v >> 5) & 31), Expand5(v & 31), 0);
        }
        break;
    case TPixelFormat::pf16bit:
        for (int32_t x = 0; x < m_width; ++x) {
            const uint32_t v = row[2 * x] | (uint32_t(row[2 * x + 1]) << 8);
            out[x] = Color32(Expand5((v >> 11) & 31), Expand6((v >> 5) & 63), Expand5(v & 31), 0);
        }
        break;
    case TPixelFormat::pf24bit:
        for (int32_t x = 0; x < m_width; ++x)
            out[x] = Color32(row[3 * x + 2], row[3 * x + 1], row[3 * x], 0);
        break;
    case TPixelFormat::pf32bit:
        std::memcpy(out, row, static_cast<size_t>(m_width) * 4);
        break;
    }
}

void TBitmap::DrawInto(TBitmap32& canvas, const TRect& rect) const
{
    const TRect clip = IntersectRect(rect, canvas.FullRect());
    if (Empty() || IsRectEmpty(clip) || IsRectEmpty(rect))
        return;
    const int64_t rw = rect.Width(), rh = rect.Height();
    if (!m_transparent && rw == m_width && rh == m_height && clip.Left == rect.Left && clip.Right == rect.Right) {
        // Drawn 1:1 with whole rows visible (every load of a decoded picture):
        // rows go straight into the canvas.
        for (int32_t y = clip.Top; y < clip.Bottom; ++y)
            ReadRow32(y - rect.Top, canvas.RowAddress(y) + rect.Left);
        canvas.NotifyChanged();
        return;
    }
    const TColor32 transparent = m_transparent ? (Color32(TransparentColor()) & 0x00FFFFFF) : 0;
    std::vector<TColor32> row(static_cast<size_t>(m_width));
    // The source column of each canvas column, worked out once per call.
    std::vector<int32_t> columns(static_cast<size_t>(clip.Width()));
    for (int32_t x = clip.Left; x < clip.Right; ++x)
        columns[static_cast<size_t>(x - clip.Left)] =
            static_cast<int32_t>((static_cast<int64_t>(x - rect.Left) * m_width) / rw);
    int32_t loadedRow = -1;
    for (int32_t y = clip.Top; y < clip.Bottom; ++y) {
        const auto sy = static_cast<int32_t>((static_cast<int64_t>(y - rect.Top) * m_height) / rh);
        if (sy != loadedRow) {
            ReadRow32(sy, row.data());
            loadedRow = sy;
        }
        TColor32* out = canvas.RowAddress(y) + clip.Left;
        for (size_t i = 0; i < columns.size(); ++i) {
            const TColor32 c = row[static_cast<size_t>(columns[i])];
            if (m_transparent && (c & 0x00FFFFFF) == transparent)
                continue;
            out[i] = c;
        }
    }
    canvas.NotifyChanged();
}

void TBitmap::AssignFrom(const TPersistent* source)
{
    const auto* other = dynamic_cast<const TBitmap*>(source);
    if (!other) {
        TGraphic::AssignFrom(source);
        return;
    }
    if (other == this)
        return;
    m_width = other->m_width;
    m_height = other->m_height;
    m_format = other->m_format;
    m_handleType = other->m_handleType;
    m_stride = other->m_stride;
    m_bits = other->m_bits;
    m_palette = other->m_palette;
    m_transparent = other->m_transparent;
    m_transparentColor = other->m_transparentColor;
    Changed();
}

void TBitmap::AssignTo(TPersistent& dest) const
{
    auto* bitmap = dynamic_cast<TBitmap32*>(&dest);
    if (!bitmap) {
        TGraphic::AssignTo(dest);
        return;
    }
    bitmap->SetSize(m_width, m_height);
    if (bitmap->IsEmpty())
        return;
    for (int32_t y = 0; y < m_height; ++y)
        ReadRow32(y, bitmap->RowAddress(y));
    if (m_format != TPixelFormat::pf32bit)
        bitmap->MakeOpaque();
    if (m_transparent) {
        const TColor32 t = Color32(TransparentColor()) & 0x00FFFFFF;
        TColor32* p = bitmap->PixelData();
        for (size_t i = 0, n = bitmap->PixelCount(); i < n; ++i)
            if ((p[i] & 0x00FFFFFF) == t)
                p[i] = t;
    }
}

bool TBitmap::TakeFrom(const TPersistent& source)
{
    const auto* bitmap = dynamic_cast<const TBitmap32*>(&source);
    if (!bitmap)
        return false;
    m_handleType = TBitmapHandleType::bmDIB;
    m_bits.clear();
    m_palette.clear();
    Reallocate(bitmap->Width(), bitmap->Height(), TPixelFormat::pf32bit);
    if (!bitmap->IsEmpty())
        for (int32_t y = 0; y < m_height; ++y)
            std::memcpy(ScanLine(y), bitmap->RowAddress(y), static_cast<size_t>(m_width) * 4);
    Changed();
    return true;
}

} // namespace palvex
