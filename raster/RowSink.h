// Where the resampler's paths put their rows, and how many source rows they
// read at once: shared by the paths of Stretch.cpp and StretchKernel.cpp.
#pragma once

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "raster/Bitmap32.h"
#include "raster/RasterTypes.h"
#include "raster/Rect.h"
#include "raster/StretchInternals.h"

namespace palvex {
// Internal to the paths: each translation unit keeps its own copy, which the
// compiler inlines into the row loops as it does a local class.
namespace {

// The rows a reader of a row source uses at once, when step k uses rows
// [lo(k), hi(k)]: from each step's lowest row to the highest asked so far.
template <typename Lo, typename Hi>
int32_t RowsKept(size_t steps, Lo lo, Hi hi)
{
    int64_t keep = 1, highest = INT64_MIN;
    for (size_t k = 0; k < steps; ++k) {
        highest = std::max<int64_t>(highest, hi(k));
        keep = std::max<int64_t>(keep, highest - lo(k) + 1);
    }
    return static_cast<int32_t>(keep);
}

// Where each computed row goes: straight into the destination for dmOpaque,
// otherwise through a row buffer that is then combined.
class TRowSink {
public:
    // batch: rows that may be filled before they are committed, in order.
    TRowSink(TBitmap32& destination, const TRect& clipRect, TDrawMode mode, uint32_t masterAlpha,
             const TPixelCombineEvent& event, bool rowBlend, int32_t batch = 1)
        : m_destination(destination), m_clip(clipRect), m_mode(mode), m_masterAlpha(masterAlpha), m_event(event),
          m_rowBlend(rowBlend), m_batch(batch)
    {
        if (m_mode != dmOpaque)
            m_buffer.resize(static_cast<size_t>(clipRect.Width()) * static_cast<size_t>(batch));
    }

    TColor32* Row(int32_t j)
    {
        if (m_mode == dmOpaque)
            return m_destination.PixelAddress(m_clip.Left, m_clip.Top + j);
        return BufferRow(j);
    }

    void Commit(int32_t j)
    {
        if (m_mode == dmOpaque)
            return;
        TColor32* target = m_destination.PixelAddress(m_clip.Left, m_clip.Top + j);
        const int32_t n = m_clip.Width();
        const TColor32* row = BufferRow(j);
        if (m_mode == dmBlend) {
            if (m_rowBlend) {
                BlendOverRow(row, target, n, m_masterAlpha);
            } else {
                for (int32_t i = 0; i < n; ++i)
                    BlendOver(row[i], target[i], m_masterAlpha);
            }
        } else {
            for (int32_t i = 0; i < n; ++i)
                m_event(row[i], target[i], m_masterAlpha);
        }
    }

private:
    TBitmap32& m_destination;
    TRect m_clip;
    TDrawMode m_mode;
    uint32_t m_masterAlpha;
    const TPixelCombineEvent& m_event;
    bool m_rowBlend;
    int32_t m_batch;
    std::vector<TColor32> m_buffer;

    TColor32* BufferRow(int32_t j)
    {
        return m_buffer.data() + static_cast<size_t>(j % m_batch) * static_cast<size_t>(m_clip.Width());
    }
};

} // namespace
} // namespace palvex
