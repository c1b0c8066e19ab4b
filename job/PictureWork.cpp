#include "job/PictureWork.h"

#include <algorithm>

#include "imageio/JPEGImage.h"
#include "imageio/JPEGWriter.h"
#include "imageio/PictureRows.h"
#include "job/OutputNaming.h"
#include "raster/Bitmap32.h"
#include "raster/Stretch.h"

namespace palvex {

namespace {

// A picture's rows passed through unchanged, with a call to whenDue every few
// rows as they are read.
class TPacedRows final : public TRowSource {
public:
    TPacedRows(TRowSource& source, const std::function<void()>& whenDue) : m_source(source), m_whenDue(whenDue) {}
    int32_t Width() const override { return m_source.Width(); }
    int32_t Height() const override { return m_source.Height(); }
    void KeepRows(int32_t rows) override { m_source.KeepRows(rows); }
    const TColor32* Row(int32_t y) override
    {
        if (++m_rowsRead % kRowsPerLook == 0 && m_whenDue)
            m_whenDue();
        return m_source.Row(y);
    }
    const TColor32* RowIfReady(int32_t y) const override { return m_source.RowIfReady(y); }
    const TBitmap32* Whole() const override { return m_source.Whole(); }

private:
    static constexpr uint32_t kRowsPerLook = 16;
    TRowSource& m_source;
    const std::function<void()>& m_whenDue;
    uint32_t m_rowsRead = 0;
};

void TurnOf(const TReduceHooks& hooks)
{
    if (hooks.Turn)
        hooks.Turn();
}

// Work under way that is no longer wanted; never reaches a caller.
struct TCancelled {};

} // namespace

TReducedPicture ReducePicture(const std::string& path, TStretchFilter filter, const TReduceHooks& hooks)
{
    // The source is decoded row by row as the stretch (or, at the same size,
    // the encoder) reads it, where its format allows; a photo is never held
    // whole: touching a fresh photo-sized block can cost more than decoding
    // the photo. The encoder reads the finished 32-bit rows in place: the
    // same bytes as encoding a platform bitmap of them.
    auto destination = std::make_unique<TBitmap32>();
    TurnOf(hooks);
    auto source = std::make_unique<TPictureRows>(path, hooks.Settings().Loading);
    TurnOf(hooks);
    const TargetSize size = ComputeTargetSize(source->Width(), source->Height(), hooks.Settings());
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
    TurnOf(hooks);
    TPacedRows rows(*source, hooks.WhenDue);
    if (!sameSize) {
        StretchRows(*destination, rows, filter);
        source->Finish();
        source.reset();
    }
    TurnOf(hooks);

    const ReductionSettings settings = hooks.Settings();
    const TJPEGDefaults& defaults = JPEGDefaults();
    const TJPEGWriteSettings writing{settings.Quality(), defaults.Grayscale, defaults.ProgressiveEncoding};
    TReducedPicture result;
    if (sameSize) {
        WriteJPEG(rows, writing, result.Bytes);
        source->Finish();
    } else {
        TBitmapRows finished(*destination);
        WriteJPEG(finished, writing, result.Bytes);
    }
    if (settings.AddParameters)
        result.Parameters = ParameterSuffix(outputWidth, outputHeight, settings.Quality());
    return result;
}

TPictureWorkers::TPictureWorkers(int32_t threads, ReductionSettings settings, TStretchFilter filter)
    : m_settings(std::move(settings)), m_filter(filter)
{
    m_threads.reserve(static_cast<size_t>(std::max(threads, 1)));
    try {
        for (int32_t i = 0; i < std::max(threads, 1); ++i)
            m_threads.emplace_back([this] { Work(); });
    } catch (...) {
        // A thread the system would not give: end the ones started.
        Stop();
        throw;
    }
}

TPictureWorkers::~TPictureWorkers()
{
    Stop();
}

void TPictureWorkers::Stop() noexcept
{
    m_cancelled = true;
    {
        std::lock_guard guard(m_lock);
        m_ending = true;
        m_queue.clear();
    }
    m_taskReady.notify_all();
    for (std::thread& thread : m_threads)
        if (thread.joinable())
            thread.join();
}

void TPictureWorkers::Submit(std::string path)
{
    auto task = std::make_shared<TTask>();
    task->Path = std::move(path);
    m_order.push_back(task);
    {
        std::lock_guard guard(m_lock);
        m_queue.push_back(std::move(task));
    }
    m_taskReady.notify_one();
}

TReducedPicture TPictureWorkers::TakeOldest(const std::function<void()>& whileWaiting,
                                            std::chrono::milliseconds interval)
{
    const std::shared_ptr<TTask> task = m_order.front();
    m_order.pop_front();
    {
        std::unique_lock lock(m_lock);
        while (!task->Done) {
            if (!whileWaiting) {
                m_taskDone.wait(lock, [&task] { return task->Done; });
            } else if (!m_taskDone.wait_for(lock, interval, [&task] { return task->Done; })) {
                lock.unlock();
                whileWaiting();
                lock.lock();
            }
        }
    }
    if (task->Error)
        std::rethrow_exception(task->Error);
    return std::move(task->Result);
}

void TPictureWorkers::Work()
{
    const TReduceHooks hooks{[this] { return m_settings; },
                             [this] {
                                 if (m_cancelled.load(std::memory_order_relaxed))
                                     throw TCancelled();
                             },
                             [this] {
                                 if (m_cancelled.load(std::memory_order_relaxed))
                                     throw TCancelled();
                             }};
    for (;;) {
        std::shared_ptr<TTask> task;
        {
            std::unique_lock lock(m_lock);
            m_taskReady.wait(lock, [this] { return m_ending || !m_queue.empty(); });
            if (m_ending)
                return;
            task = std::move(m_queue.front());
            m_queue.pop_front();
        }
        TReducedPicture result;
        std::exception_ptr error;
        try {
            result = ReducePicture(task->Path, m_filter, hooks);
        } catch (...) {
            error = std::current_exception();
        }
        {
            std::lock_guard guard(m_lock);
            task->Result = std::move(result);
            task->Error = error;
            task->Done = true;
        }
        m_taskDone.notify_all();
    }
}

} // namespace palvex
