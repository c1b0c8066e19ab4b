#include "imageio/decoders/TIFFGraphic.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>

#include <tiffio.h>

#include "imageio/decoders/TiffSupport.h"
#include "platform/Errors.h"

namespace palvex {

PALVEX_DEFINE_GRAPHIC_CLASS(TTIFFGraphic, TDecoderGraphic)

// What libtiff's callbacks see: the loaded bytes and the first error of the
// load. Plain data; the callbacks are C code's and must not throw.
struct TiffReadState {
    TIFF* tif = nullptr;
    const uint8_t* data = nullptr;
    uint64_t size = 0;
    uint64_t pos = 0;
    bool shortRead = false;
    bool failed = false;
    char module[64] = {};
    char message[512] = {};
};

// The fields that decide how a page is read.
struct TiffLayout {
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t samplesPerPixel = 1;
    uint16_t bitsPerSample = 1;
    uint16_t photometric = 0;
    uint16_t planar = PLANARCONFIG_CONTIG;
    uint16_t compression = COMPRESSION_NONE;
    uint16_t sampleFormat = SAMPLEFORMAT_UINT;
    uint16_t extraCount = 0;
    uint16_t firstExtra = EXTRASAMPLE_UNSPECIFIED;
    bool tiled = false;

    int ColorChannels() const
    {
        return photometric == PHOTOMETRIC_RGB ? 3 : photometric == PHOTOMETRIC_SEPARATED ? 4 : 1;
    }
    bool HasAlpha() const
    {
        return extraCount > 0 && (firstExtra == EXTRASAMPLE_ASSOCALPHA || firstExtra == EXTRASAMPLE_UNASSALPHA);
    }
};

namespace {

tmsize_t TiffRead(thandle_t handle, void* out, tmsize_t size)
{
    auto* s = static_cast<TiffReadState*>(handle);
    if (size <= 0)
        return 0;
    const uint64_t left = s->pos < s->size ? s->size - s->pos : 0;
    const uint64_t n = std::min<uint64_t>(static_cast<uint64_t>(size), left);
    if (n > 0)
        std::memcpy(out, s->data + s->pos, n);
    s->pos += n;
    if (n < static_cast<uint64_t>(size))
        s->shortRead = true;
    return static_cast<tmsize_t>(n);
}

tmsize_t TiffWrite(thandle_t, void*, tmsize_t) { return -1; }

toff_t TiffSeek(thandle_t handle, toff_t offset, int whence)
{
    auto* s = static_cast<TiffReadState*>(handle);
    uint64_t base = 0;
    if (whence == SEEK_CUR)
        base = s->pos;
    else if (whence == SEEK_END)
        base = s->size;
    uint64_t target = 0;
    if (__builtin_add_overflow(base, offset, &target))
        return static_cast<toff_t>(-1);
    s->pos = target;
    return target;
}

int TiffClose(thandle_t) { return 0; }
toff_t TiffSize(thandle_t handle) { return static_cast<TiffReadState*>(handle)->size; }
int TiffMap(thandle_t, void**, toff_t*) { return 0; }
void TiffUnmap(thandle_t, void*, toff_t) {}

int TiffErrorSink(TIFF*, void* user, const char* module, const char* format, va_list args)
{
    auto* s = static_cast<TiffReadState*>(user);
    if (!s->failed) {
        s->failed = true;
        std::snprintf(s->module, sizeof s->module, "%s", module ? module : "");
        std::vsnprintf(s->message, sizeof s->message, format ? format : "", args);
    }
    return 1;
}

int TiffWarningSink(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// Warnings of libtiff's process-wide handlers stay silent as well (codecs
// that warn before the open options take hold).
const bool kSilenced = [] {
    TIFFSetWarningHandler(nullptr);
    TIFFSetWarningHandlerExt(nullptr);
    return true;
}();

struct TiffCloser {
    TIFF* tif;
    ~TiffCloser()
    {
        if (tif)
            TIFFClose(tif);
    }
};

struct OptionsFree {
    void operator()(TIFFOpenOptions* o) const { TIFFOpenOptionsFree(o); }
};

bool IsTiffMagic(std::span<const uint8_t> data)
{
    static const uint8_t kMagics[4][4] = {{'I', 'I', 42, 0}, {'M', 'M', 0, 42}, {'I', 'I', 43, 0}, {'M', 'M', 0, 43}};
    for (const auto& m : kMagics)
        if (data.size() >= 4 && std::memcmp(data.data(), m, 4) == 0)
            return true;
    return false;
}

bool IsTiffMagicPrefix(std::span<const uint8_t> data)
{
    static const uint8_t kMagics[2][4] = {{'I', 'I', 42, 0}, {'M', 'M', 0, 42}};
    for (const auto& m : kMagics)
        if (std::memcmp(data.data(), m, data.size()) == 0)
            return true;
    return false;
}

inline uint8_t Reduce16(uint16_t v) { return static_cast<uint8_t>((uint32_t(v) * 255 + 32767) / 65535); }

// bits (at most 16) from a row, most significant bit first.
inline uint32_t ReadBits(const uint8_t* row, size_t bitPos, uint32_t bits)
{
    uint32_t v = 0;
    for (uint32_t i = 0; i < bits; ++i, ++bitPos)
        v = (v << 1) | ((row[bitPos >> 3] >> (7 - (bitPos & 7))) & 1);
    return v;
}

inline uint8_t ScaleTo8(uint32_t v, uint32_t maxValue) { return uint8_t((v * 255 + maxValue / 2) / maxValue); }

inline uint8_t Unpremultiply(uint8_t c, uint8_t a)
{
    if (a == 0)
        return 0;
    return static_cast<uint8_t>(std::min<uint32_t>(255, (uint32_t(c) * 255 + a / 2) / a));
}

} // namespace

void TTIFFGraphic::Fail(const TiffReadState& state) const
{
    if (std::strstr(state.message, "Bogus JPEGTables field"))
        throw EGraphicCompression("Bogus JPEG tables field.");
    if (std::strstr(state.message, "Improper JPEG strip/tile size"))
        throw EGraphicCompression("Improper JPEG strip/tile size.");
    if (state.shortRead)
        ReadError();
    const std::string module = state.module;
    if (module == "JPEGLib") {
        const int code = JpegMessageCode(state.message);
        if (code > 0)
            throw EInvalidGraphic(Format("JPEG error #%d", code));
        CompressionError();
    }
    if (module.rfind("ZIP", 0) == 0)
        throw EGraphicCompression("LZ77 decompression error.");
    static const char* const kCodecs[] = {"LZW", "Fax3", "Fax4", "PackBits", "Thunder", "NeXT", "JPEG", "OJPEG",
                                          "Predictor", "horAcc", "fpAcc", "swab"};
    for (const char* codec : kCodecs)
        if (module.rfind(codec, 0) == 0)
            CompressionError();
    InvalidFormat();
}

void TTIFFGraphic::Decode(std::span<const uint8_t> data)
{
    if (data.empty() || (data.size() < 4 && IsTiffMagicPrefix(data)))
        ReadError();
    std::vector<uint8_t> wrapped;
    if (!IsTiffMagic(data)) {
        if (!LooksLikeRawFax(data))
            InvalidFormat();
        const uint32_t rows = CountFaxLines(data);
        if (rows == 0 || data.size() > UINT32_MAX / 2)
            InvalidFormat();
        if (!IsPictureSizeAllowed(kRawFaxWidth, rows))
            InvalidFormat();
        wrapped = WrapRawFax(data, rows);
        data = wrapped;
    }
    (void)kSilenced;

    TiffReadState state;
    state.data = data.data();
    state.size = data.size();
    std::unique_ptr<TIFFOpenOptions, OptionsFree> options(TIFFOpenOptionsAlloc());
    if (!options)
        throw EOutOfMemory("Out of memory");
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), TiffErrorSink, &state);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), TiffWarningSink, &state);
    // No single buffer beyond what the largest allowed picture needs.
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), static_cast<tmsize_t>(kMaxPicturePixels * 8));
    TiffCloser closer{TIFFClientOpenExt("TIFF", "rm", &state, TiffRead, TiffWrite, TiffSeek, TiffClose, TiffSize,
                                        TiffMap, TiffUnmap, options.get())};
    TIFF* tif = closer.tif;
    if (!tif)
        Fail(state);
    state.tif = tif;

    TiffLayout layout;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &layout.width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &layout.height);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &layout.samplesPerPixel);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &layout.bitsPerSample);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &layout.planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &layout.compression);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &layout.sampleFormat);
    uint16_t* extraTypes = nullptr;
    if (TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &layout.extraCount, &extraTypes) && layout.extraCount > 0 &&
        extraTypes)
        layout.firstExtra = extraTypes[0];
    else
        layout.extraCount = 0;
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &layout.photometric))
        layout.photometric = layout.samplesPerPixel >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    layout.tiled = TIFFIsTiled(tif) != 0;
    if (!IsPictureSizeAllowed(layout.width, layout.height))
        InvalidFormat();

    // Gray, RGB and CMYK samples are read here; libtiff's RGBA interface
    // would premultiply alpha, take the high byte of 16-bit samples and
    // refuses RGB under 8 bits and 16-bit CMYK.
    uint16_t inkSet = INKSET_CMYK;
    TIFFGetFieldDefaulted(tif, TIFFTAG_INKSET, &inkSet);
    const uint16_t bits = layout.bitsPerSample;
    const bool gray = layout.photometric == PHOTOMETRIC_MINISBLACK || layout.photometric == PHOTOMETRIC_MINISWHITE;
    const bool plainSamples =
        ((gray && bits >= 8) || layout.photometric == PHOTOMETRIC_RGB ||
         (layout.photometric == PHOTOMETRIC_SEPARATED && inkSet == INKSET_CMYK)) &&
        (bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 12 || bits == 16) &&
        (layout.sampleFormat == SAMPLEFORMAT_UINT || layout.sampleFormat == SAMPLEFORMAT_VOID) &&
        layout.compression != COMPRESSION_OJPEG && layout.samplesPerPixel >= layout.ColorChannels() &&
        layout.samplesPerPixel <= layout.ColorChannels() + layout.extraCount;
    if (plainSamples)
        DecodeSamples(state, layout);
    else
        DecodeRGBA(state, layout);
    // libtiff lets some codecs (fax among them) fill a strip that the file
    // cuts short; a cut file is still a cut file.
    if (state.shortRead)
        ReadError();
}

