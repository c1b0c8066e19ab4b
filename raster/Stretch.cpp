// StretchCopy and four of its five paths: same-size copy, point sampling,
// bilinear enlarging and block averaging. The separable kernel resampler is
// in StretchKernel.cpp.
#include "raster/Stretch.h"

#include <algorithm>
#include <cmath>
#include <climits>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "platform/Errors.h"
#include "raster/RowSink.h"
#include "raster/RowSource.h"
#include "raster/StretchInternals.h"
#include "raster/StretchVector.h"

namespace palvex {

namespace {

inline float F32(long double v) { return static_cast<float>(v); }

// Point-sample index of one axis for the destination position m.
std::vector<int32_t> PointMap(int64_t dstLo, int32_t clipLo, int32_t clipHi, int32_t srcLo, int32_t srcHi,
                              int64_t dstSize)
{
    std::vector<int32_t> map(static_cast<size_t>(clipHi - clipLo));
    if (dstSize <= 1) {
        std::fill(map.begin(), map.end(), static_cast<int32_t>((int64_t(srcLo) + srcHi - 1) / 2));
        return map;
    }
    const float scale = F32(static_cast<long double>(int64_t(srcHi) - srcLo) / static_cast<long double>(dstSize));
    for (size_t i = 0; i < map.size(); ++i) {
        const int64_t m = static_cast<int64_t>(i) + clipLo - dstLo;
        const long double v = truncl(static_cast<long double>(m) * scale + srcLo);
        // Only a float scale rounded far past the exact ratio could leave the range.
        map[i] = static_cast<int32_t>(std::clamp<long double>(v, srcLo, srcHi - 1));
    }
    return map;
}

// 16.16 block edges of one axis, as absolute source indices [start, end).
void BlockEdges(int64_t dstLo, int32_t clipLo, int32_t clipHi, int32_t srcLo, int32_t srcHi, int64_t dstSize,
                std::vector<int32_t>& starts, std::vector<int32_t>& ends)
{
    const float scale = F32(static_cast<long double>(int64_t(srcHi) - srcLo) / static_cast<long double>(dstSize));
    const auto offset = static_cast<int64_t>(truncl(static_cast<long double>(int64_t(clipLo) - dstLo) * scale));
    const auto step = static_cast<int64_t>(truncl(static_cast<long double>(scale) * 65536.0L));
    const size_t n = static_cast<size_t>(clipHi - clipLo);
    starts.resize(n);
    ends.resize(n);
    const int64_t base = int64_t(srcLo) + offset;
    for (size_t k = 0; k < n; ++k) {
        // 64-bit products: the same edges as 32 bits below 65536 source pixels,
        // and correct ones beyond.
        int64_t s = base + ((static_cast<int64_t>(k) * step) >> 16);
        int64_t e = base + ((static_cast<int64_t>(k + 1) * step) >> 16);
        e = std::min<int64_t>(e, srcHi);
        s = std::min<int64_t>(s, e - 1);
        s = std::max<int64_t>(s, srcLo);
        e = std::max<int64_t>(e, s + 1);
        starts[k] = static_cast<int32_t>(s);
        ends[k] = static_cast<int32_t>(e);
    }
}

bool g_vectorPaths = true;
bool g_wideVectorPaths = true;

} // namespace

bool VectorPathsEnabled() { return g_vectorPaths && VectorKernelAvailable(); }

void SetVectorPathsEnabled(bool enabled) { g_vectorPaths = enabled; }

bool WideVectorPathsEnabled() { return g_wideVectorPaths && VectorPathsEnabled() && WideVectorKernelAvailable(); }

void SetWideVectorPathsEnabled(bool enabled) { g_wideVectorPaths = enabled; }

std::vector<TBilinearEntry> BuildBilinearTable(int64_t dstLo, int32_t clipLo, int32_t clipHi, int32_t srcLo,
                                               int32_t srcHi, int64_t dstSize, int32_t bitmapSize)
{
    std::vector<TBilinearEntry> table(static_cast<size_t>(clipHi - clipLo));
    if (srcHi - srcLo == 1) {
        // No second sample inside the source: the single column alone.
        for (auto& e : table)
            e = {srcLo, srcLo, 256};
        return table;
    }
    const float scale = F32(static_cast<long double>(srcHi - srcLo) / static_cast<long double>(dstSize));
    for (size_t i = 0; i < table.size(); ++i) {
        const int64_t m = static_cast<int64_t>(i) + clipLo - dstLo;
        float x = F32((static_cast<long double>(m) + 0.5L) * scale + srcLo - 0.5L);
        if (x < 0.0f)
            x = 0.0f;
        if (x > static_cast<float>(bitmapSize - 1))
            x = static_cast<float>(bitmapSize - 1);
        const long double index = floorl(x);
        const long double frac = static_cast<long double>(x) - index;
        table[i].Index0 = static_cast<int32_t>(index);
        table[i].Weight = 256 - static_cast<int32_t>(nearbyintl(frac * 256.0L));
    }
    for (size_t i = table.size(); i-- > 0 && table[i].Index0 == srcHi - 1;) {
        table[i].Index0 -= 1;
        table[i].Weight = 0;
    }
    for (auto& e : table) {
        // Guards against float placement rounding past the bitmap's last pixel.
        e.Index0 = std::clamp(e.Index0, 0, bitmapSize - 1);
        e.Index1 = std::min(e.Index0 + 1, bitmapSize - 1);
    }
    return table;
}

void CopySameSize(TBitmap32& destination, const TRect& clipRect, TRowSource& source, uint32_t masterAlpha,
                  int32_t sourceX, int32_t sourceY, TDrawMode combineMode, const TPixelCombineEvent& pixelEvent)
{
    const int32_t n = clipRect.Width();
    const uint32_t m = masterAlpha;
    source.KeepRows(1);
    for (int32_t y = clipRect.Top; y < clipRect.Bottom; ++y) {
        const TColor32* from = source.Row(sourceY + (y - clipRect.Top)) + sourceX;
        TColor32* to = destination.PixelAddress(clipRect.Left, y);
        if (combineMode == dmOpaque) {
            if (from != to)
                std::memmove(to, from, static_cast<size_t>(n) * sizeof(TColor32));
        } else if (combineMode == dmBlend) {
            BlendOverRow(from, to, n, m);
        } else {
            for (int32_t i = 0; i < n; ++i)
                pixelEvent(from[i], to[i], m);
        }
    }
}

void StretchPointSample(TBitmap32& destination, const TRect& destRect, const TRect& clipRect, TRowSource& source,
                        uint32_t masterAlpha, const TRect& sourceRect, TDrawMode combineMode,
                        const TPixelCombineEvent& pixelEvent)
{
    const int64_t dstW = int64_t(destRect.Right) - destRect.Left;
    const int64_t dstH = int64_t(destRect.Bottom) - destRect.Top;
    const std::vector<int32_t> columns =
        PointMap(destRect.Left, clipRect.Left, clipRect.Right, sourceRect.Left, sourceRect.Right, dstW);
    const std::vector<int32_t> rows =
        PointMap(destRect.Top, clipRect.Top, clipRect.Bottom, sourceRect.Top, sourceRect.Bottom, dstH);
    const int32_t n = clipRect.Width();
    TRowSink sink(destination, clipRect, combineMode, masterAlpha, pixelEvent, true);
    source.KeepRows(RowsKept(rows.size(), [&](size_t j) { return rows[j]; }, [&](size_t j) { return rows[j]; }));
    for (int32_t j = 0; j < clipRect.Height(); ++j) {
        TColor32* out = sink.Row(j);
        if (combineMode == dmOpaque && j > 0 && rows[j] == rows[j - 1]) {
            std::memmove(out, sink.Row(j - 1), static_cast<size_t>(n) * sizeof(TColor32));
            continue;
        }
        const TColor32* from = source.Row(rows[j]);
        // The next source row is fetched while this one is gathered: a
        // reduction touches every cache line of the rows it samples.
        const TColor32* ahead =
            j + 1 < clipRect.Height() && rows[j + 1] != rows[j] ? source.RowIfReady(rows[j + 1]) : nullptr;
        if (ahead) {
            const auto* next = reinterpret_cast<const char*>(ahead + columns.front());
            const auto* end = reinterpret_cast<const char*>(ahead + columns.back());
            for (; next <= end; next += 64)
                __builtin_prefetch(next);
        }
        for (int32_t i = 0; i < n; ++i)
            out[i] = from[columns[i]];
        sink.Commit(j);
    }
}

namespace {

// The MMX formula on four 16-bit lanes of a 64-bit word: no lane can carry
// into the next, since a weighted pair never exceeds 255 * 256.
constexpr uint64_t kLaneMask = 0x00FF00FF00FF00FFull;

inline uint64_t Spread(TColor32 c)
{
    const uint64_t v = c;
    return (v & 0xFF) | ((v & 0xFF00) << 8) | ((v & 0xFF0000) << 16) | ((v & 0xFF000000) << 24);
}

inline TColor32 Gather(uint64_t v)
{
    return static_cast<TColor32>((v & 0xFF) | ((v >> 8) & 0xFF00) | ((v >> 16) & 0xFF0000) |
                                 ((v >> 24) & 0xFF000000));
}

inline uint64_t MixLanes(uint64_t a, uint64_t b, uint32_t w)
{
    return ((a * w + b * (256 - w)) >> 8) & kLaneMask;
}

} // namespace

void StretchBilinear(TBitmap32& destination, const TRect& destRect, const TRect& clipRect, TRowSource& source,
                     uint32_t masterAlpha, const TRect& sourceRect, TDrawMode combineMode,
                     const TPixelCombineEvent& pixelEvent)
{
    const int64_t dstW = int64_t(destRect.Right) - destRect.Left;
    const int64_t dstH = int64_t(destRect.Bottom) - destRect.Top;
    const std::vector<TBilinearEntry> columns = BuildBilinearTable(
        destRect.Left, clipRect.Left, clipRect.Right, sourceRect.Left, sourceRect.Right, dstW, source.Width());
    const std::vector<TBilinearEntry> rows = BuildBilinearTable(
        destRect.Top, clipRect.Top, clipRect.Bottom, sourceRect.Top, sourceRect.Bottom, dstH, source.Height());
    const int32_t n = clipRect.Width();
    TRowSink sink(destination, clipRect, combineMode, masterAlpha, pixelEvent, false);
    source.KeepRows(RowsKept(
        rows.size(), [&](size_t j) { return rows[j].Index0; }, [&](size_t j) { return rows[j].Index1; }));

    if (BilinearVariant() == TBilinearVariant::Plain) {
        for (int32_t j = 0; j < clipRect.Height(); ++j) {
            const TColor32* upper = source.Row(rows[j].Index0);
            const TColor32* lower = source.Row(rows[j].Index1);
            const auto wy = static_cast<uint32_t>(rows[j].Weight);
            TColor32* out = sink.Row(j);
            for (int32_t i = 0; i < n; ++i) {
                const TBilinearEntry& c = columns[i];
                out[i] = BilinearSamplePlain(static_cast<uint32_t>(c.Weight), wy, upper[c.Index0], upper[c.Index1],
                                             lower[c.Index0], lower[c.Index1]);
            }
            sink.Commit(j);
        }
        return;
    }

    // The horizontal step of a source row depends on that row alone, so each
    // source row is interpolated once and kept while destination rows use it.
    std::vector<uint64_t> cacheA(static_cast<size_t>(n)), cacheB(static_cast<size_t>(n));
    int32_t rowA = -1, rowB = -1;
    const auto fill = [&](std::vector<uint64_t>& cache, int32_t y) {
        const TColor32* from = source.Row(y);
        for (int32_t i = 0; i < n; ++i) {
            const TBilinearEntry& c = columns[i];
            cache[i] = MixLanes(Spread(from[c.Index0]), Spread(from[c.Index1]), static_cast<uint32_t>(c.Weight));
        }
    };
    // Returns the interpolated row y, filling the slot that does not hold keep.
    const auto cached = [&](int32_t y, int32_t keep) -> const uint64_t* {
        if (y == rowA)
            return cacheA.data();
        if (y == rowB)
            return cacheB.data();
        if (rowA == keep) {
            fill(cacheB, y);
            rowB = y;
            return cacheB.data();
        }
        fill(cacheA, y);
        rowA = y;
        return cacheA.data();
    };
    for (int32_t j = 0; j < clipRect.Height(); ++j) {
        const int32_t y0 = rows[j].Index0;
        const int32_t y1 = rows[j].Index1;
        const auto wy = static_cast<uint32_t>(rows[j].Weight);
        const uint64_t* upper = cached(y0, y1);
        const uint64_t* lower = cached(y1, y0);
        TColor32* out = sink.Row(j);
        for (int32_t i = 0; i < n; ++i)
            out[i] = Gather(MixLanes(upper[i], lower[i], wy));
        sink.Commit(j);
    }
}

namespace {

// The blocks of one StretchBlockAverage call: their source columns and rows,
// and the row-by-row sums they are averaged from.
class TBlockGrid {
public:
    TBlockGrid(const TRect& destRect, const TRect& clipRect, const TRect& sourceRect)
    {
        BlockEdges(destRect.Left, clipRect.Left, clipRect.Right, sourceRect.Left, sourceRect.Right,
                   int64_t(destRect.Right) - destRect.Left, m_colStart, m_colEnd);
        BlockEdges(destRect.Top, clipRect.Top, clipRect.Bottom, sourceRect.Top, sourceRect.Bottom,
                   int64_t(destRect.Bottom) - destRect.Top, m_rowStart, m_rowEnd);
        m_columns = clipRect.Width();
        m_spanLo = m_colStart.front();
        m_span = static_cast<size_t>(m_colEnd.back() - m_spanLo);
        m_relStart.resize(static_cast<size_t>(m_columns));
        m_relEnd.resize(static_cast<size_t>(m_columns));
        for (int32_t k = 0; k < m_columns; ++k) {
            m_relStart[k] = m_colStart[k] - m_spanLo;
            m_relEnd[k] = m_colEnd[k] - m_spanLo;
        }
        if (VectorPathsEnabled())
            m_columnSums16.resize(m_span * 4 + 32);
    }

