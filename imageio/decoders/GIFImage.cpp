#include "imageio/decoders/GIFImage.h"

#include <algorithm>
#include <cstring>

#include <gif_lib.h>

#include "imageio/Bitmap.h"
#include "imageio/Streams.h"
#include "platform/Errors.h"

namespace palvex {

PALVEX_DEFINE_GRAPHIC_CLASS(TGIFImage, TGraphic)

namespace {

// What giflib's read callback reads from. Plain data: the callback is C code's.
struct GifSource {
    const uint8_t* data;
    size_t size;
    size_t pos;
    bool shortRead;
};

int GifRead(GifFileType* gif, GifByteType* out, int length)
{
    auto* src = static_cast<GifSource*>(gif->UserData);
    if (length <= 0)
        return 0;
    const size_t want = static_cast<size_t>(length);
    const size_t n = std::min(want, src->size - src->pos);
    std::memcpy(out, src->data + src->pos, n);
    src->pos += n;
    if (n < want)
        src->shortRead = true;
    return static_cast<int>(n);
}

struct GifCloser {
    GifFileType* gif;
    ~GifCloser()
    {
        int error = 0;
        if (gif)
            DGifCloseFile(gif, &error);
    }
};

[[noreturn]] void GifFail(const GifSource& src, int error)
{
    // Whatever giflib calls it, running out of bytes is a cut file.
    if (src.shortRead)
        throw GIFException("Premature end of data");
    switch (error) {
    case D_GIF_ERR_NOT_GIF_FILE:
        throw GIFException("Invalid GIF signature");
    case D_GIF_ERR_WRONG_RECORD:
        throw GIFException("Unknown GIF block type");
    case D_GIF_ERR_OPEN_FAILED:
    case D_GIF_ERR_READ_FAILED:
    case D_GIF_ERR_NO_SCRN_DSCR:
    case D_GIF_ERR_NO_IMAG_DSCR:
    case D_GIF_ERR_EOF_TOO_SOON:
        throw GIFException("Premature end of data");
    case D_GIF_ERR_NOT_ENOUGH_MEM:
        throw EOutOfMemory("Out of memory");
    default: // D_GIF_ERR_DATA_TOO_BIG, D_GIF_ERR_IMAGE_DEFECT, D_GIF_ERR_NO_COLOR_MAP, ...
        throw GIFException("Corrupt GIF image data");
    }
}

bool GifSizeAllowed(int64_t width, int64_t height)
{
    uint64_t pixels = 0;
    return width > 0 && height > 0 && width <= kMaxPictureSide && height <= kMaxPictureSide &&
           !__builtin_mul_overflow(uint64_t(width), uint64_t(height), &pixels) && pixels <= kMaxPicturePixels;
}

// The screen, the palette, the transparency and the frame's place: all that
// is known once the first image descriptor has been read.
struct GifFrame {
    int32_t screenWidth = 0;
    int32_t screenHeight = 0;
    int32_t left = 0;
    int32_t top = 0;
    int32_t width = 0;
    int32_t height = 0;
    bool interlaced = false;
    int transparentIndex = NO_TRANSPARENT_COLOR;
    TColor32 colors[256] = {};
};

// Reads records up to the first image descriptor, keeping the last graphic
// control extension before it.
void ReadToFirstImage(GifFileType* gif, const GifSource& src, GifFrame& frame)
{
    for (;;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif, &type) == GIF_ERROR)
            GifFail(src, gif->Error);
        if (type == TERMINATE_RECORD_TYPE)
            throw GIFException("Premature end of data"); // a file without a picture
        if (type == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* block = nullptr;
            if (DGifGetExtension(gif, &code, &block) == GIF_ERROR)
                GifFail(src, gif->Error);
            if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4) {
                // Flags, delay (2 bytes), transparent index.
                frame.transparentIndex = (block[1] & 0x01) ? block[4] : NO_TRANSPARENT_COLOR;
            }
            while (block) {
                if (DGifGetExtensionNext(gif, &block) == GIF_ERROR)
                    GifFail(src, gif->Error);
            }
            continue;
        }
        if (type != IMAGE_DESC_RECORD_TYPE)
            throw GIFException("Unknown GIF block type");
        if (DGifGetImageDesc(gif) == GIF_ERROR)
            GifFail(src, gif->Error);
        return;
    }
}

} // namespace

