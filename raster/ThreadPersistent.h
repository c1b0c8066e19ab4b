// TThreadPersistent, the lockable base of the pixel maps, and TCustomMap.
#pragma once

#include <cstdint>
#include <mutex>

#include "platform/Persistent.h"
#include "raster/RasterTypes.h"

namespace palvex {

class TThreadPersistent : public TPersistent {
public:
    const char* ClassName() const override { return "TThreadPersistent"; }

    // Counted inside the process-wide section, then the object's own lock.
    void Lock();
    void Unlock();
    int32_t LockCount() const { return m_lockCount; }

    void BeginUpdate() { ++m_updateCount; }
    // An unpaired call raises EAssertionFailed and leaves the count as it is.
    void EndUpdate();
    int32_t UpdateCount() const { return m_updateCount; }

    // Raises OnChange only while no update is under way.
    virtual void NotifyChanged();

    TNotifyEvent OnChange;

private:
    std::recursive_mutex m_lock;
    int32_t m_lockCount = 0;
    int32_t m_updateCount = 0;
};

class TCustomMap : public TThreadPersistent {
public:
    const char* ClassName() const override { return "TCustomMap"; }

    int32_t Width() const { return m_width; }
    int32_t Height() const { return m_height; }

    virtual void Discard() { SetSize(0, 0); }
    virtual bool IsEmpty() const { return m_width == 0 || m_height == 0; }
    virtual void NotifyResized();
    // A negative side is taken as 0; the current size returns false.
    virtual bool SetSize(int32_t newWidth, int32_t newHeight);
    void SetWidth(int32_t w) { SetSize(w, m_height); }
    void SetHeight(int32_t h) { SetSize(m_width, h); }

    TNotifyEvent OnResize;

protected:
    virtual void ReallocatePixels(int32_t& width, int32_t& height, int32_t newWidth, int32_t newHeight);

    int32_t m_height = 0;
    int32_t m_width = 0;
};

} // namespace palvex