    int32_t RowsKept() const
    {
        return palvex::RowsKept(
            m_rowStart.size(), [&](size_t r) { return m_rowStart[r]; }, [&](size_t r) { return m_rowEnd[r] - 1; });
    }

    // Block row r's averages into out.
    void AverageRow(int32_t r, TRowSource& source, TColor32* out)
    {
        const uint64_t height = static_cast<uint64_t>(m_rowEnd[r] - m_rowStart[r]);
        if (VectorPathsEnabled() && height <= 257)
            AverageRow16(r, source, out);
        else if (height > (uint64_t(1) << 24))
            AverageRowWhole(r, *source.Whole(), out);
        else
            AverageRow32(r, source, out);
    }

private:
    // 16-bit column sums: the block's rows read once, side by side, while the
    // next block row's rows are fetched.
    void AverageRow16(int32_t r, TRowSource& source, TColor32* out)
    {
        const auto height = static_cast<size_t>(m_rowEnd[r] - m_rowStart[r]);
        const auto rows = static_cast<int32_t>(m_rowStart.size());
        const int32_t next = r + 1 < rows ? m_rowEnd[r + 1] - m_rowStart[r + 1] : 0;
        int32_t ahead = next <= 257 ? next : 0;
        m_blockRows.resize(height + static_cast<size_t>(ahead));
        for (size_t y = 0; y < height; ++y)
            m_blockRows[y] = Bytes(source.Row(m_rowStart[r] + static_cast<int32_t>(y)));
        for (int32_t y = 0; y < ahead; ++y) {
            const TColor32* row = source.RowIfReady(m_rowStart[r + 1] + y);
            if (!row) {
                ahead = y;
                break;
            }
            m_blockRows[height + static_cast<size_t>(y)] = Bytes(row);
        }
        ColumnSums16(m_columnSums16.data(), m_blockRows.data(), static_cast<int32_t>(height), m_span * 4,
                     m_blockRows.data() + height, ahead);
        BlockAverages16(out, m_columnSums16.data(), m_relStart.data(), m_relEnd.data(), m_columns,
                        static_cast<uint32_t>(height));
    }