void TGIFImage::LoadStream(TStream& stream)
{
    std::vector<uint8_t> data = stream.ReadRemaining();
    // giflib looks at "GIF" only; the version must be one of the two too.
    if (data.empty())
        throw GIFException("Premature end of data");
    static const char* const kSignatures[] = {"GIF87a", "GIF89a"};
    const size_t sigLength = std::min<size_t>(data.size(), 6);
    if (std::memcmp(data.data(), kSignatures[0], sigLength) != 0 &&
        std::memcmp(data.data(), kSignatures[1], sigLength) != 0)
        throw GIFException("Invalid GIF signature");

    GifSource src{data.data(), data.size(), 0, false};
    int error = 0;
    GifCloser closer{DGifOpen(&src, GifRead, &error)};
    GifFileType* gif = closer.gif;
    if (!gif)
        GifFail(src, error);

    GifFrame frame;
    ReadToFirstImage(gif, src, frame);
    const GifImageDesc& desc = gif->Image;
    frame.left = desc.Left;
    frame.top = desc.Top;
    frame.width = desc.Width;
    frame.height = desc.Height;
    frame.interlaced = desc.Interlace;
    // A screen of no size is taken to be the first frame's extent.
    frame.screenWidth = gif->SWidth > 0 ? gif->SWidth : frame.left + frame.width;
    frame.screenHeight = gif->SHeight > 0 ? gif->SHeight : frame.top + frame.height;
    if (!GifSizeAllowed(frame.screenWidth, frame.screenHeight))
        throw GIFException("Corrupt GIF image data");
    // A frame of no size holds no picture.
    if (!GifSizeAllowed(frame.width, frame.height))
        throw GIFException("Corrupt GIF image data");

    const ColorMapObject* map = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
    // An index beyond the palette (or with no palette at all) shows black.
    for (TColor32& c : frame.colors)
        c = Color32(0, 0, 0, 255);
    if (map && map->Colors) {
        const int count = std::clamp(map->ColorCount, 0, 256);
        for (int i = 0; i < count; ++i)
            frame.colors[i] = Color32(map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue, 255);
    }
    if (frame.transparentIndex >= 0 && frame.transparentIndex < 256)
        frame.colors[frame.transparentIndex] &= 0x00FFFFFFu;

    std::vector<TColor32> pixels(static_cast<size_t>(frame.screenWidth) * static_cast<size_t>(frame.screenHeight),
                                 TColor32(0));
    {
        std::vector<GifPixelType> line(static_cast<size_t>(frame.width));
        // Interlaced frames arrive in four passes of rows.
        static const int kStart[4] = {0, 4, 2, 1};
        static const int kStep[4] = {8, 8, 4, 2};
        const int passes = frame.interlaced ? 4 : 1;
        const int64_t visibleLeft = std::max<int64_t>(frame.left, 0);
        const int64_t visibleRight = std::min<int64_t>(int64_t(frame.left) + frame.width, frame.screenWidth);
        for (int pass = 0; pass < passes; ++pass) {
            const int start = frame.interlaced ? kStart[pass] : 0;
            const int step = frame.interlaced ? kStep[pass] : 1;
            for (int row = start; row < frame.height; row += step) {
                const int64_t y = int64_t(frame.top) + row;
                // Rows below the screen in the last pass are not needed.
                if (y >= frame.screenHeight && pass == passes - 1)
                    break;
                if (DGifGetLine(gif, line.data(), frame.width) == GIF_ERROR)
                    GifFail(src, gif->Error);
                if (y >= frame.screenHeight || visibleLeft >= visibleRight)
                    continue;
                TColor32* out = pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(frame.screenWidth);
                for (int64_t x = visibleLeft; x < visibleRight; ++x)
                    out[x] = frame.colors[line[static_cast<size_t>(x - frame.left)]];
            }
        }
    }

    m_data = std::move(data);
    m_width = frame.screenWidth;
    m_height = frame.screenHeight;
    m_pixels = std::move(pixels);
    Changed();
}

void TGIFImage::SaveStream(TStream& stream)
{
    if (m_data.empty()) {
        TGraphic::SaveStream(stream);
        return;
    }
    stream.WriteBuffer(m_data.data(), m_data.size());
}

void TGIFImage::DrawInto(TBitmap32& canvas, const TRect& rect) const
{
    if (Empty())
        return;
    // Transparent pixels leave the canvas as it is.
    DrawPixelsScaled(canvas, rect, m_pixels.data(), m_width, m_height, [](TColor32& out, TColor32 c) {
        if (AlphaComponent(c) != 0)
            out = c;
    });
}

} // namespace palvex
