#include "imageio/decoders/TIFFGraphic.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>

#include <tiffio.h>

#include "imageio/Streams.h"
#include "imageio/decoders/TiffSupport.h"
#include "platform/Errors.h"

namespace palvex {

PALVEX_DEFINE_GRAPHIC_CLASS(TTIFFGraphic, TDecoderGraphic)

namespace {
constexpr const char* kName = "TIFF";
} // namespace

// What libtiff's callbacks see: the file (after the header made for a raw fax
// stream, if any) and the first error of the load. Plain data; the callbacks
// are C code's and must not throw.
struct TiffReadState {
    TIFF* tif = nullptr;
    const uint8_t* prefix = nullptr; // bytes before the file's own
    uint64_t prefixSize = 0;
    TByteReader* in = nullptr;
    uint64_t size = 0; // prefix and file
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
    const uint64_t want = std::min<uint64_t>(static_cast<uint64_t>(size), left);
    uint64_t n = 0;
    auto* bytes = static_cast<uint8_t*>(out);
    if (s->pos < s->prefixSize) {
        n = std::min<uint64_t>(want, s->prefixSize - s->pos);
        std::memcpy(bytes, s->prefix + s->pos, n);
    }
    if (n < want) {
        try {
            s->in->Seek(static_cast<size_t>(s->pos + n - s->prefixSize));
            n += s->in->ReadSome(bytes + n, static_cast<size_t>(want - n));
        } catch (...) {
        }
    }
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

// Decoded bytes a compressed byte can give at most, by compression: a file
// too short for the picture it declares is refused before anything is taken.
uint64_t MaxExpansion(uint16_t compression, uint32_t width)
{
    switch (compression) {
    case COMPRESSION_NONE: return 1;
    case COMPRESSION_PACKBITS: return 64;
    case COMPRESSION_LZW: return 4096;
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE: return 1100;
    case COMPRESSION_CCITTRLE:
    case COMPRESSION_CCITTRLEW:
    case COMPRESSION_CCITTFAX3:
    case COMPRESSION_CCITTFAX4: return uint64_t(width) + 8; // a line in one bit
    default: return uint64_t(1) << 20;
    }
}

// Row y of a block's samples into a blue-green-red(-alpha) row and the black
// of CMYK: the samples of columns bx .. bx + cols of plane (or of all
// samples in a chunky block).
struct TSampleRow {
    const TiffLayout& Layout;
    bool Separate;
    int SamplesInBlock;
    size_t OutBytes;

    void Put(const uint8_t* in, uint32_t bx, uint32_t cols, int plane, uint8_t* row, uint8_t* black) const
    {
        const uint32_t bits = Layout.bitsPerSample;
        const uint32_t maxValue = (1u << bits) - 1;
        const int colors = Layout.ColorChannels();
        const bool alpha = Layout.HasAlpha();
        const bool invert = Layout.photometric == PHOTOMETRIC_MINISWHITE;
        uint8_t* out = row + size_t(bx) * OutBytes;
        size_t at = 0; // sample number within the block's row
        for (uint32_t c = 0; c < cols; ++c, out += OutBytes) {
            for (int s = 0; s < SamplesInBlock; ++s, ++at) {
                const int sample = Separate ? plane : s;
                uint8_t v;
                if (bits == 8) {
                    v = in[at];
                } else if (bits == 16) {
                    uint16_t wide;
                    std::memcpy(&wide, in + 2 * at, 2);
                    v = Scale16To8(wide);
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
                        black[bx + c] = v;
                } else if (sample == colors && alpha) {
                    out[3] = v;
                }
            }
        }
    }
};

class TTIFFReader final : public TDecoderReader {
public:
    explicit TTIFFReader(TStream& stream) : TDecoderReader(kName), m_in(stream, kName)
    {
        CheckStart();
        m_state.in = &m_in;
        m_state.prefix = m_prefix.data();
        m_state.prefixSize = m_prefix.size();
        m_state.size = m_prefix.size() + m_in.Size();
        std::unique_ptr<TIFFOpenOptions, OptionsFree> options(TIFFOpenOptionsAlloc());
        if (!options)
            throw EOutOfMemory("Out of memory");
        TIFFOpenOptionsSetErrorHandlerExtR(options.get(), TiffErrorSink, &m_state);
        TIFFOpenOptionsSetWarningHandlerExtR(options.get(), TiffWarningSink, &m_state);
        // No single buffer beyond what the largest allowed picture needs.
        TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), static_cast<tmsize_t>(kMaxPicturePixels * 8));
        m_tif = TIFFClientOpenExt("TIFF", "rm", &m_state, TiffRead, TiffWrite, TiffSeek, TiffClose, TiffSize,
                                  TiffMap, TiffUnmap, options.get());
        if (!m_tif)
            Fail();
        m_state.tif = m_tif;
        try {
            Open();
        } catch (...) {
            TIFFClose(m_tif);
            m_tif = nullptr;
            throw;
        }
    }