    // Too high for 32-bit column sums; only a whole bitmap is that high.
    void AverageRowWhole(int32_t r, const TBitmap32& whole, TColor32* out) const
    {
        for (int32_t k = 0; k < m_columns; ++k)
            out[k] = AverageBlock(whole.PixelAddress(m_colStart[k], m_rowStart[r]), static_cast<size_t>(whole.Width()),
                                  m_colEnd[k] - m_colStart[k], m_rowEnd[r] - m_rowStart[r]);
    }

    // Column sums stay below 2^32 for blocks up to 2^24 rows high.
    void AverageRow32(int32_t r, TRowSource& source, TColor32* out)
    {
        const auto height = static_cast<uint64_t>(m_rowEnd[r] - m_rowStart[r]);
        m_columnSums.assign(m_span * 4, 0u);
        for (int32_t y = m_rowStart[r]; y < m_rowEnd[r]; ++y)
            AddRowBytes(m_columnSums.data(), Bytes(source.Row(y)), m_span * 4);
        for (int32_t k = 0; k < m_columns; ++k) {
            uint64_t sums[4] = {0, 0, 0, 0};
            const uint32_t* p = m_columnSums.data() + static_cast<size_t>(m_relStart[k]) * 4;
            for (int32_t x = m_colStart[k]; x < m_colEnd[k]; ++x, p += 4)
                for (int c = 0; c < 4; ++c)
                    sums[c] += p[c];
            out[k] = AverageOfSums(sums, static_cast<uint64_t>(m_colEnd[k] - m_colStart[k]) * height);
        }
    }

