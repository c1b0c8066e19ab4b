#include "job/BatchRun.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <deque>
#include <exception>
#include <memory>

#include "job/OutputNaming.h"
#include "job/PictureWork.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/LargeBlock.h"
#include "platform/OutputFolder.h"

namespace palvex {

namespace {

// The longest the run goes without giving the message loop a turn while it
// decodes, scales and encodes a photo, so that the windows repaint in time.
constexpr auto kMessageInterval = std::chrono::milliseconds(40);

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

    try {
        if (std::min(m_jobs, tickedCount) > 1)
            GoInParallel(tickedCount, filter);
        else
            GoInOrder(tickedCount, filter);
    } catch (...) {
        // The view must not stay up behind the error report.
        m_progress.Hide();
        LetMessagesRun();
        throw;
    }
    m_progress.Hide();
    LetMessagesRun();
}

void TBatchRun::GoInOrder(int32_t tickedCount, TStretchFilter filter)
{
    int32_t n = 0;
    const int32_t positions = m_list.Count();
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
        } catch (...) {
            PictureFailed(entry->Path);
        }
    }
}

// Pictures are reduced by the workers a little ahead of their turn; names are
// chosen and files published here, one at a time in list order, so that the
// names, the "(k)" of collisions, the sequential numbers and the progress lines
// are those of a run in order. The settings are read once, here: the settings
// source belongs to this thread.
void TBatchRun::GoInParallel(int32_t tickedCount, TStretchFilter filter)
{
    const ReductionSettings settings = m_settings.CurrentSettings();
    const int32_t threads = std::min(m_jobs, tickedCount);
    // Each worker may finish one picture ahead of the one being named: those
    // wait as their compressed bytes only.
    const size_t ahead = 2 * static_cast<size_t>(threads);
    struct TGiven {
        std::string Path;
        int32_t N;
    };
    std::deque<TGiven> given;
    TPictureWorkers workers(threads, settings, filter);
    const std::function<void()> whileWaiting =
        m_letMessagesRun ? std::function<void()>([this] { LetMessagesRun(); }) : std::function<void()>();
    const int32_t positions = m_list.Count();
    int32_t position = 0;
    int32_t n = 0;
    for (;;) {
        while (position < positions && given.size() < ahead) {
            const auto entry = m_list.EntryAt(position++);
            if (!entry || !entry->Ticked)
                continue;
            workers.Submit(entry->Path);
            given.push_back({entry->Path, ++n});
        }
        if (given.empty())
            break;
        if (m_stopRequested) {
            m_stopped = true;
            break;
        }
        const TGiven next = std::move(given.front());
        given.pop_front();
        ShowEntryProgress(next.Path, next.N, tickedCount);
        LetMessagesRun();
        try {
            const TReducedPicture picture = workers.TakeOldest(whileWaiting, kMessageInterval);
            PublishPicture(next.Path, next.N, picture, settings);
        } catch (...) {
            PictureFailed(next.Path);
        }
    }
    // What is left under way is cancelled by the workers' end: none of it was named.
}

void TBatchRun::PictureFailed(const std::string& path)
{
    try {
        throw;
    } catch (Exception& e) {
        e.SetMessage(NamedFailure(path, e).Message());
        if (!m_onFailure)
            throw;
        ++m_failed;
        m_onFailure(e);
    } catch (const std::exception& e) {
        if (!m_onFailure)
            throw NamedFailure(path, e);
        ++m_failed;
        m_onFailure(NamedFailure(path, e));
    }
}

void TBatchRun::RequestStop()
{
    if (m_running)
        m_stopRequested = true;
}

void TBatchRun::ShowEntryProgress(const std::string& path, int32_t n, int32_t tickedCount)
{
    m_progress.SetBar(ProgressPercent(n, tickedCount));
    m_progress.SetLine(0, kProgressFile + std::to_string(n) + kProgressOf + std::to_string(tickedCount));
    m_progress.SetLine(1, kProgressSource + path);
    m_progress.SetLine(2, "");
}

void TBatchRun::ProcessEntry(const TSourceEntry& entry, int32_t n, int32_t tickedCount, TStretchFilter filter)
{
    ShowEntryProgress(entry.Path, n, tickedCount);
    LetMessagesRun();
    const TReduceHooks hooks{[this] { return m_settings.CurrentSettings(); }, [this] { LetMessagesRun(); },
                             [this] { LetMessagesRunWhenDue(); }};
    const TReducedPicture picture = ReducePicture(entry.Path, filter, hooks);
    PublishPicture(entry.Path, n, picture, m_settings.CurrentSettings());
}

void TBatchRun::PublishPicture(const std::string& path, int32_t n, const TReducedPicture& picture,
                               const ReductionSettings& settings)
{
    const std::string output = OutputName(settings.NamePrefix, BaseName(path, settings.SequentialNames, n),
                                          settings.NameSuffix, picture.Parameters);
    PublishOutput(settings.TargetFolder, output, picture.Bytes.data(), picture.Bytes.size());
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
