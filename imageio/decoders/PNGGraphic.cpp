#include "imageio/decoders/PNGGraphic.h"

#include <csetjmp>
#include <cstring>
#include <vector>

#include <png.h>

#include "imageio/Exif.h"
#include "platform/Errors.h"

namespace palvex {

PALVEX_DEFINE_GRAPHIC_CLASS(TPNGGraphic, TDecoderGraphic)

namespace {

// Everything libpng's callbacks and the setjmp functions touch. Plain data
// only: a longjmp out of libpng must not skip a destructor.
struct PngReadState {
    png_structp png = nullptr;
    png_infop info = nullptr;
    TByteReader* in = nullptr;
    bool truncated = false;
    char message[256] = {};

    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int channels = 0;
    int bitDepth = 0;
    int interlace = PNG_INTERLACE_NONE;
    int colorType = 0; // as stored
    size_t rowBytes = 0;
    uint64_t fileBits = 0; // bits of a row as the file stores it
};

void PngError(png_structp png, png_const_charp message)
{
    auto* state = static_cast<PngReadState*>(png_get_error_ptr(png));
    std::snprintf(state->message, sizeof state->message, "%s", message ? message : "");
    png_longjmp(png, 1);
}

void PngWarning(png_structp, png_const_charp) {}

void PngRead(png_structp png, png_bytep out, size_t length)
{
    auto* state = static_cast<PngReadState*>(png_get_io_ptr(png));
    size_t got = 0;
    try {
        got = state->in->ReadSome(out, length);
    } catch (...) {
        got = 0;
    }
    if (got < length) {
        state->truncated = true;
        png_error(png, "read past the end of the data");
    }
}

// Reads the chunks up to the first IDAT and sets the transformations that give
// 8- or 16-bit RGB or RGBA rows.
bool PngReadHeader(PngReadState* s)
{
    if (setjmp(png_jmpbuf(s->png)))
        return false;
    png_set_read_fn(s->png, s, PngRead);
    png_set_user_limits(s->png, kMaxPictureSide, kMaxPictureSide);
    // Only the pixels, tRNS, iCCP and eXIf are used. The other ancillary
    // chunks are skipped unread, so a length field of gigabytes in one of them
    // takes no memory; libpng checks the declared sizes of iCCP and eXIf
    // against the chunk limit before it takes them.
    static const png_byte kIgnored[] = "bKGD\0cHRM\0gAMA\0hIST\0iTXt\0oFFs\0pCAL\0pHYs\0"
                                       "sBIT\0sCAL\0sPLT\0sRGB\0tEXt\0tIME\0zTXt";
    png_set_keep_unknown_chunks(s->png, PNG_HANDLE_CHUNK_NEVER, kIgnored, 15);
    png_set_chunk_malloc_max(s->png, kMaxColorProfileBytes);
    png_read_info(s->png, s->info);
    s->width = png_get_image_width(s->png, s->info);
    s->height = png_get_image_height(s->png, s->info);
    s->interlace = png_get_interlace_type(s->png, s->info);
    s->fileBits = uint64_t(s->width) * png_get_bit_depth(s->png, s->info) * png_get_channels(s->png, s->info);
    const int colorType = png_get_color_type(s->png, s->info);
    s->colorType = colorType;
    png_set_expand(s->png);
    if (!(colorType & PNG_COLOR_MASK_COLOR))
        png_set_gray_to_rgb(s->png);
    // Interlaced rows are placed here, pass by pass: no second picture.
    png_read_update_info(s->png, s->info);
    s->channels = png_get_channels(s->png, s->info);
    s->bitDepth = png_get_bit_depth(s->png, s->info);
    s->rowBytes = png_get_rowbytes(s->png, s->info);
    return true;
}

// The next row of the image, or of the current pass of an interlaced one.
bool PngReadRow(PngReadState* s, png_bytep row)
{
    if (setjmp(png_jmpbuf(s->png)))
        return false;
    png_read_row(s->png, row, nullptr);
    return true;
}

// The chunks after the image; only their checks matter here.
bool PngReadEnd(PngReadState* s)
{
    if (setjmp(png_jmpbuf(s->png)))
        return false;
    png_read_end(s->png, nullptr);
    return true;
}

// A big-endian 16-bit sample as the nearest 8-bit one.
inline uint8_t Reduce16(const uint8_t* p)
{
    return Scale16To8(static_cast<uint16_t>((p[0] << 8) | p[1]));
}

constexpr const char* kName = "PNG";

// Raw filtered bytes per compressed byte that deflate can give at most.
constexpr uint64_t kMaxInflateRatio = 1032;

class TPNGReader final : public TDecoderReader {
public:
    explicit TPNGReader(TStream& stream) : TDecoderReader(kName), m_in(stream, kName)
    {
        // A prefix of the signature is a cut file; anything else is not PNG.
        if (m_in.Size() == 0)
            ReadError();
        const size_t sigLength = std::min<size_t>(m_in.Size(), 8);
        png_byte signature[8] = {};
        m_in.ReadSome(signature, sigLength);
        if (png_sig_cmp(signature, 0, sigLength) != 0)
            InvalidFormat();
        if (sigLength < 8)
            ReadError();
        m_in.Seek(0);

        m_state.in = &m_in;
        m_state.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &m_state, PngError, PngWarning);
        if (!m_state.png)
            throw EOutOfMemory("Out of memory");
        m_state.info = png_create_info_struct(m_state.png);
        if (!m_state.info) {
            png_destroy_read_struct(&m_state.png, nullptr, nullptr);
            throw EOutOfMemory("Out of memory");
        }
        try {
            Open();
        } catch (...) {
            png_destroy_read_struct(&m_state.png, &m_state.info, nullptr);
            throw;
        }
    }

