// One picture's work before it gets its name: decoded, scaled and encoded,
// either on the calling thread or by worker threads that hand the results
// back in the order the pictures were given.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "imageio/JPEGBytes.h"
#include "job/ReductionSettings.h"

namespace palvex {

// The encoded picture and what its name needs of it.
struct TReducedPicture {
    TJPEGBytes Bytes;
    std::string Parameters; // the parameter suffix, empty when it is off
};

struct TReduceHooks {
    // Asked when the size is computed, and again for the quality and the suffix.
    std::function<ReductionSettings()> Settings;
    // At the fixed points between the steps.
    std::function<void()> Turn;
    // Every few rows while the picture is decoded, scaled and encoded.
    std::function<void()> WhenDue;
};

// Errors leave as they come (the caller names the picture). An exception from
// a hook ends the work as well.
TReducedPicture ReducePicture(const std::string& path, TStretchFilter filter, const TReduceHooks& hooks);

// Worker threads that reduce the pictures given to them with fixed settings.
// Results are taken back strictly in the order of Submit, whatever order
// the pictures finish in; nothing here touches the target folder.
class TPictureWorkers {
public:
    TPictureWorkers(int32_t threads, ReductionSettings settings, TStretchFilter filter);
    // Cancels what is left and waits for the threads.
    ~TPictureWorkers();
    TPictureWorkers(const TPictureWorkers&) = delete;
    TPictureWorkers& operator=(const TPictureWorkers&) = delete;

    void Submit(std::string path);
    // Pictures given and not yet taken back.
    size_t Pending() const { return m_order.size(); }
    // The oldest picture given, once it is done: its result, or its error
    // rethrown. While it waits, whileWaiting (if any) is called every interval.
    TReducedPicture TakeOldest(const std::function<void()>& whileWaiting, std::chrono::milliseconds interval);

private:
    struct TTask {
        std::string Path;
        bool Done = false;
        TReducedPicture Result;
        std::exception_ptr Error;
    };

    void Work();
    void Stop() noexcept;

    const ReductionSettings m_settings;
    const TStretchFilter m_filter;
    std::mutex m_lock;
    std::condition_variable m_taskReady; // a task waits, or the workers are to end
    std::condition_variable m_taskDone;
    std::deque<std::shared_ptr<TTask>> m_queue; // given, not yet started
    std::deque<std::shared_ptr<TTask>> m_order; // given, not yet taken back (main thread only)
    bool m_ending = false;
    // Read by the workers every few rows: work under way stops early.
    std::atomic<bool> m_cancelled{false};
    std::vector<std::thread> m_threads;
};

} // namespace palvex