void TTIFFGraphic::DecodeSamples(TiffReadState& state, const TiffLayout& layout)
{
    TIFF* tif = state.tif;
    const uint32_t width = layout.width, height = layout.height;
    const int colors = layout.ColorChannels();
    const bool alpha = layout.HasAlpha();
    const uint32_t bits = layout.bitsPerSample;
    const uint32_t maxValue = (1u << bits) - 1;
    const bool separate = layout.planar == PLANARCONFIG_SEPARATE && layout.samplesPerPixel > 1;
    const int planes = separate ? layout.samplesPerPixel : 1;
    const int samplesInBlock = separate ? 1 : layout.samplesPerPixel;

    // Strips are read as tiles as wide as the picture.
    uint32_t blockW = width, blockH = height;
    tmsize_t blockSize = 0;
    if (layout.tiled) {
        TIFFGetField(tif, TIFFTAG_TILEWIDTH, &blockW);
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &blockH);
        blockSize = TIFFTileSize(tif);
    } else {
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &blockH);
        blockH = std::min(blockH, height);
        blockSize = TIFFStripSize(tif);
    }
    if (blockW == 0 || blockH == 0 || blockSize <= 0)
        Fail(state);
    size_t rowBytes = 0, needed = 0;
    if (__builtin_mul_overflow(size_t(blockW), size_t(samplesInBlock) * bits, &rowBytes) ||
        __builtin_mul_overflow((rowBytes += 7) /= 8, size_t(blockH), &needed) || size_t(blockSize) < needed)
        InvalidFormat();

    AllocatePicture(width, height, alpha ? TPixelFormat::pf32bit : TPixelFormat::pf24bit);
    const size_t outBytes = alpha ? 4 : 3;
    const bool invert = layout.photometric == PHOTOMETRIC_MINISWHITE;
    std::vector<uint8_t> block(static_cast<size_t>(blockSize));
    std::vector<uint8_t> black(colors == 4 ? size_t(width) * height : 0);
    for (int plane = 0; plane < planes; ++plane) {
        for (uint32_t by = 0; by < height; by += blockH) {
            for (uint32_t bx = 0; bx < width; bx += blockW) {
                tmsize_t got;
                if (layout.tiled)
                    got = TIFFReadEncodedTile(tif, TIFFComputeTile(tif, bx, by, 0, uint16_t(plane)), block.data(),
                                              blockSize);
                else
                    got = TIFFReadEncodedStrip(tif, TIFFComputeStrip(tif, by, uint16_t(plane)), block.data(),
                                               blockSize);
                if (got < 0 || state.failed)
                    Fail(state);
                std::fill(block.begin() + got, block.end(), 0);
                const uint32_t rows = std::min(blockH, height - by);
                const uint32_t cols = std::min(blockW, width - bx);
                for (uint32_t r = 0; r < rows; ++r) {
                    const uint8_t* in = block.data() + r * rowBytes;
                    uint8_t* out = ScanLine(int32_t(by + r)) + size_t(bx) * outBytes;
                    size_t at = 0; // sample number within the row
                    for (uint32_t c = 0; c < cols; ++c, out += outBytes) {
                        for (int s = 0; s < samplesInBlock; ++s, ++at) {
                            const int sample = separate ? plane : s;
                            uint8_t v;
                            if (bits == 8) {
                                v = in[at];
                            } else if (bits == 16) {
                                uint16_t wide;
                                std::memcpy(&wide, in + 2 * at, 2);
                                v = Reduce16(wide);
                            } else {
                                v = ScaleTo8(ReadBits(in, at * bits, bits), maxValue);
                            }
                            if (sample < colors) {
                                if (invert)
                                    v = uint8_t(255 - v);
                                if (colors == 1)
                                    out[0] = out[1] = out[2] = v;
                                else if (sample < 3)
                                    out[2 - sample] = v; // R, G, B, or C, M, Y in their places
                                else
                                    black[size_t(by + r) * width + bx + c] = v;
                            } else if (sample == colors && alpha) {
                                out[3] = v;
                            }
                        }
                    }
                }
            }
        }
    }
    if (colors == 4) {
        // Naive CMYK: R = (1 - C)(1 - K), rounded.
        for (uint32_t y = 0; y < height; ++y) {
            uint8_t* p = ScanLine(int32_t(y));
            const uint8_t* k = black.data() + size_t(y) * width;
            for (uint32_t x = 0; x < width; ++x, p += outBytes)
                for (int i = 0; i < 3; ++i)
                    p[i] = uint8_t(((255 - p[i]) * (255 - k[x]) + 127) / 255);
        }
    }
    if (alpha && layout.firstExtra == EXTRASAMPLE_ASSOCALPHA) {
        for (uint32_t y = 0; y < height; ++y) {
            uint8_t* p = ScanLine(int32_t(y));
            for (uint32_t x = 0; x < width; ++x, p += 4)
                for (int k = 0; k < 3; ++k)
                    p[k] = Unpremultiply(p[k], p[3]);
        }
    }
}