    ~TTIFFReader() override
    {
        if (m_tif)
            TIFFClose(m_tif);
    }

private:
    // A TIFF header, or a headerless G3 stream, which gets a header of its own
    // in front of it.
    void CheckStart()
    {
        uint8_t start[4] = {};
        const size_t got = m_in.ReadSome(start, 4);
        const std::span<const uint8_t> head(start, got);
        if (got == 0 || (got < 4 && IsTiffMagicPrefix(head)))
            ReadError();
        if (IsTiffMagic(head))
            return;
        if (!LooksLikeRawFax(head))
            InvalidFormat();
        if (m_in.Size() > UINT32_MAX / 2)
            InvalidFormat();
        TFaxLineCounter counter;
        m_in.Seek(0);
        while (m_in.Remaining() > 0)
            counter.Feed(m_in.Bytes(std::min<size_t>(m_in.Remaining(), size_t(64) << 10)));
        const uint32_t rows = counter.Lines();
        if (rows == 0 || !IsPictureSizeAllowed(kRawFaxWidth, rows))
            InvalidFormat();
        m_prefix = RawFaxHeader(rows, static_cast<uint32_t>(m_in.Size()));
    }

    void Open()
    {
        (void)kSilenced;
        TIFF* tif = m_tif;
        TiffLayout& layout = m_layout;
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
        // What the declared picture decodes to must fit what the file can hold.
        const uint64_t samples = uint64_t(layout.width) * layout.height * std::max<uint16_t>(layout.samplesPerPixel, 1);
        const uint64_t rawBytes = (samples * std::max<uint16_t>(layout.bitsPerSample, 1) + 7) / 8;
        if (rawBytes / MaxExpansion(layout.compression, layout.width) > m_in.Size())
            ReadError();

        // Gray, RGB and CMYK samples are read here; libtiff's RGBA interface
        // would premultiply alpha, take the high byte of 16-bit samples and
        // refuses RGB under 8 bits and 16-bit CMYK.
        uint16_t inkSet = INKSET_CMYK;
        TIFFGetFieldDefaulted(tif, TIFFTAG_INKSET, &inkSet);
        const uint16_t bits = layout.bitsPerSample;
        const bool gray = layout.photometric == PHOTOMETRIC_MINISBLACK || layout.photometric == PHOTOMETRIC_MINISWHITE;
        const bool cmyk = layout.photometric == PHOTOMETRIC_SEPARATED && inkSet == INKSET_CMYK;
        // CMYK with more channels than it declares (spot colours) comes here
        // only when it has a profile for its inks, which the RGBA interface
        // would not use; without one it stays on that road as before.
        uint32_t profileLength = 0;
        const uint8_t* profile = nullptr;
        const bool profiled = cmyk && TIFFGetField(tif, TIFFTAG_ICCPROFILE, &profileLength, &profile) && profile &&
                              profileLength > 0;
        m_samples = ((gray && bits >= 8) || layout.photometric == PHOTOMETRIC_RGB || cmyk) &&
                    (bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 12 || bits == 16) &&
                    (layout.sampleFormat == SAMPLEFORMAT_UINT || layout.sampleFormat == SAMPLEFORMAT_VOID) &&
                    layout.compression != COMPRESSION_OJPEG && layout.samplesPerPixel >= layout.ColorChannels() &&
                    (layout.samplesPerPixel <= layout.ColorChannels() + layout.extraCount || profiled);
        if (m_samples)
            OpenSamples();
        else
            OpenRGBA();
        ReadOrientationAndProfile(inkSet);
    }

