// TJPEGImage over libjpeg: encoding from a bitmap view, header parsing on
// load, decoding on first draw, and the JPEG registrations.
#include "imageio/JPEGImage.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

#include <jerror.h>

#include "imageio/ByteReader.h"
#include "imageio/FileFormats.h"
#include "imageio/JPEGArrays.h"
#include "imageio/JPEGLibrary.h"
#include "imageio/JPEGMetadata.h"
#include "imageio/JPEGWriter.h"
#include "platform/Errors.h"

namespace palvex {

PALVEX_DEFINE_GRAPHIC_CLASS(TJPEGImage, TGraphic)

namespace {

constexpr int kPaletteColors = 236;

// The screens this program runs on are 24 or 32 bits deep; only a palette
// screen (8 bits or less) would want palette decoding by default.
int ScreenColorBits()
{
    return 32;
}

[[noreturn]] void RaiseCode(int code)
{
    throw EJPEG(Format("JPEG error #%d", code));
}


// ---- decoding ---------------------------------------------------------------

// One decompression object over a byte range or a stream, destroyed on
// every path.
struct TDecompressor {
    TDecompressor(const uint8_t* data, size_t size)
        : Bytes(std::make_unique<TByteSpanStream>(data, size)), Stream(Bytes.get())
    {
        std::memset(&Info, 0, sizeof Info);
        Info.err = jpeg::InitErrorManager(Error);
    }
    explicit TDecompressor(TStream& stream) : Stream(&stream)
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
    std::unique_ptr<jpeg::TStreamSource> Source = std::make_unique<jpeg::TStreamSource>();
    std::unique_ptr<TByteSpanStream> Bytes; // bytes in memory, when they are the source
    TStream* Stream;
    bool MultipleScans = false;
};

void ReadHeaderStep(void* context)
{
    auto& d = *static_cast<TDecompressor*>(context);
    jpeg_CreateDecompress(&d.Info, JPEG_LIB_VERSION, sizeof d.Info);
    d.Arrays.Install(&d.Info);
    jpeg::InitSource(&d.Info, *d.Source, *d.Stream);
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

// One CMYK pixel into blue-green-red. All four samples are read before
// anything is written, so in and out may coincide.
inline void CmykPixel(const uint8_t* in, uint8_t* out, bool inverted)
{
    const uint8_t flip = inverted ? 255 : 0;
    const uint8_t c = in[0] ^ flip, m = in[1] ^ flip, y = in[2] ^ flip, k = in[3] ^ flip;
    out[0] = InkToChannel(y, k);
    out[1] = InkToChannel(m, k);
    out[2] = InkToChannel(c, k);
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

struct TRow32Job {
    TDecompressor* Decompressor;
    TColor32* Out;
    const TColor32* Palette; // opaque entries; null unless quantising
    bool Cmyk;
    bool Inverted; // Adobe CMYK: 0 means full ink
};

// The next row straight into 32-bit pixels. Palette indexes land in the last
// quarter of the row and are spread forwards over it: pixel x is written no
// further than byte 4x + 3, below the index of any later pixel.
void ReadRow32Step(void* context)
{
    auto& job = *static_cast<TRow32Job*>(context);
    jpeg_decompress_struct& info = job.Decompressor->Info;
    const size_t width = info.output_width;
    TColor32* pixels = job.Out;
    auto* bytes = reinterpret_cast<uint8_t*>(pixels);
    JSAMPROW row = job.Palette ? bytes + 3 * width : bytes;
    if (jpeg_read_scanlines(&info, &row, 1) != 1)
        return; // our source never suspends
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

void FinishStep(void* context)
{
    jpeg_finish_decompress(&static_cast<TDecompressor*>(context)->Info);
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
    m_write = {d.CompressionQuality, d.Grayscale, d.ProgressiveEncoding};
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
        m_write.Progressive = d.MultipleScans;
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

namespace {

// A platform bitmap's rows as 32-bit pixels, one at a time.
class TViewRows final : public TRowSource {
public:
    explicit TViewRows(const TBitmap& view) : m_view(view), m_row(static_cast<size_t>(view.Width())) {}
    int32_t Width() const override { return m_view.Width(); }
    int32_t Height() const override { return m_view.Height(); }
    void KeepRows(int32_t) override {}
    const TColor32* Row(int32_t y) override
    {
        m_view.ReadRow32(y, m_row.data());
        return m_row.data();
    }
    const TColor32* RowIfReady(int32_t) const override { return nullptr; }

private:
    const TBitmap& m_view;
    std::vector<TColor32> m_row;
};

} // namespace

void TJPEGImage::Compress()
{
    m_data->Data = std::make_unique<TJPEGBytes>();
    if (!m_bitmap || m_bitmap->Width() == 0 || m_bitmap->Height() == 0)
        return;
    m_data->Width = m_bitmap->Width();
    m_data->Height = m_bitmap->Height();
    m_data->Grayscale = m_write.Grayscale;
    TViewRows rows(*m_bitmap);
    try {
        WriteJPEG(rows, m_write, *m_data->Data);
    } catch (...) {
        // Half a file must not become the cached bytes that later saves write.
        NewData();
        throw;
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

// ---- decoding row by row ------------------------------------------------------

struct TJPEGReader::TState {
    std::shared_ptr<const TJPEGData> Data; // keeps the bytes the library reads
    std::unique_ptr<TDecompressor> Decoder; // null for a picture of no bytes
    TDecodePlan Plan{};
    std::vector<TColor32> Palette;
    TJPEGMetadata Metadata;
    std::vector<TColor32> CmykRow; // the samples of a CMYK row, for its profile
};

namespace {

// The header, the settings and the start of the output pass, once.
std::unique_ptr<TJPEGReader::TState> StartReader(std::unique_ptr<TDecompressor> decoder, const TJPEGImage& settings)
{
    auto state = std::make_unique<TJPEGReader::TState>();
    state->Plan = StartDecoding(*decoder, settings, /*bgra=*/true);
    if (state->Plan.Quantize)
        state->Palette = OpaquePalette(decoder->Info);
    state->Decoder = std::move(decoder);
    return state;
}

} // namespace

TJPEGReader::TJPEGReader(std::unique_ptr<TState> state) : m(std::move(state))
{
    if (!m->Decoder) {
        SetPicture(0, 0, false);
        return;
    }
    const jpeg_decompress_struct& info = m->Decoder->Info;
    SetPicture(info.output_width, info.output_height, /*alpha=*/false);
    SetOrientation(m->Metadata.Orientation);
    TColorModel model = TColorModel::RGB;
    if (m->Plan.FourComponent)
        model = info.saw_Adobe_marker ? TColorModel::CMYKInverted : TColorModel::CMYK;
    else if (info.out_color_space == JCS_GRAYSCALE)
        model = TColorModel::Gray;
    SetColorProfile(std::move(m->Metadata.ColorProfile), model);
}

TJPEGReader::~TJPEGReader() = default;

void TJPEGReader::Refuse() const
{
    RaiseCode(JERR_IMAGE_TOO_BIG);
}

void TJPEGReader::ReadRow(int32_t, TColor32* out)
{
    // CMYK with a profile: the samples go through it instead of the plain formula.
    const TColorConversion* cmyk = CMYKConversion();
    const size_t width = m->Decoder->Info.output_width;
    if (cmyk && m->CmykRow.empty())
        m->CmykRow.resize(width);
    TRow32Job job{m->Decoder.get(), cmyk ? m->CmykRow.data() : out, m->Plan.Quantize ? m->Palette.data() : nullptr,
                  m->Plan.FourComponent && !cmyk, m->Decoder->Info.saw_Adobe_marker != 0};
    m->Decoder->Run(ReadRow32Step, &job);
    if (cmyk)
        cmyk->ConvertCMYK(reinterpret_cast<const uint8_t*>(m->CmykRow.data()), out, width);
}

void TJPEGReader::ReadEnd()
{
    if (m->Decoder)
        m->Decoder->Run(FinishStep);
}

std::unique_ptr<TPictureReader> TJPEGImage::OpenRows(TStream& stream)
{
    auto state = std::make_unique<TJPEGReader::TState>();
    if (stream.Size() - stream.Position() > 0) {
        const int64_t start = stream.Position();
        TJPEGMetadata metadata;
        {
            TByteReader header(stream, nullptr);
            metadata = ReadJPEGMetadata(header);
        }
        stream.Seek(start, SEEK_SET);
        state = StartReader(std::make_unique<TDecompressor>(stream), *this);
        state->Metadata = std::move(metadata);
    }
    return std::unique_ptr<TPictureReader>(new TJPEGReader(std::move(state)));
}

std::unique_ptr<TJPEGReader> TJPEGImage::OpenByteRows() const
{
    if (!DecodesFromBytes())
        return nullptr;
    const TJPEGBytes& data = *m_data->Data;
    auto state = StartReader(std::make_unique<TDecompressor>(data.data(), data.size()), *this);
    state->Data = m_data;
    TByteReader header(std::span<const uint8_t>(data.data(), data.size()), nullptr);
    state->Metadata = ReadJPEGMetadata(header);
    return std::unique_ptr<TJPEGReader>(new TJPEGReader(std::move(state)));
}

void TJPEGImage::DecodeInto(TBitmap32& target) const
{
    if (!DecodesFromBytes()) {
        TGraphic::AssignTo(target);
        return;
    }
    OpenByteRows()->ReadAll(target);
    target.NotifyChanged();
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
    m_data->Grayscale = m_write.Grayscale;
    try {
        WriteJPEG(pixels, m_write, *m_data->Data);
    } catch (...) {
        NewData();
        throw;
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
    for (const TStartUpRegistration& r : StartUpRegistrations())
        if (r.Stage == TStartUpRegistration::JPEG)
            FileFormats().RegisterFormat(r.Extension, r.Description, TJPEGImage::StaticClass());
}

void UnregisterJPEGFormats()
{
    FileFormats().RemoveFormatsOf(TJPEGImage::StaticClass());
}

} // namespace palvex