void TTIFFGraphic::DecodeRGBA(TiffReadState& state, const TiffLayout& layout)
{
    TIFF* tif = state.tif;
    char why[1024] = {};
    if (!TIFFRGBAImageOK(tif, why)) {
        if (layout.sampleFormat == SAMPLEFORMAT_IEEEFP)
            Unsupported("Floating point samples");
        if (layout.bitsPerSample > 16)
            Unsupported(Format("%u-bit samples", unsigned(layout.bitsPerSample)));
        static const uint16_t kKnown[] = {PHOTOMETRIC_MINISWHITE, PHOTOMETRIC_MINISBLACK, PHOTOMETRIC_RGB,
                                          PHOTOMETRIC_PALETTE,    PHOTOMETRIC_SEPARATED,  PHOTOMETRIC_YCBCR,
                                          PHOTOMETRIC_CIELAB,     PHOTOMETRIC_ICCLAB,     PHOTOMETRIC_ITULAB};
        if (std::find(std::begin(kKnown), std::end(kKnown), layout.photometric) == std::end(kKnown))
            throw EColorConversionError("Color conversion failed. Could not find a proper method.");
        if (state.failed)
            Fail(state);
        InvalidFormat();
    }
    // Rows as stored: ask for the page's own orientation where libtiff can.
    uint16_t orientation = ORIENTATION_TOPLEFT;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation);
    if (orientation < ORIENTATION_TOPLEFT || orientation > ORIENTATION_BOTLEFT)
        orientation = ORIENTATION_TOPLEFT;
    std::vector<uint32_t> raster(size_t(layout.width) * layout.height);
    if (!TIFFReadRGBAImageOriented(tif, layout.width, layout.height, raster.data(), orientation, 1) || state.failed)
        Fail(state);

    // libtiff hands out alpha premultiplied; the bitmap keeps it straight.
    const bool alpha = layout.HasAlpha();
    AllocatePicture(layout.width, layout.height, alpha ? TPixelFormat::pf32bit : TPixelFormat::pf24bit);
    const uint32_t* in = raster.data();
    for (uint32_t y = 0; y < layout.height; ++y) {
        uint8_t* out = ScanLine(int32_t(y));
        for (uint32_t x = 0; x < layout.width; ++x, ++in) {
            const uint8_t a = uint8_t(TIFFGetA(*in));
            uint8_t r = uint8_t(TIFFGetR(*in)), g = uint8_t(TIFFGetG(*in)), b = uint8_t(TIFFGetB(*in));
            if (alpha) {
                r = Unpremultiply(r, a), g = Unpremultiply(g, a), b = Unpremultiply(b, a);
            }
            *out++ = b;
            *out++ = g;
            *out++ = r;
            if (alpha)
                *out++ = a;
        }
    }
}

} // namespace palvex
