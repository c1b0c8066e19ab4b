// TJPEGImage over libjpeg: encoding from a bitmap view, header parsing on
// load, decoding on first draw, and the JPEG registrations.
#include "imageio/JPEGImage.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

#include <jerror.h>

#include "imageio/FileFormats.h"
#include "imageio/JPEGArrays.h"
#include "imageio/JPEGLibrary.h"
#include "platform/Errors.h"

namespace palvex {

PALVEX_DEFINE_GRAPHIC_CLASS(TJPEGImage, TGraphic)

namespace {

constexpr int kPaletteColors = 236;

[[noreturn]] void RaiseCode(int code)
{
    throw EJPEG(Format("JPEG error #%d", code));
}

// The screens this program runs on are 24 or 32 bits deep; only a palette
// screen (8 bits or less) would want palette decoding by default.
int ScreenColorBits()
{
    return 32;
}

// ---- encoding ---------------------------------------------------------------

struct TCompressJob {
    jpeg_compress_struct* Info;
    jpeg::TMemoryDestination* Destination;
    TJPEGBytes* Bytes;
    const TBitmap* View;     // null when Pixels is given
    TRowSource* Pixels; // 32-bit rows handed over as they are
    uint8_t* Row;     // blue-green-red row for views not at 24 bits
    TColor32* Row32;  // the same row as 32-bit pixels
    int Quality;
    bool Grayscale;
    bool Progressive;
};

// Runs under RunGuarded: nothing here may need destruction.
void CompressStep(void* context)
{
    auto& job = *static_cast<TCompressJob*>(context);
    jpeg_compress_struct& info = *job.Info;
    jpeg_CreateCompress(&info, JPEG_LIB_VERSION, sizeof info);
    jpeg::InitDestination(&info, *job.Destination, *job.Bytes);

    const int32_t width = job.Pixels ? job.Pixels->Width() : job.View->Width();
    const int32_t height = job.Pixels ? job.Pixels->Height() : job.View->Height();
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    // The library reads our blue-green-red rows as they are; 32-bit rows
    // with their fourth byte skipped, which converts exactly as 24-bit ones.
    info.input_components = job.Pixels ? 4 : 3;
    info.in_color_space = job.Pixels ? JCS_EXT_BGRX : JCS_EXT_BGR;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, job.Quality, TRUE);
    if (job.Grayscale)
        jpeg_set_colorspace(&info, JCS_GRAYSCALE);
    if (job.Progressive)
        jpeg_simple_progression(&info);
    // This build's default is the integer DCT; output files use the float one.
    info.dct_method = JDCT_FLOAT;

    jpeg_start_compress(&info, TRUE);
    const bool direct = job.Pixels || job.View->PixelFormat() == TPixelFormat::pf24bit;
    while (info.next_scanline < info.image_height) {
        const auto y = static_cast<int32_t>(info.next_scanline);
        JSAMPROW row;
        if (job.Pixels) {
            row = reinterpret_cast<JSAMPROW>(const_cast<TColor32*>(job.Pixels->Row(y)));
        } else if (direct) {
            row = const_cast<JSAMPROW>(job.View->ScanLine(y));
        } else {
            job.View->ReadRow32(y, job.Row32);
            for (int32_t x = 0; x < width; ++x) {
                const TColor32 c = job.Row32[x];
                job.Row[3 * x] = static_cast<uint8_t>(BlueComponent(c));
                job.Row[3 * x + 1] = static_cast<uint8_t>(GreenComponent(c));
                job.Row[3 * x + 2] = static_cast<uint8_t>(RedComponent(c));
            }
            row = job.Row;
        }
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
}

// ---- decoding ---------------------------------------------------------------

// One decompression object over a byte range, destroyed on every path.
struct TDecompressor {
    TDecompressor(const uint8_t* data, size_t size) : Data(data), Size(size)
    {
        std::memset(&Info, 0, sizeof Info);
        Info.err = jpeg::InitErrorManager(Error);
    }
    ~TDecompressor() { jpeg_destroy_decompress(&Info); }
    TDecompressor(const TDecompressor&) = delete;
    TDecompressor& operator=(const TDecompressor&) = delete;

    void Run(jpeg::TStep step, void* context)
    {
        if (!jpeg::RunGuarded(Error, step, context))
            jpeg::RaiseError(Error);
    }
    void Run(jpeg::TStep step) { Run(step, this); }

