#include "job/BatchRun.h"

#include <cmath>
#include <exception>

#include "imageio/Bitmap.h"
#include "imageio/Graphic.h"
#include "imageio/JPEGImage.h"
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

void TBatchRun::ProcessEntry(const TSourceEntry& entry, int32_t n, int32_t tickedCount, TStretchFilter filter)
{
    TBitmap32 source;
    TBitmap32 destination;
    TBitmap plain;
    TJPEGImage jpeg;

    m_progress.SetBar(ProgressPercent(n, tickedCount));
    m_progress.SetLine(0, kProgressFile + std::to_string(n) + kProgressOf + std::to_string(tickedCount));
    m_progress.SetLine(1, kProgressSource + entry.Path);
    m_progress.SetLine(2, "");
    LetMessagesRun();

    LetMessagesRun();
    source.LoadPictureFile(entry.Path);
    LetMessagesRun();
    TargetSize size = ComputeTargetSize(source.Width(), source.Height(), m_settings.CurrentSettings());
    // A side of 0 or less would give no valid JPEG: write 1 pixel instead.
    plain.SetPixelFormat(TPixelFormat::pf32bit);
    plain.SetSize(std::max(size.Width, 1), std::max(size.Height, 1));
    const TRect sourceRect{0, 0, source.Width(), source.Height()};
    const TRect destRect{0, 0, plain.Width(), plain.Height()};
    destination.SetSize(destRect.Right, destRect.Bottom);
    LetMessagesRun();
    StretchCopy(&destination, destRect, destRect, &source, sourceRect, filter, dmOpaque, {});
    LetMessagesRun();
    destination.CopyTo(plain);
    jpeg.AssignFrom(&plain);

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
        if (FileExistsIgnoringCase(TargetPath(settings.TargetFolder, candidate)))
            continue;
        const std::string path = TargetPath(settings.TargetFolder, candidate);
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