    ~TPNGReader() override { png_destroy_read_struct(&m_state.png, &m_state.info, nullptr); }

private:
    void Open()
    {
        if (!PngReadHeader(&m_state))
            Fail();
        const PngReadState& s = m_state;
        if (!IsPictureSizeAllowed(s.width, s.height))
            InvalidFormat();
        if ((s.channels != 3 && s.channels != 4) || (s.bitDepth != 8 && s.bitDepth != 16))
            InvalidColorFormat();
        if (s.rowBytes < size_t(s.width) * s.channels * (s.bitDepth / 8))
            InvalidFormat();
        const bool interlaced = s.interlace != PNG_INTERLACE_NONE;
        // Data that could not fill the picture, even without the filter bytes,
        // is a cut file, refused before a row is asked for (and before an
        // interlaced picture is held).
        if (uint64_t(m_in.Remaining()) * kMaxInflateRatio < uint64_t(s.height) * (s.fileBits / 8))
            ReadError();
        m_row.resize(s.rowBytes);
        SetPicture(s.width, s.height, s.channels == 4, interlaced ? TFill::Whole : TFill::Rows);
        ReadProfile();
        ReadOrientation();
    }

    // An eXIf chunk before the image data; one after it comes too late to
    // turn the rows and is not looked for.
    void ReadOrientation()
    {
        png_uint_32 length = 0;
        png_bytep exif = nullptr;
        if (png_get_eXIf_1(m_state.png, m_state.info, &length, &exif) == PNG_INFO_eXIf && exif)
            SetOrientation(ExifOrientationOfBlock(std::span<const uint8_t>(exif, length)));
    }

    void ReadProfile()
    {
        png_charp name = nullptr;
        int compression = 0;
        png_bytep profile = nullptr;
        png_uint_32 length = 0;
        if (png_get_iCCP(m_state.png, m_state.info, &name, &compression, &profile, &length) != PNG_INFO_iCCP ||
            !profile || length == 0)
            return;
        const bool color = (m_state.colorType & PNG_COLOR_MASK_COLOR) != 0;
        SetColorProfile(std::vector<uint8_t>(profile, profile + length), color ? TColorModel::RGB : TColorModel::Gray,
                        m_state.bitDepth == 16 ? TSamples::Wide : TSamples::Narrow);
    }