    jpeg_decompress_struct Info;
    jpeg::TErrorManager Error;
    jpeg::TLargeArrays Arrays; // destroyed after Info
    jpeg::TMemorySource Source;
    const uint8_t* Data;
    size_t Size;
    bool MultipleScans = false;
};

void ReadHeaderStep(void* context)
{
    auto& d = *static_cast<TDecompressor*>(context);
    jpeg_CreateDecompress(&d.Info, JPEG_LIB_VERSION, sizeof d.Info);
    d.Arrays.Install(&d.Info);
    jpeg::InitSource(&d.Info, d.Source, d.Data, d.Size);
    jpeg_read_header(&d.Info, TRUE);
    d.MultipleScans = jpeg_has_multiple_scans(&d.Info) != 0;
}

void StartStep(void* context)
{
    auto& d = *static_cast<TDecompressor*>(context);
    jpeg_start_decompress(&d.Info);
}

// Sizes and colour spaces the wrapper can turn into a bitmap; anything else
// is refused before pixels are allocated.
void CheckHeader(const jpeg_decompress_struct& info)
{
    if (!IsPictureSizeAllowed(info.image_width, info.image_height))
        RaiseCode(JERR_IMAGE_TOO_BIG);
    switch (info.jpeg_color_space) {
    case JCS_GRAYSCALE:
    case JCS_YCbCr:
    case JCS_RGB:
    case JCS_CMYK:
    case JCS_YCCK:
        break;
    default:
        RaiseCode(JERR_CONVERSION_NOTIMPL);
    }
}

bool IsFourComponent(const jpeg_decompress_struct& info)
{
    return info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
}

// What a decoding hands out, once the library's parameters are set.
struct TDecodePlan {
    bool FourComponent; // CMYK samples, converted here
    bool Quantize;      // palette indexes
};

// The library parameters of a decoding. bgra asks for 4-byte output where the
// library converts the colours itself; the pixels are those of blue-green-red
// output, each with a fourth byte of 255.
TDecodePlan SetUpDecoding(jpeg_decompress_struct& info, const TJPEGImage& image, bool bgra)
{
    TDecodePlan plan{IsFourComponent(info), false};
    info.scale_num = 1;
    info.scale_denom = 1;
    info.do_block_smoothing = image.BlockSmoothing();
    if (plan.FourComponent) {
        // Converted to RGB here: the library only hands out CMYK for these.
        info.out_color_space = JCS_CMYK;
    } else if (image.GrayscaleMode() || info.jpeg_color_space == JCS_GRAYSCALE) {
        info.out_color_space = JCS_GRAYSCALE;
    } else {
        info.out_color_space = JCS_EXT_BGR;
    }
    plan.Quantize = !plan.FourComponent && (image.PaletteDecoding() || info.out_color_space == JCS_GRAYSCALE);
    if (plan.Quantize) {
        // The quantiser weighs components by colour space: it keeps blue-green-red.
        info.quantize_colors = TRUE;
        info.desired_number_of_colors = kPaletteColors;
    } else if (bgra && !plan.FourComponent) {
        info.out_color_space = JCS_EXT_BGRA;
    }
    if (image.FastDecoding()) {
        info.dct_method = JDCT_IFAST;
        info.two_pass_quantize = FALSE;
        info.dither_mode = JDITHER_ORDERED;
    } else {
        info.dct_method = JDCT_FLOAT;
    }
    return plan;
}

// After jpeg_start_decompress: the output is what the plan expects.
void CheckOutput(const jpeg_decompress_struct& info, const TDecodePlan& plan)
{
    const int expected = plan.Quantize ? 1 : (plan.FourComponent || info.out_color_space == JCS_EXT_BGRA) ? 4 : 3;
    if (info.output_components != expected || !IsPictureSizeAllowed(info.output_width, info.output_height))
        RaiseCode(JERR_CONVERSION_NOTIMPL);
}

// Header, settings and the start of the output pass, shared by both decodes.
TDecodePlan StartDecoding(TDecompressor& d, const TJPEGImage& image, bool bgra)
{
    d.Run(ReadHeaderStep);
    CheckHeader(d.Info);
    const TDecodePlan plan = SetUpDecoding(d.Info, image, bgra);
    d.Run(StartStep);
    CheckOutput(d.Info, plan);
    // All input is absorbed by now; a quantiser's passes may reread rows.
    if (!plan.Quantize)
        d.Arrays.AllowRelease();
    return plan;
}

// The library's colour map as opaque colours.
std::vector<TColor32> LibraryPalette(const jpeg_decompress_struct& info)
{
    std::vector<TColor32> palette(static_cast<size_t>(std::max(info.actual_number_of_colors, 0)));
    for (size_t i = 0; i < palette.size(); ++i) {
        if (info.out_color_components == 1) {
            const uint8_t v = info.colormap[0][i];
            palette[i] = Color32(v, v, v);
        } else {
            // Blue-green-red output: map component 2 is red, 0 is blue.
            palette[i] = Color32(info.colormap[2][i], info.colormap[1][i], info.colormap[0][i]);
        }
    }
    return palette;
}

// One CMYK pixel into blue-green-red, rounding as c * k / 255 does. All four
// samples are read before anything is written, so in and out may coincide.
inline void CmykPixel(const uint8_t* in, uint8_t* out, bool inverted)
{
    unsigned c = in[0], m = in[1], y = in[2], k = in[3];
    if (!inverted) {
        c = 255 - c;
        m = 255 - m;
        y = 255 - y;
        k = 255 - k;
    }
    out[0] = static_cast<uint8_t>((y * k + 127) / 255);
    out[1] = static_cast<uint8_t>((m * k + 127) / 255);
    out[2] = static_cast<uint8_t>((c * k + 127) / 255);
}

struct TRowsJob {
    TDecompressor* Decompressor;
    TBitmap* View;
    uint8_t* CmykRow; // null unless the library hands out CMYK
    bool Inverted;    // Adobe CMYK: 0 means full ink
};

// Rows go straight into the bitmap, top row first.
void ReadRowsStep(void* context)
{
    auto& job = *static_cast<TRowsJob*>(context);
    jpeg_decompress_struct& info = job.Decompressor->Info;
    while (info.output_scanline < info.output_height) {
        const auto y = static_cast<int32_t>(info.output_scanline);
        JSAMPROW row = job.CmykRow ? job.CmykRow : job.View->ScanLine(y);
        if (jpeg_read_scanlines(&info, &row, 1) != 1)
            break; // our source never suspends
        if (job.CmykRow) {
            uint8_t* out = job.View->ScanLine(y);
            for (JDIMENSION x = 0; x < info.output_width; ++x)
                CmykPixel(job.CmykRow + 4 * x, out + 3 * x, job.Inverted);
        }
    }
    jpeg_finish_decompress(&info);
}

struct TRows32Job {
    TDecompressor* Decompressor;
    TBitmap32* Target;       // row y goes to row y mod its height
    const TColor32* Palette; // opaque entries; null unless quantising
    bool Cmyk;
    bool Inverted;
    JDIMENSION Until; // rows decoded before the step returns
    bool Finish;      // then, once all are, the end of the file
};

// Rows go straight into the 32-bit rows, top row first. Palette indexes land
// in the last quarter of their row and are spread forwards over it: pixel x
// is written no further than byte 4x + 3, below the index of any later pixel.
void ReadRows32Step(void* context)
{
    auto& job = *static_cast<TRows32Job*>(context);
    jpeg_decompress_struct& info = job.Decompressor->Info;
    const size_t width = info.output_width;
    const auto slots = static_cast<JDIMENSION>(job.Target->Height());
    while (info.output_scanline < job.Until) {
        TColor32* pixels = job.Target->RowAddress(static_cast<int32_t>(info.output_scanline % slots));
        auto* bytes = reinterpret_cast<uint8_t*>(pixels);
        JSAMPROW row = job.Palette ? bytes + 3 * width : bytes;
        if (jpeg_read_scanlines(&info, &row, 1) != 1)
            break; // our source never suspends
        if (job.Palette) {
            for (size_t x = 0; x < width; ++x) {
                const uint8_t index = row[x];
                pixels[x] = job.Palette[index];
            }
        } else if (job.Cmyk) {
            for (size_t x = 0; x < width; ++x) {
                CmykPixel(bytes + 4 * x, bytes + 4 * x, job.Inverted);
                bytes[4 * x + 3] = 0xFF;
            }
        }
    }
    if (job.Finish)
        jpeg_finish_decompress(&info);
}

// The palette of a quantising decode, every entry opaque and any index valid.
std::vector<TColor32> OpaquePalette(const jpeg_decompress_struct& info)
{
    std::vector<TColor32> palette = LibraryPalette(info);
    for (TColor32& c : palette)
        c |= 0xFF000000u;
    palette.resize(256, 0xFF000000u);
    return palette;
}

} // namespace

TJPEGDefaults& JPEGDefaults()
{
    static TJPEGDefaults defaults;
    return defaults;
}

TJPEGImage::TJPEGImage() : m_data(std::make_shared<TJPEGData>())
{
    const TJPEGDefaults& d = JPEGDefaults();
    m_quality = d.CompressionQuality;
    m_grayscale = d.Grayscale;
    m_progressive = d.ProgressiveEncoding;
    m_fastDecoding = d.FastDecoding;
    m_paletteDecoding = d.PixelFormat8;
    m_blockSmoothing = d.Smoothing;
}

TJPEGImage::~TJPEGImage() = default;

void TJPEGImage::NewData()
{
    m_data = std::make_shared<TJPEGData>();
}

void TJPEGImage::AssignFrom(const TPersistent* source)
{
    const auto* bitmap = dynamic_cast<const TBitmap*>(source);
    if (!bitmap)
        AssignError(source);
    auto copy = std::make_unique<TBitmap>();
    copy->AssignFrom(bitmap);
    NewData();
    m_bitmap = std::move(copy);
    Changed();
}

void TJPEGImage::LoadStream(TStream& stream)
{
    NewData();
    m_bitmap.reset();
    // Read into a block of its own, not through a cleared copy.
    const int64_t size = stream.Size() - stream.Position();
    auto bytes = std::make_unique<TJPEGBytes>(size > 0 ? static_cast<size_t>(size) : 0);
    stream.ReadBuffer(bytes->data(), bytes->size());
    m_data->Data = std::move(bytes);
    const TJPEGBytes& data = *m_data->Data;
    if (!data.empty()) {
        TDecompressor d(data.data(), data.size());
        d.Run(ReadHeaderStep);
        CheckHeader(d.Info);
        m_data->Width = static_cast<int32_t>(d.Info.image_width);
        m_data->Height = static_cast<int32_t>(d.Info.image_height);
        m_data->Grayscale = d.Info.jpeg_color_space == JCS_GRAYSCALE;
        m_progressive = d.MultipleScans;
    }
    Changed();
}

void TJPEGImage::SaveStream(TStream& stream)
{
    if (!m_data->Data)
        Compress();
    const TJPEGBytes& bytes = *m_data->Data;
    stream.WriteBuffer(bytes.data(), bytes.size());
}

void TJPEGImage::Compress()
{
    m_data->Data = std::make_unique<TJPEGBytes>();
    if (!m_bitmap || m_bitmap->Width() == 0 || m_bitmap->Height() == 0)
        return;
    const int32_t width = m_bitmap->Width();
    m_data->Width = width;
    m_data->Height = m_bitmap->Height();
    m_data->Grayscale = m_grayscale;

    const bool direct = m_bitmap->PixelFormat() == TPixelFormat::pf24bit;
    std::vector<uint8_t> row(direct ? 0 : static_cast<size_t>(width) * 3);
    std::vector<TColor32> row32(direct ? 0 : static_cast<size_t>(width));

    jpeg::TErrorManager error;
    jpeg_compress_struct info;
    std::memset(&info, 0, sizeof info);
    info.err = jpeg::InitErrorManager(error);
    auto destination = std::make_unique<jpeg::TMemoryDestination>();
    TCompressJob job{&info, destination.get(), &*m_data->Data, m_bitmap.get(), nullptr,
                     row.data(), row32.data(), m_quality, m_grayscale, m_progressive};
    const bool ok = jpeg::RunGuarded(error, CompressStep, &job);
    jpeg_destroy_compress(&info);
    if (!ok) {
        // Half a file must not become the cached bytes that later saves write.
        NewData();
        jpeg::RaiseError(error);
    }
}

void TJPEGImage::Decompress()
{
    if (m_bitmap)
        return;
    if (!m_data->Data) {
        m_bitmap = std::make_unique<TBitmap>();
        return; // nothing was ever loaded or encoded
    }
    // Decoded aside and kept only when complete: a failed decoding must fail
    // again on the next draw, not leave an empty or half-filled view behind.
    auto view = std::make_unique<TBitmap>();
    const TJPEGBytes& data = *m_data->Data;
    TDecompressor d(data.data(), data.size());
    const TDecodePlan plan = StartDecoding(d, *this, /*bgra=*/false);
    jpeg_decompress_struct& info = d.Info;

    view->SetPixelFormat(plan.Quantize ? TPixelFormat::pf8bit : TPixelFormat::pf24bit);
    view->SetSize(static_cast<int32_t>(info.output_width), static_cast<int32_t>(info.output_height));
    if (plan.Quantize)
        view->SetPalette(LibraryPalette(info));

    std::vector<uint8_t> cmykRow(plan.FourComponent ? static_cast<size_t>(info.output_width) * 4 : 0);
    TRowsJob job{&d, view.get(), plan.FourComponent ? cmykRow.data() : nullptr, info.saw_Adobe_marker != 0};
    d.Run(ReadRowsStep, &job);
    m_bitmap = std::move(view);
    if (plan.Quantize)
        Changed();
}

bool TJPEGImage::DecodesFromBytes() const
{
    return !m_bitmap && m_data->Data && !m_data->Data->empty();
}

void TJPEGImage::DecodeInto(TBitmap32& target) const
{
    if (!DecodesFromBytes()) {
        TGraphic::AssignTo(target);
        return;
    }
    const TJPEGBytes& data = *m_data->Data;
    TDecompressor d(data.data(), data.size());
    const TDecodePlan plan = StartDecoding(d, *this, /*bgra=*/true);
    jpeg_decompress_struct& info = d.Info;

    const std::vector<TColor32> palette = plan.Quantize ? OpaquePalette(info) : std::vector<TColor32>();
    // Every pixel is written below, so the block is not cleared first.
    target.SetSize(static_cast<int32_t>(info.output_width), static_cast<int32_t>(info.output_height));
    TRows32Job job{&d,
                   &target,
                   plan.Quantize ? palette.data() : nullptr,
                   plan.FourComponent,
                   info.saw_Adobe_marker != 0,
                   info.output_height,
                   true};
    d.Run(ReadRows32Step, &job);
    target.NotifyChanged();
}

// ---- decoding row by row ------------------------------------------------------

struct TJPEGRowReader::TState {
    std::shared_ptr<const TJPEGData> Data; // keeps the bytes the library reads
    std::unique_ptr<TDecompressor> Decoder;
    TDecodePlan Plan{};
    std::vector<TColor32> Palette;
    TBitmap32 Ring; // row y in row y mod its height
    int32_t Keep = 1;
    bool Failed = false;
    bool Finished = false;

