#include "job/BatchRun.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <memory>

#include "imageio/Bitmap.h"
#include "imageio/Graphic.h"
#include "imageio/JPEGImage.h"
#include "imageio/Picture.h"
#include "imageio/Streams.h"
#include "job/OutputNaming.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "raster/Bitmap32.h"
#include "raster/Stretch.h"

namespace palvex {

int32_t ProgressPercent(int32_t n, int32_t tickedCount)
{
    if (tickedCount <= 0)
        return 0;
    return static_cast<int32_t>(std::nearbyintl(static_cast<long double>(n) / tickedCount * 100.0L));
}

TBatchRun::TBatchRun(ISettingsSource& settings, ISourceList& list, IProgressView& progress,
                     std::function<void()> letMessagesRun)
    : m_settings(settings), m_list(list), m_progress(progress), m_letMessagesRun(std::move(letMessagesRun))
{
}

void TBatchRun::LetMessagesRun()
{
    if (m_letMessagesRun)
        m_letMessagesRun();
}

void TBatchRun::Go()
{
    if (m_running)
        return;
    m_running = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{m_running};

    int32_t tickedCount = 0;
    const int32_t count = m_list.Count();
    for (int32_t i = 0; i < count; ++i) {
        const auto entry = m_list.EntryAt(i);
        if (entry && entry->Ticked)
            ++tickedCount;
    }
    if (tickedCount > 0) {
        m_progress.Show();
        LetMessagesRun();
    }
    const TStretchFilter filter = FilterForIndex(m_settings.CurrentSettings().FilterIndex());
    m_progress.SetBar(0);
    LetMessagesRun();

    int32_t n = 0;
    const int32_t positions = m_list.Count();
    try {
        for (int32_t i = 0; i < positions; ++i) {
            const auto entry = m_list.EntryAt(i);
            if (!entry || !entry->Ticked)
                continue;
            ++n;
            ProcessEntry(*entry, n, tickedCount, filter);
        }
    } catch (...) {
        // The view must not stay up behind the error report.
        m_progress.Hide();
        LetMessagesRun();
        throw;
    }
    m_progress.Hide();
    LetMessagesRun();
}

namespace {

// The encoder reads blue-green-red rows as they are: handing it those spares
// it a 32-bit copy of the whole picture and a conversion of every row.
void CopyToBgr(const TBitmap32& from, TBitmap& to)
{
    const int32_t width = std::min(from.Width(), to.Width());
    const int32_t height = std::min(from.Height(), to.Height());
    for (int32_t y = 0; y < height; ++y) {
        const TColor32* in = from.RowAddress(y);
        uint8_t* out = to.ScanLine(y);
        for (int32_t x = 0; x < width; ++x, out += 3) {
            out[0] = static_cast<uint8_t>(BlueComponent(in[x]));
            out[1] = static_cast<uint8_t>(GreenComponent(in[x]));
            out[2] = static_cast<uint8_t>(RedComponent(in[x]));
        }
    }
}

// The decoded pixels of a JPEG picture, the kind nearly every batch holds.
// Drawing it at its own size gives exactly these pixels, made opaque; reading
// them directly spares a scaled draw of the whole photo, and at an unchanged
// size the encoder can take them as they are.
const TBitmap* DecodedJpegView(TPicture& picture)
{
    TGraphic* graphic = picture.Graphic();
    if (graphic == nullptr || &graphic->Class() != &TJPEGImage::StaticClass())
        return nullptr;
    const TBitmap& view = static_cast<TJPEGImage*>(graphic)->DecodedBitmap();
    if (view.Transparent() || view.Width() != graphic->Width() || view.Height() != graphic->Height())
        return nullptr;
    return &view;
}

void CopyOpaque(const TBitmap& from, TBitmap32& to)
{
    to.SetSize(from.Width(), from.Height());
    for (int32_t y = 0; y < to.Height(); ++y) {
        TColor32* row = to.RowAddress(y);
        from.ReadRow32(y, row);
        for (int32_t x = 0; x < to.Width(); ++x)
            row[x] |= 0xFF000000u;
    }
}

} // namespace

void TBatchRun::ProcessEntry(const TSourceEntry& entry, int32_t n, int32_t tickedCount, TStretchFilter filter)
{
    // Each of the four is released as soon as the next step has its pixels,
    // so that a large photo is held at most about twice at any moment.
    auto source = std::make_unique<TBitmap32>();
    auto destination = std::make_unique<TBitmap32>();
    auto plain = std::make_unique<TBitmap>();
    TJPEGImage jpeg;

    m_progress.SetBar(ProgressPercent(n, tickedCount));
    m_progress.SetLine(0, kProgressFile + std::to_string(n) + kProgressOf + std::to_string(tickedCount));
    m_progress.SetLine(1, kProgressSource + entry.Path);
    m_progress.SetLine(2, "");
    LetMessagesRun();

    LetMessagesRun();
    // What TBitmap32::LoadPictureFile does, with the decoded JPEG kept at hand.
    auto picture = std::make_unique<TPicture>();
    picture->LoadFile(entry.Path);
    const TBitmap* decoded = DecodedJpegView(*picture);
    if (decoded == nullptr) {
        source->AssignFrom(picture.get());
        picture.reset();
    }
    const int32_t sourceWidth = decoded ? decoded->Width() : source->Width();
    const int32_t sourceHeight = decoded ? decoded->Height() : source->Height();
    LetMessagesRun();
    const TargetSize size = ComputeTargetSize(sourceWidth, sourceHeight, m_settings.CurrentSettings());
    // A side of 0 or less would give no valid JPEG: write 1 pixel instead.
    const int32_t outputWidth = std::max(size.Width, 1);
    const int32_t outputHeight = std::max(size.Height, 1);
    // At the same size the stretch is a plain copy: the source serves as the
    // result, and decoded JPEG pixels go to the encoder as they are.
    const bool sameSize = outputWidth == sourceWidth && outputHeight == sourceHeight;
    if (!(sameSize && decoded)) {
        plain->SetPixelFormat(TPixelFormat::pf24bit);
        plain->SetSize(outputWidth, outputHeight);
    }
    const TRect sourceRect{0, 0, sourceWidth, sourceHeight};
    const TRect destRect{0, 0, outputWidth, outputHeight};
    if (!sameSize)
        destination->SetSize(destRect.Right, destRect.Bottom);
    LetMessagesRun();
    if (!sameSize) {
        if (decoded) {
            CopyOpaque(*decoded, *source);
            picture.reset();
        }
        StretchCopy(destination.get(), destRect, destRect, source.get(), sourceRect, filter, dmOpaque, {});
        source.reset();
    }
    LetMessagesRun();
    if (sameSize && decoded) {
        jpeg.AssignFrom(decoded);
    } else {
        CopyToBgr(sameSize ? *source : *destination, *plain);
        source.reset();
        destination.reset();
        jpeg.AssignFrom(plain.get());
    }
    picture.reset();
    plain.reset();

    ReductionSettings settings = m_settings.CurrentSettings();
    const std::string parameters =
        settings.AddParameters ? ParameterSuffix(jpeg.Width(), jpeg.Height(), settings.Quality()) : std::string();
    jpeg.SetEncodingQuality(static_cast<uint8_t>(settings.Quality()));
    TMemoryStream encoded;
    jpeg.SaveStream(encoded);

    settings = m_settings.CurrentSettings();
    const std::string output = OutputName(settings.NamePrefix, BaseName(entry.Path, settings.SequentialNames, n),
                                          settings.NameSuffix, parameters);
    for (int32_t k = 1;; ++k) {
        const std::string candidate = CandidateName(output, k);
        const std::string path = TargetPath(settings.TargetFolder, candidate);
        if (FileExistsIgnoringCase(path))
            continue;
        m_progress.SetLine(2, kProgressTarget + path);
        LetMessagesRun();
        try {
            WriteBytesToFile(path, encoded.Bytes().data(), encoded.Bytes().size(), /*exclusive=*/true);
        } catch (const EFCreateError&) {
            // Taken since the test: move on to the next name rather than fail.
            if (FileExistsIgnoringCase(path))
                continue;
            throw;
        }
        LetMessagesRun();
        return;
    }
}

bool StartRun(TBatchRun& run, ISettingsSource& settings, const std::function<void(const std::string&)>& showInformation)
{
    if (settings.CurrentSettings().TargetFolder.empty()) {
        if (showInformation)
            showInformation(kNoTargetMessage);
        return false;
    }
    run.Go();
    return true;
}

} // namespace palvex
