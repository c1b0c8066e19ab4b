#include "job/BatchRun.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <exception>
#include <memory>

#include "imageio/Graphic.h"
#include "imageio/JPEGImage.h"
#include "imageio/JPEGWriter.h"
#include "imageio/PictureRows.h"
#include "job/OutputNaming.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/LargeBlock.h"
#include "platform/OutputFolder.h"
#include "raster/Bitmap32.h"
#include "raster/Stretch.h"

namespace palvex {

namespace {

// The longest the run goes without giving the message loop a turn while it
// decodes, scales and encodes a photo, so that the windows repaint in time.
constexpr auto kMessageInterval = std::chrono::milliseconds(40);

// A picture's rows passed through unchanged, with a turn for the message loop
// whenever one is due as they are read (the clock is looked at every few rows).
class TMessagePacedRows final : public TRowSource {
public:
    TMessagePacedRows(TRowSource& source, std::function<void()> whenDue)
        : m_source(source), m_whenDue(std::move(whenDue))
    {
    }
    int32_t Width() const override { return m_source.Width(); }
    int32_t Height() const override { return m_source.Height(); }
    void KeepRows(int32_t rows) override { m_source.KeepRows(rows); }
    const TColor32* Row(int32_t y) override
    {
        if (++m_rowsRead % kRowsPerLook == 0)
            m_whenDue();
        return m_source.Row(y);
    }
    const TColor32* RowIfReady(int32_t y) const override { return m_source.RowIfReady(y); }
    const TBitmap32* Whole() const override { return m_source.Whole(); }

private:
    static constexpr uint32_t kRowsPerLook = 16;
    TRowSource& m_source;
    std::function<void()> m_whenDue;
    uint32_t m_rowsRead = 0;
};

} // namespace

int32_t ProgressPercent(int32_t n, int32_t tickedCount)
{
    if (tickedCount <= 0)
        return 0;
    return static_cast<int32_t>(std::nearbyintl(static_cast<long double>(n) / tickedCount * 100.0L));
}

namespace {

// The picture's path before the message, unless the message holds it already
// (the open errors do); other exceptions become Exception with their text.
Exception NamedFailure(const std::string& path, const std::exception& error)
{
    const std::string text = dynamic_cast<const std::bad_alloc*>(&error) ? "Out of memory" : error.what();
    return Exception(text.find(path) != std::string::npos ? text : path + ": " + text);
}

} // namespace

TBatchRun::TBatchRun(ISettingsSource& settings, ISourceList& list, IProgressView& progress,
                     std::function<void()> letMessagesRun)
    : m_settings(settings), m_list(list), m_progress(progress), m_letMessagesRun(std::move(letMessagesRun))
{
}

TBatchRun::~TBatchRun() = default;

void TBatchRun::LetMessagesRun()
{
    if (m_letMessagesRun) {
        m_letMessagesRun();
        m_lastTurn = std::chrono::steady_clock::now();
    }
}

void TBatchRun::LetMessagesRunWhenDue()
{
    if (m_letMessagesRun && std::chrono::steady_clock::now() - m_lastTurn >= kMessageInterval)
        LetMessagesRun();
}

void TBatchRun::Go()
{
    if (m_running)
        return;
    m_running = true;
    m_stopRequested = false;
    m_stopped = false;
    struct Reset {
        TBatchRun& run;
        ~Reset()
        {
            run.m_running = false;
            run.SyncOutput();
            // Photo-sized blocks stay for the next photo only while the run goes on.
            ReleaseKeptBlocks();
        }
    } reset{*this};
    m_failed = 0;
    m_runStart = std::filesystem::file_time_type::clock::now();

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
            if (m_stopRequested) {
                m_stopped = true;
                break;
            }
            const auto entry = m_list.EntryAt(i);
            if (!entry || !entry->Ticked)
                continue;
            ++n;
            try {
                ProcessEntry(*entry, n, tickedCount, filter);
            } catch (Exception& e) {
                e.SetMessage(NamedFailure(entry->Path, e).Message());
                if (!m_onFailure)
                    throw;
                ++m_failed;
                m_onFailure(e);
            } catch (const std::exception& e) {
                if (!m_onFailure)
                    throw NamedFailure(entry->Path, e);
                ++m_failed;
                m_onFailure(NamedFailure(entry->Path, e));
            }
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

void TBatchRun::RequestStop()
{
    if (m_running)
        m_stopRequested = true;
}

void TBatchRun::ProcessEntry(const TSourceEntry& entry, int32_t n, int32_t tickedCount, TStretchFilter filter)
{
    // The source is decoded row by row as the stretch (or, at the same size,
    // the encoder) reads it, where its format allows; a photo is never held
    // whole: touching a fresh photo-sized block can cost more than decoding
    // the photo. The encoder reads the finished 32-bit rows in place: the
    // same bytes as encoding a platform bitmap of them.
    auto destination = std::make_unique<TBitmap32>();

    m_progress.SetBar(ProgressPercent(n, tickedCount));
    m_progress.SetLine(0, kProgressFile + std::to_string(n) + kProgressOf + std::to_string(tickedCount));
    m_progress.SetLine(1, kProgressSource + entry.Path);
    m_progress.SetLine(2, "");
    LetMessagesRun();

    LetMessagesRun();
    auto source = std::make_unique<TPictureRows>(entry.Path, m_settings.CurrentSettings().Loading);
    LetMessagesRun();
    const TargetSize size = ComputeTargetSize(source->Width(), source->Height(), m_settings.CurrentSettings());
    // A side of 0 or less would give no valid JPEG: write 1 pixel instead.
    const int32_t outputWidth = std::max(size.Width, 1);
    const int32_t outputHeight = std::max(size.Height, 1);
    // At the same size the stretch is a plain copy: the source is the result.
    const bool sameSize = outputWidth == source->Width() && outputHeight == source->Height();
    if (!sameSize) {
        destination->SetSize(outputWidth, outputHeight);
        // An empty picture draws nothing: its result is black, as a new
        // bitmap is, not whatever the block held before.
        if (source->Width() <= 0 || source->Height() <= 0)
            destination->FillAll(0);
    }
    LetMessagesRun();
    TMessagePacedRows rows(*source, [this] { LetMessagesRunWhenDue(); });
    if (!sameSize) {
        StretchRows(*destination, rows, filter);
        source->Finish();
        source.reset();
    }
    LetMessagesRun();

    ReductionSettings settings = m_settings.CurrentSettings();
    const TJPEGDefaults& defaults = JPEGDefaults();
    const TJPEGWriteSettings writing{settings.Quality(), defaults.Grayscale, defaults.ProgressiveEncoding};
    TJPEGBytes encoded;
    if (sameSize) {
        WriteJPEG(rows, writing, encoded);
        source->Finish();
    } else {
        TBitmapRows result(*destination);
        WriteJPEG(result, writing, encoded);
    }
    source.reset();
    destination.reset();
    const std::string parameters =
        settings.AddParameters ? ParameterSuffix(outputWidth, outputHeight, settings.Quality()) : std::string();

    settings = m_settings.CurrentSettings();
    const std::string output = OutputName(settings.NamePrefix, BaseName(entry.Path, settings.SequentialNames, n),
                                          settings.NameSuffix, parameters);
    PublishOutput(settings.TargetFolder, output, encoded.data(), encoded.size());
}

void TBatchRun::PublishOutput(const std::string& folder, const std::string& outputName, const uint8_t* data,
                              size_t size)
{
    TOutputFolder& target = OutputFolder(folder);
    for (int32_t k = 1;; ++k) {
        const std::string name = CandidateName(outputName, k) + ".jpg";
        if (target.Holds(name))
            continue;
        m_progress.SetLine(2, kProgressTarget + target.PathOf(name));
        LetMessagesRun();
        // False when another program took the name since the folder was read.
        if (target.Publish(name, data, size)) {
            LetMessagesRun();
            return;
        }
    }
}

TOutputFolder& TBatchRun::OutputFolder(const std::string& folder)
{
    if (!m_output || m_output->Folder() != folder) {
        SyncOutput();
        m_output = std::make_unique<TOutputFolder>(folder, m_runStart);
    }
    return *m_output;
}

void TBatchRun::SyncOutput() noexcept
{
    if (m_output)
        m_output->Sync();
    m_output.reset();
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
