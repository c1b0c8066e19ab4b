#include "imageio/decoders/GIFImage.h"

#include <algorithm>
#include <cstring>

#include <gif_lib.h>

#include "imageio/Bitmap.h"
#include "imageio/ByteReader.h"
#include "imageio/PictureReader.h"
#include "imageio/Streams.h"
#include "platform/Errors.h"

namespace palvex {

PALVEX_DEFINE_GRAPHIC_CLASS(TGIFImage, TGraphic)

namespace {

// What giflib's read callback reads from. Plain data: the callback is C code's.
struct GifSource {
    TByteReader* in;
    bool shortRead;
};

int GifRead(GifFileType* gif, GifByteType* out, int length)
{
    auto* src = static_cast<GifSource*>(gif->UserData);
    if (length <= 0)
        return 0;
    const size_t want = static_cast<size_t>(length);
    size_t n = 0;
    try {
        n = src->in->ReadSome(out, want);
    } catch (...) {
        n = 0;
    }
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

// The most pixels LZW can give a compressed byte: codes of at least two bits,
// each of at most 4096 pixels.
constexpr uint64_t kMaxPixelsPerByte = 4 * 4096;

// The first frame composed on the logical screen, row by row. Composed, the
// screen outside the frame and the transparent index have alpha 0 (colour
// kept); drawn, as the road takes a drawn picture, they are opaque black.
class TGIFReader final : public TPictureReader {
public:
    TGIFReader(TStream& stream, bool composed) : m_in(stream, nullptr), m_composed(composed)
    {
        // giflib looks at "GIF" only; the version must be one of the two too.
        if (m_in.Size() == 0)
            throw GIFException("Premature end of data");
        static const char* const kSignatures[] = {"GIF87a", "GIF89a"};
        uint8_t signature[6] = {};
        const size_t sigLength = m_in.ReadSome(signature, 6);
        if (std::memcmp(signature, kSignatures[0], sigLength) != 0 &&
            std::memcmp(signature, kSignatures[1], sigLength) != 0)
            throw GIFException("Invalid GIF signature");
        m_in.Seek(0);

        m_source = GifSource{&m_in, false};
        int error = 0;
        m_gif = DGifOpen(&m_source, GifRead, &error);
        if (!m_gif)
            GifFail(m_source, error);
        try {
            Open();
        } catch (...) {
            DGifCloseFile(m_gif, &error);
            m_gif = nullptr;
            throw;
        }
    }

    ~TGIFReader() override
    {
        int error = 0;
        if (m_gif)
            DGifCloseFile(m_gif, &error);
    }

private:
    void Open()
    {
        GifFrame& frame = m_frame;
        ReadToFirstImage(m_gif, m_source, frame);
        const GifImageDesc& desc = m_gif->Image;
        frame.left = desc.Left;
        frame.top = desc.Top;
        frame.width = desc.Width;
        frame.height = desc.Height;
        frame.interlaced = desc.Interlace;
        // A screen of no size is taken to be the first frame's extent.
        frame.screenWidth = m_gif->SWidth > 0 ? m_gif->SWidth : frame.left + frame.width;
        frame.screenHeight = m_gif->SHeight > 0 ? m_gif->SHeight : frame.top + frame.height;
        if (!IsPictureSizeAllowed(frame.screenWidth, frame.screenHeight))
            throw GIFException("Corrupt GIF image data");
        // A frame of no size holds no picture.
        if (!IsPictureSizeAllowed(frame.width, frame.height))
            throw GIFException("Corrupt GIF image data");

        const ColorMapObject* map = desc.ColorMap ? desc.ColorMap : m_gif->SColorMap;
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
        if (!m_composed)
            for (TColor32& c : frame.colors)
                c = AlphaComponent(c) != 0 ? c : 0xFF000000u;
        m_background = m_composed ? 0 : 0xFF000000u;
        m_visibleLeft = std::max<int64_t>(frame.left, 0);
        m_visibleRight = std::min<int64_t>(int64_t(frame.left) + frame.width, frame.screenWidth);
        // The frame's rows that land on the screen.
        m_frameRows = static_cast<int32_t>(
            std::clamp<int64_t>(int64_t(frame.screenHeight) - frame.top, 0, frame.height));
        if (frame.interlaced &&
            uint64_t(frame.width) * uint64_t(m_frameRows) > uint64_t(m_in.Remaining()) * kMaxPixelsPerByte)
            throw GIFException("Premature end of data");
        m_line.resize(static_cast<size_t>(frame.width));
        SetPicture(frame.screenWidth, frame.screenHeight, m_composed);
    }

    [[noreturn]] void Refuse() const override { throw GIFException("Corrupt GIF image data"); }

    void ReadLine(GifPixelType* line)
    {
        if (DGifGetLine(m_gif, line, m_frame.width) == GIF_ERROR)
            GifFail(m_source, m_gif->Error);
    }

    // Interlaced frames arrive in four passes of rows: their indexes are kept
    // until all are in. Rows below the screen in the last pass are not needed.
    void ReadInterlaced()
    {
        const GifFrame& frame = m_frame;
        m_interlacedRead = true;
        m_indexes.resize(size_t(frame.width) * size_t(m_frameRows));
        static const int kStart[4] = {0, 4, 2, 1};
        static const int kStep[4] = {8, 8, 4, 2};
        for (int pass = 0; pass < 4; ++pass) {
            for (int row = kStart[pass]; row < frame.height; row += kStep[pass]) {
                if (row >= m_frameRows && pass == 3)
                    break;
                ReadLine(row < m_frameRows ? &m_indexes[size_t(row) * size_t(frame.width)] : m_line.data());
            }
        }
    }

    void ReadRow(int32_t y, TColor32* out) override
    {
        std::fill_n(out, Width(), m_background);
        const int64_t row = int64_t(y) - m_frame.top;
        if (row < 0 || row >= m_frameRows)
            return;
        const GifPixelType* line;
        if (m_frame.interlaced) {
            if (!m_interlacedRead)
                ReadInterlaced();
            line = &m_indexes[size_t(row) * size_t(m_frame.width)];
        } else {
            ReadLine(m_line.data());
            line = m_line.data();
        }
        for (int64_t x = m_visibleLeft; x < m_visibleRight; ++x)
            out[x] = m_frame.colors[line[static_cast<size_t>(x - m_frame.left)]];
    }

    // A frame wholly below the screen is still read, as a whole load reads it.
    void ReadEnd() override
    {
        if (m_frame.interlaced && !m_interlacedRead)
            ReadInterlaced();
    }

    TByteReader m_in;
    bool m_composed;
    bool m_interlacedRead = false;
    GifSource m_source{};
    GifFileType* m_gif = nullptr;
    GifFrame m_frame;
    TColor32 m_background = 0;
    int64_t m_visibleLeft = 0;
    int64_t m_visibleRight = 0;
    int32_t m_frameRows = 0;
    std::vector<GifPixelType> m_line;
    std::vector<GifPixelType> m_indexes;
};

} // namespace

void TGIFImage::LoadStream(TStream& stream)
{
    std::vector<uint8_t> data = stream.ReadRemaining();
    std::vector<TColor32> pixels;
    int32_t width = 0, height = 0;
    {
        TMemoryStream bytes(data);
        TGIFReader reader(bytes, /*composed=*/true);
        width = reader.Width();
        height = reader.Height();
        pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
        for (int32_t y = 0; y < height; ++y) {
            const TColor32* row = reader.Row(y);
            std::copy(row, row + width, pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(width));
        }
        reader.Finish();
    }
    m_data = std::move(data);
    m_width = width;
    m_height = height;
    m_pixels = std::move(pixels);
    Changed();
}

std::unique_ptr<TPictureReader> TGIFImage::OpenRows(TStream& stream)
{
    return std::make_unique<TGIFReader>(stream, /*composed=*/false);
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
    DrawPixelsScaled(canvas, rect, m_pixels.data(), m_width, m_height, PutUnlessTransparent);
}

} // namespace palvex
