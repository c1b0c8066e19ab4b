#include "raster/ThreadPersistent.h"

#include "platform/Errors.h"

namespace palvex {

namespace {
// Guards every object's lock count, as one section for the whole process.
std::mutex& ProcessSection()
{
    static std::mutex section;
    return section;
}
} // namespace

void TThreadPersistent::Lock()
{
    {
        std::lock_guard guard(ProcessSection());
        ++m_lockCount;
    }
    m_lock.lock();
}

void TThreadPersistent::Unlock()
{
    m_lock.unlock();
    std::lock_guard guard(ProcessSection());
    --m_lockCount;
}

void TThreadPersistent::EndUpdate()
{
    if (m_updateCount <= 0)
        throw EAssertionFailed("Unpaired TThreadPersistent.EndUpdate");
    --m_updateCount;
}

void TThreadPersistent::NotifyChanged()
{
    if (m_updateCount == 0 && OnChange)
        OnChange(*this);
}

void TCustomMap::NotifyResized()
{
    if (OnResize)
        OnResize(*this);
}

bool TCustomMap::SetSize(int32_t newWidth, int32_t newHeight)
{
    if (newWidth < 0)
        newWidth = 0;
    if (newHeight < 0)
        newHeight = 0;
    if (newWidth == m_width && newHeight == m_height)
        return false;
    ReallocatePixels(m_width, m_height, newWidth, newHeight);
    NotifyChanged();
    NotifyResized();
    return true;
}

void TCustomMap::ReallocatePixels(int32_t& width, int32_t& height, int32_t newWidth, int32_t newHeight)
{
    width = newWidth;
    height = newHeight;
}

} // namespace palvex