    jpeg_decompress_struct& Info() { return Decoder->Info; }
    int64_t Next() const { return Decoder->Info.output_scanline; }

    // Decodes up to row until (exclusive), and the file's end when asked.
    void DecodeTo(JDIMENSION until, bool finish)
    {
        if (Failed)
            throw std::logic_error("JPEG rows: decoding failed earlier");
        if (Ring.IsEmpty())
            Ring.SetSize(static_cast<int32_t>(Info().output_width), Keep);
        TRows32Job job{Decoder.get(),      &Ring, Plan.Quantize ? Palette.data() : nullptr,
                       Plan.FourComponent, Info().saw_Adobe_marker != 0, until, finish};
        Failed = true;
        Decoder->Run(ReadRows32Step, &job);
        Failed = false;
    }
};

std::unique_ptr<TJPEGRowReader> TJPEGImage::OpenByteRows() const
{
    if (!DecodesFromBytes())
        return nullptr;
    auto state = std::make_unique<TJPEGRowReader::TState>();
    state->Data = m_data;
    const TJPEGBytes& data = *m_data->Data;
    state->Decoder = std::make_unique<TDecompressor>(data.data(), data.size());
    state->Plan = StartDecoding(*state->Decoder, *this, /*bgra=*/true);
    if (state->Plan.Quantize)
        state->Palette = OpaquePalette(state->Info());
    return std::unique_ptr<TJPEGRowReader>(new TJPEGRowReader(std::move(state)));
}

TJPEGRowReader::TJPEGRowReader(std::unique_ptr<TState> state) : m(std::move(state)) {}

TJPEGRowReader::~TJPEGRowReader() = default;

int32_t TJPEGRowReader::Width() const { return static_cast<int32_t>(m->Decoder->Info.output_width); }

int32_t TJPEGRowReader::Height() const { return static_cast<int32_t>(m->Decoder->Info.output_height); }

void TJPEGRowReader::KeepRows(int32_t rows)
{
    if (!m->Ring.IsEmpty())
        throw std::logic_error("JPEG rows: KeepRows after the first row");
    m->Keep = std::clamp(rows, 1, std::max(Height(), 1));
}

const TColor32* TJPEGRowReader::Row(int32_t y)
{
    if (y < 0 || y >= Height() || m->Finished || y < m->Next() - m->Keep)
        throw std::logic_error("JPEG rows: row " + std::to_string(y) + " is not at hand");
    if (y >= m->Next())
        m->DecodeTo(static_cast<JDIMENSION>(y) + 1, false);
    return m->Ring.RowAddress(y % m->Keep);
}

const TColor32* TJPEGRowReader::RowIfReady(int32_t y) const
{
    if (m->Ring.IsEmpty() || m->Finished || y < m->Next() - m->Keep || y >= m->Next() || y < 0)
        return nullptr;
    return m->Ring.RowAddress(y % m->Keep);
}

void TJPEGRowReader::Finish()
{
    if (m->Finished)
        return;
    m->DecodeTo(m->Decoder->Info.output_height, true);
    m->Finished = true;
}

void TJPEGImage::AssignTo(TPersistent& dest) const
{
    if (auto* bitmap = dynamic_cast<TBitmap32*>(&dest)) {
        DecodeInto(*bitmap);
        return;
    }
    TGraphic::AssignTo(dest);
}

void TJPEGImage::CompressPixels(const TBitmap32& pixels)
{
    TBitmapRows rows(pixels);
    CompressRows(rows);
}

void TJPEGImage::CompressRows(TRowSource& pixels)
{
    NewData();
    m_bitmap.reset();
    m_data->Data = std::make_unique<TJPEGBytes>();
    if (pixels.Width() <= 0 || pixels.Height() <= 0)
        return;
    m_data->Width = pixels.Width();
    m_data->Height = pixels.Height();
    m_data->Grayscale = m_grayscale;

    jpeg::TErrorManager error;
    jpeg_compress_struct info;
    std::memset(&info, 0, sizeof info);
    info.err = jpeg::InitErrorManager(error);
    auto destination = std::make_unique<jpeg::TMemoryDestination>();
    TCompressJob job{&info, destination.get(), &*m_data->Data, nullptr, &pixels,
                     nullptr, nullptr, m_quality, m_grayscale, m_progressive};
    pixels.KeepRows(1);
    bool ok = false;
    try {
        // A source that decodes as it goes can fail in the middle: its
        // exception leaves through here, not by the library's jump.
        ok = jpeg::RunGuarded(error, CompressStep, &job);
    } catch (...) {
        jpeg_destroy_compress(&info);
        NewData();
        throw;
    }
    jpeg_destroy_compress(&info);
    if (!ok) {
        NewData();
        jpeg::RaiseError(error);
    }
    Changed();
}

TBitmap& TJPEGImage::DecodedBitmap()
{
    Decompress();
    return *m_bitmap;
}

int32_t TJPEGImage::Width() const
{
    return m_bitmap ? m_bitmap->Width() : m_data->Width;
}

int32_t TJPEGImage::Height() const
{
    return m_bitmap ? m_bitmap->Height() : m_data->Height;
}

void TJPEGImage::SetWidth(int32_t)
{
    throw EInvalidGraphicOperation("Cannot change the size of a JPEG image");
}

void TJPEGImage::SetHeight(int32_t)
{
    throw EInvalidGraphicOperation("Cannot change the size of a JPEG image");
}

bool TJPEGImage::Empty() const
{
    return !m_data->Data && (!m_bitmap || m_bitmap->Empty());
}

void TJPEGImage::DrawInto(TBitmap32& canvas, const TRect& rect) const
{
    // The decoded view is a cache; drawing fills it on first use.
    const_cast<TJPEGImage*>(this)->DecodedBitmap().DrawInto(canvas, rect);
}

void RegisterJPEGFormats()
{
    JPEGDefaults().PixelFormat8 = ScreenColorBits() <= 8;
    FileFormats().RegisterFormat("jpeg", "JPEG Image File", TJPEGImage::StaticClass());
    FileFormats().RegisterFormat("jpg", "JPEG Image File", TJPEGImage::StaticClass());
}

void UnregisterJPEGFormats()
{
    FileFormats().RemoveFormatsOf(TJPEGImage::StaticClass());
}

} // namespace palvex