    [[noreturn]] void Fail() const
    {
        const PngReadState& s = m_state;
        if (s.truncated)
            ReadError();
        const char* m = s.message;
        if (std::strstr(m, "CRC error"))
            CrcError();
        if (std::strstr(m, "unknown critical chunk") || std::strstr(m, "unhandled critical chunk"))
            throw EInvalidGraphic("Cannot load PNG image. Unexpected but critical chunk detected.");
        if (std::strstr(m, "Extra compressed data") || std::strstr(m, "Too much image data"))
            ExtraData();
        if (std::strncmp(m, "IDAT: ", 6) == 0 || std::strstr(m, "Not enough image data") ||
            std::strstr(m, "ecompression error"))
            CompressionError();
        InvalidFormat();
    }

    // count pixels of libpng's row into out, every step-th pixel.
    void Convert(const uint8_t* in, size_t count, TColor32* out, size_t step) const
    {
        const size_t sampleBytes = m_state.bitDepth / 8;
        const size_t pixelBytes = sampleBytes * m_state.channels;
        const bool alpha = m_state.channels == 4;
        // 16-bit colours go through the profile before they are narrowed;
        // then only the alpha is taken from the samples here.
        const TColorConversion* wide = sampleBytes == 2 ? WideConversion() : nullptr;
        if (wide) {
            m_converted.resize(count);
            wide->ConvertWide(in, size_t(m_state.channels), true, m_converted.data(), count);
        }
        for (size_t x = 0; x < count; ++x) {
            const uint8_t* p = in + x * pixelBytes;
            if (wide) {
                const uint8_t a = alpha ? Reduce16(p + 6) : 0xFF;
                out[x * step] = (m_converted[x] & 0x00FFFFFFu) | (TColor32(a) << 24);
                continue;
            }
            uint8_t rgba[4] = {0, 0, 0, 0xFF};
            for (int c = 0; c < m_state.channels; ++c)
                rgba[c] = sampleBytes == 2 ? Reduce16(p + 2 * c) : p[c];
            out[x * step] = Color32(rgba[0], rgba[1], rgba[2], alpha ? rgba[3] : 0xFF);
        }
    }

    void ReadRow(int32_t, TColor32* out) override
    {
        if (!PngReadRow(&m_state, m_row.data()))
            Fail();
        Convert(m_row.data(), m_state.width, out, 1);
    }

    void ReadWhole(TBitmap32& picture) override
    {
        // Adam7: each pass is a small picture of its own, spread over the grid.
        for (int pass = 0; pass < 7; ++pass) {
            const png_uint_32 columns = PNG_PASS_COLS(m_state.width, pass);
            const png_uint_32 rows = PNG_PASS_ROWS(m_state.height, pass);
            if (columns == 0 || rows == 0)
                continue;
            for (png_uint_32 r = 0; r < rows; ++r) {
                if (!PngReadRow(&m_state, m_row.data()))
                    Fail();
                const auto y = static_cast<int32_t>(PNG_ROW_FROM_PASS_ROW(r, pass));
                Convert(m_row.data(), columns, picture.RowAddress(y) + PNG_PASS_START_COL(pass),
                        size_t(1) << PNG_PASS_COL_SHIFT(pass));
            }
        }
    }

    void ReadEnd() override
    {
        // Every pixel is in; a file cut after its image data still gives the picture.
        if (!PngReadEnd(&m_state) && !m_state.truncated)
            Fail();
    }

    TByteReader m_in;
    PngReadState m_state;
    std::vector<uint8_t> m_row;
    mutable std::vector<TColor32> m_converted;
};

} // namespace

std::unique_ptr<TPictureReader> TPNGGraphic::OpenRows(TStream& stream)
{
    return std::make_unique<TPNGReader>(stream);
}

} // namespace palvex