    const uint8_t* Bytes(const TColor32* row) const { return reinterpret_cast<const uint8_t*>(row + m_spanLo); }

    std::vector<int32_t> m_colStart, m_colEnd, m_rowStart, m_rowEnd;
    std::vector<int32_t> m_relStart, m_relEnd; // column edges from the span's start
    int32_t m_columns = 0;
    int32_t m_spanLo = 0;
    size_t m_span = 0;
    // Per source column of the span, the channel sums of the block row's rows.
    std::vector<uint32_t> m_columnSums;
    std::vector<uint16_t> m_columnSums16;
    std::vector<const uint8_t*> m_blockRows;
};

} // namespace

void StretchBlockAverage(TBitmap32& destination, const TRect& destRect, const TRect& clipRect, TRowSource& source,
                         uint32_t masterAlpha, const TRect& sourceRect, TDrawMode combineMode,
                         const TPixelCombineEvent& pixelEvent)
{
    if (int64_t(sourceRect.Right) - sourceRect.Left < int64_t(destRect.Right) - destRect.Left ||
        int64_t(sourceRect.Bottom) - sourceRect.Top < int64_t(destRect.Bottom) - destRect.Top) {
        StretchBilinear(destination, destRect, clipRect, source, masterAlpha, sourceRect, combineMode, pixelEvent);
        return;
    }
    TBlockGrid grid(destRect, clipRect, sourceRect);
    TRowSink sink(destination, clipRect, combineMode, masterAlpha, pixelEvent, false);
    source.KeepRows(grid.RowsKept());
    for (int32_t r = 0; r < clipRect.Height(); ++r) {
        grid.AverageRow(r, source, sink.Row(r));
        sink.Commit(r);
    }
}

namespace {

void StretchPaths(TBitmap32& destination, const TRect& destRect, const TRect& clipRect, TRowSource& source,
                  uint32_t masterAlpha, const TRect& sourceRect, TStretchFilter filter, TDrawMode combineMode,
                  const TPixelCombineEvent& pixelEvent)
{
    const float srcW = static_cast<float>(sourceRect.Right - sourceRect.Left);
    const float srcH = static_cast<float>(sourceRect.Bottom - sourceRect.Top);
    const int64_t dstW = int64_t(destRect.Right) - destRect.Left;
    const int64_t dstH = int64_t(destRect.Bottom) - destRect.Top;

    if (dstW == srcW && dstH == srcH) {
        CopySameSize(destination, clipRect, source, masterAlpha, sourceRect.Left + clipRect.Left - destRect.Left,
                     sourceRect.Top + clipRect.Top - destRect.Top, combineMode, pixelEvent);
        return;
    }
    switch (filter) {
    case sfNearest:
        StretchPointSample(destination, destRect, clipRect, source, masterAlpha, sourceRect, combineMode, pixelEvent);
        break;
    case sfDraft:
        StretchBlockAverage(destination, destRect, clipRect, source, masterAlpha, sourceRect, combineMode, pixelEvent);
        break;
    case sfLinear:
        if (dstW > srcW && dstH > srcH)
            StretchBilinear(destination, destRect, clipRect, source, masterAlpha, sourceRect, combineMode, pixelEvent);
        else
            StretchKernel(destination, destRect, clipRect, source, masterAlpha, sourceRect, sfLinear, combineMode,
                          pixelEvent);
        break;
    case sfCosine:
    case sfSpline:
    case sfLanczos:
    case sfMitchell:
        StretchKernel(destination, destRect, clipRect, source, masterAlpha, sourceRect, filter, combineMode, pixelEvent);
        break;
    default:
        // No kernel exists for other values; point sampling never reads outside.
        StretchPointSample(destination, destRect, clipRect, source, masterAlpha, sourceRect, combineMode, pixelEvent);
        break;
    }
}

} // namespace

void StretchCopy(TBitmap32* destination, TRect destRect, TRect clipRect, const TBitmap32* source, TRect sourceRect,
                 TStretchFilter filter, TDrawMode combineMode, const TPixelCombineEvent& pixelEvent)
{
    if (source == nullptr)
        throw ETransformError("Source bitmap is nil or empty");
    if (source->IsEmpty())
        return;
    if (destination == nullptr || destination->IsEmpty())
        throw ETransformError("Destination bitmap is nil or empty");
    if (IsRectEmpty(sourceRect))
        return;
    if (sourceRect.Left < 0 || sourceRect.Top < 0 || sourceRect.Right > source->Width() ||
        sourceRect.Bottom > source->Height())
        throw ETransformError("Source rectangle is invalid");

    clipRect = IntersectRect(clipRect, destination->FullRect());
    clipRect = IntersectRect(clipRect, destRect);
    if (IsRectEmpty(clipRect))
        return;
    if (combineMode == dmCustom && !pixelEvent)
        combineMode = dmOpaque;
    if (combineMode > dmCustom)
        combineMode = dmOpaque;
    if (combineMode == dmBlend && source->MasterAlpha() == 0)
        return;

    TBitmapRows rows(*source);
    StretchPaths(*destination, destRect, clipRect, rows, source->MasterAlpha(), sourceRect, filter, combineMode,
                 pixelEvent);
}

void StretchRows(TBitmap32& destination, TRowSource& source, TStretchFilter filter)
{
    if (source.Width() <= 0 || source.Height() <= 0)
        return;
    if (destination.IsEmpty())
        throw ETransformError("Destination bitmap is nil or empty");
    // Blocks higher than this are averaged from the whole picture at once.
    if (source.Height() > (int32_t(1) << 24) && !source.Whole())
        throw std::length_error("StretchRows: source too high to read row by row");
    const TRect full = destination.FullRect();
    StretchPaths(destination, full, full, source, 255, TRect{0, 0, source.Width(), source.Height()}, filter,
                 dmOpaque, {});
}

void TBitmap32::StretchOnto(TBitmap32& destination, const TRect& destRect) const
{
    if (IsEmpty() || destination.IsEmpty())
        return;
    StretchCopy(&destination, destRect, destination.FullRect(), this, FullRect(), m_stretchFilter, m_drawMode,
                OnPixelCombine);
    destination.NotifyChanged();
}

} // namespace palvex
