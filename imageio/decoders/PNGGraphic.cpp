#include "imageio/decoders/PNGGraphic.h"

#include <csetjmp>
#include <cstring>
#include <vector>

#include <png.h>

#include "platform/Errors.h"

namespace palvex {

PALVEX_DEFINE_GRAPHIC_CLASS(TPNGGraphic, TDecoderGraphic)

// Everything libpng's callbacks and the two setjmp functions touch. Plain data
// only: a longjmp out of libpng must not skip a destructor.
struct PngReadState {
    png_structp png = nullptr;
    png_infop info = nullptr;
    const uint8_t* data = nullptr;
    size_t size = 0;
    size_t pos = 0;
    bool truncated = false;
    char message[256] = {};

    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int bitDepth = 0;
    int colorType = 0;
    int channels = 0;
    size_t rowBytes = 0;
    png_bytep* rows = nullptr;
};

namespace {

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
    if (length > state->size - state->pos) {
        state->truncated = true;
        png_error(png, "read past the end of the data");
    }
    std::memcpy(out, state->data + state->pos, length);
    state->pos += length;
}

// Reads the chunks up to the first IDAT and sets the transformations that give
// 8- or 16-bit RGB or RGBA rows.
bool PngReadHeader(PngReadState* s)
{
    if (setjmp(png_jmpbuf(s->png)))
        return false;
    png_set_read_fn(s->png, s, PngRead);
    png_set_user_limits(s->png, kMaxPictureSide, kMaxPictureSide);
    // Only the pixels and tRNS are used. The other ancillary chunks are skipped
    // unread, so a length field of gigabytes in one of them takes no memory.
    static const png_byte kIgnored[] = "bKGD\0cHRM\0eXIf\0gAMA\0hIST\0iCCP\0iTXt\0oFFs\0pCAL\0pHYs\0"
                                       "sBIT\0sCAL\0sPLT\0sRGB\0tEXt\0tIME\0zTXt";
    png_set_keep_unknown_chunks(s->png, PNG_HANDLE_CHUNK_NEVER, kIgnored, 17);
    png_read_info(s->png, s->info);
    s->width = png_get_image_width(s->png, s->info);
    s->height = png_get_image_height(s->png, s->info);
    s->bitDepth = png_get_bit_depth(s->png, s->info);
    s->colorType = png_get_color_type(s->png, s->info);
    png_set_expand(s->png);
    if (!(s->colorType & PNG_COLOR_MASK_COLOR))
        png_set_gray_to_rgb(s->png);
    png_set_interlace_handling(s->png);
    png_read_update_info(s->png, s->info);
    s->channels = png_get_channels(s->png, s->info);
    s->bitDepth = png_get_bit_depth(s->png, s->info);
    s->rowBytes = png_get_rowbytes(s->png, s->info);
    return true;
}

bool PngReadPixels(PngReadState* s)
{
    if (setjmp(png_jmpbuf(s->png)))
        return false;
    png_read_image(s->png, s->rows);
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

struct PngStructGuard {
    PngReadState& state;
    ~PngStructGuard() { png_destroy_read_struct(&state.png, state.info ? &state.info : nullptr, nullptr); }
};

inline uint8_t Reduce16(const uint8_t* p)
{
    const uint32_t v = (uint32_t(p[0]) << 8) | p[1];
    return static_cast<uint8_t>((v * 255 + 32767) / 65535);
}

} // namespace

void TPNGGraphic::Fail(const PngReadState& state) const
{
    if (state.truncated)
        ReadError();
    const char* m = state.message;
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

void TPNGGraphic::Decode(std::span<const uint8_t> data)
{
    // A prefix of the signature is a cut file; anything else is not PNG.
    if (data.empty())
        ReadError();
    const size_t sigLength = std::min<size_t>(data.size(), 8);
    if (png_sig_cmp(data.data(), 0, sigLength) != 0)
        InvalidFormat();
    if (data.size() < 8)
        ReadError();

    PngReadState state;
    state.data = data.data();
    state.size = data.size();
    state.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state, PngError, PngWarning);
    if (!state.png)
        throw EOutOfMemory("Out of memory");
    PngStructGuard guard{state};
    state.info = png_create_info_struct(state.png);
    if (!state.info)
        throw EOutOfMemory("Out of memory");

    if (!PngReadHeader(&state))
        Fail(state);
    if (!IsPictureSizeAllowed(state.width, state.height))
        InvalidFormat();
    if ((state.channels != 3 && state.channels != 4) || (state.bitDepth != 8 && state.bitDepth != 16))
        InvalidColorFormat();
    size_t bufferBytes = 0;
    if (state.rowBytes < size_t(state.width) * state.channels * (state.bitDepth / 8) ||
        __builtin_mul_overflow(state.rowBytes, size_t(state.height), &bufferBytes))
        InvalidFormat();

    std::vector<uint8_t> buffer(bufferBytes);
    std::vector<png_bytep> rows(state.height);
    for (png_uint_32 y = 0; y < state.height; ++y)
        rows[y] = buffer.data() + size_t(y) * state.rowBytes;
    state.rows = rows.data();
    if (!PngReadPixels(&state))
        Fail(state);
    // Every pixel is in; a file cut after its image data still gives the picture.
    if (!PngReadEnd(&state) && !state.truncated)
        Fail(state);

    const bool withAlpha = state.channels == 4;
    AllocatePicture(state.width, state.height, withAlpha ? TPixelFormat::pf32bit : TPixelFormat::pf24bit);
    const size_t sampleBytes = state.bitDepth / 8;
    const size_t pixelBytes = sampleBytes * state.channels;
    for (png_uint_32 y = 0; y < state.height; ++y) {
        const uint8_t* in = rows[y];
        uint8_t* out = ScanLine(static_cast<int32_t>(y));
        for (png_uint_32 x = 0; x < state.width; ++x, in += pixelBytes) {
            uint8_t rgba[4];
            for (int c = 0; c < state.channels; ++c)
                rgba[c] = sampleBytes == 2 ? Reduce16(in + 2 * c) : in[c];
            *out++ = rgba[2];
            *out++ = rgba[1];
            *out++ = rgba[0];
            if (withAlpha)
                *out++ = rgba[3];
        }
    }
}

} // namespace palvex