    void ReadOrientationAndProfile(uint16_t inkSet)
    {
        uint16_t orientation = ORIENTATION_TOPLEFT;
        TIFFGetFieldDefaulted(m_tif, TIFFTAG_ORIENTATION, &orientation);
        SetOrientation(orientation);
        uint32_t length = 0;
        const uint8_t* profile = nullptr;
        if (!TIFFGetField(m_tif, TIFFTAG_ICCPROFILE, &length, &profile) || !profile || length == 0 ||
            length > kMaxColorProfileBytes)
            return;
        const uint16_t photometric = m_layout.photometric;
        TColorModel model = TColorModel::RGB;
        if (photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE)
            model = TColorModel::Gray;
        else if (photometric == PHOTOMETRIC_SEPARATED && inkSet == INKSET_CMYK)
            model = TColorModel::CMYK; // converted here on the samples road only
        else if (photometric != PHOTOMETRIC_RGB && photometric != PHOTOMETRIC_YCBCR && photometric != PHOTOMETRIC_PALETTE)
            return;
        // Chunky 16-bit gray and RGB with straight alpha are converted at 16 bits.
        const bool wide = m_samples && !m_separate && m_layout.bitsPerSample == 16 && m_layout.samplesPerPixel <= 8 &&
                          (photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_RGB) &&
                          !(m_layout.HasAlpha() && m_layout.firstExtra == EXTRASAMPLE_ASSOCALPHA);
        SetColorProfile(std::vector<uint8_t>(profile, profile + length), model,
                        wide ? TSamples::Wide : TSamples::Narrow);
    }

    [[noreturn]] void Fail() const
    {
        const TiffReadState& state = m_state;
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

    // ---- samples, row by row

    void OpenSamples()
    {
        TIFF* tif = m_tif;
        const TiffLayout& layout = m_layout;
        const uint32_t width = layout.width, height = layout.height;
        m_separate = layout.planar == PLANARCONFIG_SEPARATE && layout.samplesPerPixel > 1;
        m_planes = m_separate ? layout.samplesPerPixel : 1;
        const int samplesInBlock = m_separate ? 1 : layout.samplesPerPixel;
        const uint32_t bits = layout.bitsPerSample;

        // Strips are read as tiles as wide as the picture.
        m_blockW = width;
        m_blockH = height;
        if (layout.tiled) {
            TIFFGetField(tif, TIFFTAG_TILEWIDTH, &m_blockW);
            TIFFGetField(tif, TIFFTAG_TILELENGTH, &m_blockH);
            m_blockSize = TIFFTileSize(tif);
        } else {
            TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &m_blockH);
            m_blockH = std::min(m_blockH, height);
            m_blockSize = TIFFStripSize(tif);
        }
        if (m_blockW == 0 || m_blockH == 0 || m_blockSize <= 0)
            Fail();
        size_t needed = 0;
        if (__builtin_mul_overflow(size_t(m_blockW), size_t(samplesInBlock) * bits, &m_rowBytes) ||
            __builtin_mul_overflow((m_rowBytes += 7) /= 8, size_t(m_blockH), &needed) || size_t(m_blockSize) < needed)
            InvalidFormat();
        m_blocksAcross = (width + m_blockW - 1) / m_blockW;
        // Blocks far larger than the picture they tile are no picture's.
        size_t band = 0;
        if (__builtin_mul_overflow(size_t(m_blockSize), size_t(m_blocksAcross) * size_t(m_planes), &band) ||
            band > std::max<size_t>(size_t(64) << 20, 4 * size_t(width) * height * 8))
            InvalidFormat();
        // Chunky strips of any other compression come a row at a time.
        m_scanlines = !layout.tiled && !m_separate && layout.compression != COMPRESSION_JPEG;
        m_sampleRow = std::make_unique<TSampleRow>(TSampleRow{m_layout, m_separate, samplesInBlock,
                                                              size_t(layout.HasAlpha() ? 4 : 3)});
        m_row.resize(size_t(width) * m_sampleRow->OutBytes);
        m_black.resize(layout.ColorChannels() == 4 ? width : 0);
        SetPicture(width, height, layout.HasAlpha());
    }

    // The blocks of every plane that hold row y, when they are not at hand.
    void ReadBand(uint32_t y)
    {
        const uint32_t band = y / m_blockH;
        if (m_band == int64_t(band))
            return;
        m_band = -1;
        const size_t block = size_t(m_blockSize);
        if (m_blocks.empty())
            m_blocks.resize(block * m_blocksAcross * m_planes);
        const uint32_t by = band * m_blockH;
        for (int plane = 0; plane < m_planes; ++plane) {
            for (uint32_t i = 0; i < m_blocksAcross; ++i) {
                uint8_t* into = m_blocks.data() + (size_t(plane) * m_blocksAcross + i) * block;
                tmsize_t got;
                if (m_layout.tiled)
                    got = TIFFReadEncodedTile(m_tif, TIFFComputeTile(m_tif, i * m_blockW, by, 0, uint16_t(plane)),
                                              into, m_blockSize);
                else
                    got = TIFFReadEncodedStrip(m_tif, TIFFComputeStrip(m_tif, by, uint16_t(plane)), into,
                                               m_blockSize);
                if (got < 0 || m_state.failed)
                    Fail();
                std::fill(into + got, into + block, 0);
            }
        }
        m_band = band;
    }

