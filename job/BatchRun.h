// The batch run: every ticked source picture becomes a JPEG file in the target
// folder, under a name that never replaces an existing file.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "job/ReductionSettings.h"

namespace palvex {

// Where the run reads its settings; asked again at each moment a value is needed.
class ISettingsSource {
public:
    virtual ~ISettingsSource() = default;
    virtual ReductionSettings CurrentSettings() = 0;
};

struct TSourceEntry {
    std::string Path;
    bool Ticked = false;
};

// The list of source pictures, visited by position.
class ISourceList {
public:
    virtual ~ISourceList() = default;
    virtual int32_t Count() = 0;
    // Nothing when the position holds no entry any more.
    virtual std::optional<TSourceEntry> EntryAt(int32_t position) = 0;
};

class IProgressView {
public:
    virtual ~IProgressView() = default;
    virtual void Show() = 0;
    virtual void Hide() = 0;
    virtual void SetBar(int32_t percent) = 0;
    // line 0 "Soubor n z N", 1 "Zdroj: ...", 2 "Cíl: ..."
    virtual void SetLine(int32_t line, const std::string& text) = 0;
};

// The fixed texts of the run, the same in every interface language.
inline constexpr const char* kNoTargetMessage = "Nejprve vyberte cílové umístění!";
inline constexpr const char* kProgressFile = "Soubor ";
inline constexpr const char* kProgressOf = " z ";
inline constexpr const char* kProgressSource = "Zdroj: ";
inline constexpr const char* kProgressTarget = "Cíl: ";

// nearest(n / ticked x 100), halfway to even.
int32_t ProgressPercent(int32_t n, int32_t tickedCount);

class TOutputFolder;
struct TReducedPicture;

class TBatchRun {
public:
    // letMessagesRun gives the message loop a turn: at the run's fixed points,
    // and while a picture's rows are decoded, scaled and encoded at least every
    // few tens of milliseconds, so that the windows keep repainting.
    TBatchRun(ISettingsSource& settings, ISourceList& list, IProgressView& progress,
              std::function<void()> letMessagesRun = {});
    ~TBatchRun();

    // The run. An error ends it with nothing written for the failing picture and
    // the progress view hidden; the error leaves Go, its message starting with
    // the picture's path unless it names it already. A call made while a run is
    // under way (from the message hook) does nothing. Each file is written whole
    // under a partial name first, so a run that is killed leaves no cut file
    // under a picture's name.
    void Go();
    bool Running() const { return m_running; }
    // Ends the run under way once its current picture is done, as a normal
    // end: the progress view hidden, no error. A run not under way ignores it.
    void RequestStop();
    // True when the last run ended on a stop request.
    bool Stopped() const { return m_stopped; }

    // With a handler, a failed picture is passed to it (its message naming the
    // picture as above) and the run goes on with the next one.
    void SetFailureHandler(std::function<void(const std::exception&)> handler) { m_onFailure = std::move(handler); }
    // Pictures that failed in the last run (only counted with a failure handler).
    int32_t FailedCount() const { return m_failed; }

    // Pictures reduced at a time by worker threads; 1 (the default) does all
    // the work on the calling thread with the message turns described above.
    // With more, the settings are read once at the start, the list's ticks up
    // to twice that many pictures ahead, and the message loop gets its turns
    // only at the points between pictures and while a picture is awaited; the
    // files, their names and the progress lines are those of one job.
    void SetJobs(int32_t jobs) { m_jobs = std::max(jobs, 1); }
    int32_t Jobs() const { return m_jobs; }

private:
    void LetMessagesRun();
    // Between the fixed points, while a picture's rows are read: a turn when
    // the last one is long enough ago.
    void LetMessagesRunWhenDue();
    void GoInOrder(int32_t tickedCount, TStretchFilter filter);
    void GoInParallel(int32_t tickedCount, TStretchFilter filter);
    // Inside a handler: the error with the picture named, rethrown, or
    // passed to the failure handler.
    void PictureFailed(const std::string& path);
    void ShowEntryProgress(const std::string& path, int32_t n, int32_t tickedCount);
    void ProcessEntry(const TSourceEntry& entry, int32_t n, int32_t tickedCount, TStretchFilter filter);
    void PublishPicture(const std::string& path, int32_t n, const TReducedPicture& picture,
                        const ReductionSettings& settings);
    void PublishOutput(const std::string& folder, const std::string& outputName, const uint8_t* data, size_t size);
    TOutputFolder& OutputFolder(const std::string& folder);
    void SyncOutput() noexcept;

    ISettingsSource& m_settings;
    ISourceList& m_list;
    IProgressView& m_progress;
    std::function<void()> m_letMessagesRun;
    std::function<void(const std::exception&)> m_onFailure;
    std::chrono::steady_clock::time_point m_lastTurn;
    bool m_running = false;
    bool m_stopRequested = false;
    bool m_stopped = false;
    int32_t m_failed = 0;
    int32_t m_jobs = 1;
    std::filesystem::file_time_type m_runStart;
    // The target folder's names, read once per run (or when the folder changes).
    std::unique_ptr<TOutputFolder> m_output;
};

// The Start button: without a target folder shows kNoTargetMessage through
// showInformation and does nothing else; otherwise runs Go. True when it ran.
bool StartRun(TBatchRun& run, ISettingsSource& settings, const std::function<void(const std::string&)>& showInformation);

} // namespace palvex