    void ReadRow(int32_t yRow, TColor32* out) override
    {
        const uint32_t y = uint32_t(yRow), width = m_layout.width;
        if (!m_samples) {
            throw std::logic_error("TIFF rows: the RGBA road fills the picture whole");
        }
        uint8_t* row = m_row.data();
        if (m_scanlines) {
            if (m_blocks.empty())
                m_blocks.resize(size_t(TIFFScanlineSize(m_tif)) + m_rowBytes);
            if (TIFFReadScanline(m_tif, m_blocks.data(), y, 0) < 0 || m_state.failed)
                Fail();
            m_sampleRow->Put(m_blocks.data(), 0, width, 0, row, m_black.data());
        } else {
            ReadBand(y);
            const size_t r = y % m_blockH;
            for (int plane = 0; plane < m_planes; ++plane) {
                for (uint32_t i = 0; i < m_blocksAcross; ++i) {
                    const uint8_t* block = m_blocks.data() + (size_t(plane) * m_blocksAcross + i) * size_t(m_blockSize);
                    const uint32_t bx = i * m_blockW;
                    m_sampleRow->Put(block + r * m_rowBytes, bx, std::min(m_blockW, width - bx), plane, row,
                                     m_black.data());
                }
            }
        }
        const size_t outBytes = m_sampleRow->OutBytes;
        if (!m_black.empty() && CMYKConversion()) {
            ConvertCMYK(row, out);
            return;
        }
        if (!m_black.empty()) {
            uint8_t* p = row;
            for (uint32_t x = 0; x < width; ++x, p += outBytes)
                for (int i = 0; i < 3; ++i)
                    p[i] = InkToChannel(p[i], m_black[x]);
        }
        const bool alpha = m_layout.HasAlpha();
        const bool associated = alpha && m_layout.firstExtra == EXTRASAMPLE_ASSOCALPHA;
        const uint8_t* p = row;
        for (uint32_t x = 0; x < width; ++x, p += outBytes) {
            if (associated)
                out[x] = Color32(Unpremultiply(p[2], p[3]), Unpremultiply(p[1], p[3]), Unpremultiply(p[0], p[3]), p[3]);
            else
                out[x] = Color32(p[2], p[1], p[0], alpha ? p[3] : 0xFF);
        }
        if (const TColorConversion* wide = WideConversion())
            ConvertWide(*wide, y, out);
    }

    // The colours of row y again, from its 16-bit samples still at hand.
    void ConvertWide(const TColorConversion& wide, uint32_t y, TColor32* out)
    {
        const uint32_t width = m_layout.width;
        const size_t samples = m_layout.samplesPerPixel;
        m_converted.resize(width);
        if (m_scanlines) {
            wide.ConvertWide(m_blocks.data(), samples, false, m_converted.data(), width);
        } else {
            const size_t r = y % m_blockH;
            for (uint32_t i = 0, bx = 0; i < m_blocksAcross; ++i, bx += m_blockW) {
                const uint8_t* block = m_blocks.data() + size_t(i) * size_t(m_blockSize);
                wide.ConvertWide(block + r * m_rowBytes, samples, false, m_converted.data() + bx,
                                 std::min(m_blockW, width - bx));
            }
        }
        for (uint32_t x = 0; x < width; ++x)
            out[x] = (out[x] & 0xFF000000u) | (m_converted[x] & 0x00FFFFFFu);
    }

    // CMYK samples through the file's profile: C, M and Y stand where the
    // row holds red, green and blue, K aside.
    void ConvertCMYK(const uint8_t* row, TColor32* out)
    {
        const uint32_t width = m_layout.width;
        const size_t outBytes = m_sampleRow->OutBytes;
        m_cmyk.resize(size_t(width) * 4);
        const uint8_t* p = row;
        for (uint32_t x = 0; x < width; ++x, p += outBytes) {
            uint8_t* q = &m_cmyk[size_t(x) * 4];
            q[0] = p[2], q[1] = p[1], q[2] = p[0], q[3] = m_black[x];
        }
        CMYKConversion()->ConvertCMYK(m_cmyk.data(), out, width);
        if (m_layout.HasAlpha()) {
            p = row;
            for (uint32_t x = 0; x < width; ++x, p += outBytes)
                out[x] = (out[x] & 0x00FFFFFFu) | (TColor32(p[3]) << 24);
        }
    }

    // ---- libtiff's RGBA interface, whole

    void OpenRGBA()
    {
        const TiffLayout& layout = m_layout;
        char why[1024] = {};
        if (!TIFFRGBAImageOK(m_tif, why)) {
            if (layout.sampleFormat == SAMPLEFORMAT_IEEEFP)
                Unsupported("Floating point samples");
            if (layout.bitsPerSample > 16)
                Unsupported(Format("%u-bit samples", unsigned(layout.bitsPerSample)));
            static const uint16_t kKnown[] = {PHOTOMETRIC_MINISWHITE, PHOTOMETRIC_MINISBLACK, PHOTOMETRIC_RGB,
                                              PHOTOMETRIC_PALETTE,    PHOTOMETRIC_SEPARATED,  PHOTOMETRIC_YCBCR,
                                              PHOTOMETRIC_CIELAB,     PHOTOMETRIC_ICCLAB,     PHOTOMETRIC_ITULAB};
            if (std::find(std::begin(kKnown), std::end(kKnown), layout.photometric) == std::end(kKnown))
                throw EColorConversionError("Color conversion failed. Could not find a proper method.");
            if (m_state.failed)
                Fail();
            InvalidFormat();
        }
        SetPicture(layout.width, layout.height, layout.HasAlpha(), TFill::Whole);
    }

    void ReadWhole(TBitmap32& picture) override
    {
        const TiffLayout& layout = m_layout;
        // Rows as stored: ask for the page's own orientation (libtiff flips
        // to the one asked for; a turned one it takes as its unturned kin, so
        // asking for it leaves the rows as stored too). Turning is done later.
        uint16_t orientation = ORIENTATION_TOPLEFT;
        TIFFGetFieldDefaulted(m_tif, TIFFTAG_ORIENTATION, &orientation);
        if (orientation < ORIENTATION_TOPLEFT || orientation > ORIENTATION_LEFTBOT)
            orientation = ORIENTATION_TOPLEFT;
        // libtiff's raster is the picture's own block, converted in place.
        auto* raster = reinterpret_cast<uint32_t*>(picture.PixelData());
        if (!TIFFReadRGBAImageOriented(m_tif, layout.width, layout.height, raster, orientation, 1) || m_state.failed)
            Fail();
        // libtiff hands out alpha premultiplied; the picture keeps it straight.
        const bool alpha = layout.HasAlpha();
        TColor32* out = picture.PixelData();
        for (size_t i = 0, n = picture.PixelCount(); i < n; ++i) {
            const uint32_t v = raster[i];
            const uint8_t a = uint8_t(TIFFGetA(v));
            uint8_t r = uint8_t(TIFFGetR(v)), g = uint8_t(TIFFGetG(v)), b = uint8_t(TIFFGetB(v));
            if (alpha)
                r = Unpremultiply(r, a), g = Unpremultiply(g, a), b = Unpremultiply(b, a);
            out[i] = Color32(r, g, b, alpha ? a : 0xFF);
        }
    }

    // libtiff lets some codecs (fax among them) fill a strip that the file
    // cuts short; a cut file is still a cut file.
    void ReadEnd() override
    {
        if (m_state.shortRead)
            ReadError();
    }

    TByteReader m_in;
    std::vector<uint8_t> m_prefix;
    TiffReadState m_state;
    TIFF* m_tif = nullptr;
    TiffLayout m_layout;
    bool m_samples = false;
    // Samples: blocks are strips, or tiles; a band is the blocks of one row of them.
    bool m_separate = false;
    int m_planes = 1;
    uint32_t m_blockW = 0;
    uint32_t m_blockH = 0;
    tmsize_t m_blockSize = 0;
    size_t m_rowBytes = 0;
    uint32_t m_blocksAcross = 0;
    bool m_scanlines = false;
    int64_t m_band = -1;
    std::vector<uint8_t> m_blocks;
    std::unique_ptr<TSampleRow> m_sampleRow;
    std::vector<uint8_t> m_row;
    std::vector<uint8_t> m_black;
    std::vector<uint8_t> m_cmyk;
    std::vector<TColor32> m_converted;
};

} // namespace

std::unique_ptr<TPictureReader> TTIFFGraphic::OpenRows(TStream& stream)
{
    return std::make_unique<TTIFFReader>(stream);
}

} // namespace palvex
