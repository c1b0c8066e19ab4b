// StretchCopy and its five paths: same-size copy, point sampling, bilinear
// enlarging, block averaging and the separable kernel resampler.
#include "raster/Stretch.h"

#include <algorithm>
#include <cmath>
#include <climits>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "platform/Errors.h"
#include "raster/RowSource.h"
#include "raster/StretchInternals.h"
#include "raster/StretchVector.h"

namespace palvex {

namespace {

inline float F32(long double v) { return static_cast<float>(v); }

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
int32_t g_stripPixels = 0;
TKernelPassOrder g_passOrder = TKernelPassOrder::Cheaper;

} // namespace

bool VectorPathsEnabled() { return g_vectorPaths && VectorKernelAvailable(); }

void SetVectorPathsEnabled(bool enabled) { g_vectorPaths = enabled; }

bool WideVectorPathsEnabled() { return g_wideVectorPaths && VectorPathsEnabled() && WideVectorKernelAvailable(); }

void SetWideVectorPathsEnabled(bool enabled) { g_wideVectorPaths = enabled; }

void SetKernelStripPixels(int32_t pixels) { g_stripPixels = pixels; }

TKernelPassOrder KernelPassOrder() { return g_passOrder; }

void SetKernelPassOrder(TKernelPassOrder order) { g_passOrder = order; }

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

void StretchBlockAverage(TBitmap32& destination, const TRect& destRect, const TRect& clipRect, TRowSource& source,
                         uint32_t masterAlpha, const TRect& sourceRect, TDrawMode combineMode,
                         const TPixelCombineEvent& pixelEvent)
{
    const int64_t srcW = int64_t(sourceRect.Right) - sourceRect.Left;
    const int64_t srcH = int64_t(sourceRect.Bottom) - sourceRect.Top;
    const int64_t dstW = int64_t(destRect.Right) - destRect.Left;
    const int64_t dstH = int64_t(destRect.Bottom) - destRect.Top;
    if (srcW < dstW || srcH < dstH) {
        StretchBilinear(destination, destRect, clipRect, source, masterAlpha, sourceRect, combineMode, pixelEvent);
        return;
    }
    std::vector<int32_t> colStart, colEnd, rowStart, rowEnd;
    BlockEdges(destRect.Left, clipRect.Left, clipRect.Right, sourceRect.Left, sourceRect.Right, dstW, colStart,
               colEnd);
    BlockEdges(destRect.Top, clipRect.Top, clipRect.Bottom, sourceRect.Top, sourceRect.Bottom, dstH, rowStart,
               rowEnd);
    const int32_t n = clipRect.Width();
    const int32_t spanLo = colStart.front();
    const int32_t spanHi = colEnd.back();
    const size_t span = static_cast<size_t>(spanHi - spanLo);
    // Per source column of the span, the channel sums of the block row's rows.
    std::vector<uint32_t> columnSums;
    TRowSink sink(destination, clipRect, combineMode, masterAlpha, pixelEvent, false);
    source.KeepRows(RowsKept(
        rowStart.size(), [&](size_t r) { return rowStart[r]; }, [&](size_t r) { return rowEnd[r] - 1; }));
    std::vector<uint16_t> columnSums16(VectorPathsEnabled() ? span * 4 + 32 : 0);
    std::vector<const uint8_t*> blockRows;
    std::vector<int32_t> relStart(static_cast<size_t>(n)), relEnd(static_cast<size_t>(n));
    for (int32_t k = 0; k < n; ++k) {
        relStart[k] = colStart[k] - spanLo;
        relEnd[k] = colEnd[k] - spanLo;
    }
    for (int32_t r = 0; r < clipRect.Height(); ++r) {
        const uint64_t height = static_cast<uint64_t>(rowEnd[r] - rowStart[r]);
        TColor32* out = sink.Row(r);
        if (VectorPathsEnabled() && height <= 257) {
            // 16-bit column sums: the block's rows read once, side by side,
            // while the next block row's rows are fetched.
            const int32_t next = r + 1 < clipRect.Height() ? rowEnd[r + 1] - rowStart[r + 1] : 0;
            int32_t ahead = next <= 257 ? next : 0;
            blockRows.resize(static_cast<size_t>(height) + static_cast<size_t>(ahead));
            for (uint64_t y = 0; y < height; ++y)
                blockRows[y] =
                    reinterpret_cast<const uint8_t*>(source.Row(rowStart[r] + static_cast<int32_t>(y)) + spanLo);
            for (int32_t y = 0; y < ahead; ++y) {
                const TColor32* row = source.RowIfReady(rowStart[r + 1] + y);
                if (!row) {
                    ahead = y;
                    break;
                }
                blockRows[height + static_cast<size_t>(y)] = reinterpret_cast<const uint8_t*>(row + spanLo);
            }
            ColumnSums16(columnSums16.data(), blockRows.data(), static_cast<int32_t>(height), span * 4,
                         blockRows.data() + height, ahead);
            BlockAverages16(out, columnSums16.data(), relStart.data(), relEnd.data(), n, static_cast<uint32_t>(height));
            sink.Commit(r);
            continue;
        }
        columnSums.assign(span * 4, 0u);
        if (height > (uint64_t(1) << 24)) {
            // Too high for 32-bit column sums; only a whole bitmap is that high.
            const TBitmap32& whole = *source.Whole();
            for (int32_t k = 0; k < n; ++k)
                out[k] = AverageBlock(whole.PixelAddress(colStart[k], rowStart[r]), static_cast<size_t>(whole.Width()),
                                      colEnd[k] - colStart[k], static_cast<int32_t>(height));
            sink.Commit(r);
            continue;
        }
        // Column sums stay below 2^32 for blocks up to 2^24 rows high.
        for (int32_t y = rowStart[r]; y < rowEnd[r]; ++y)
            AddRowBytes(columnSums.data(), reinterpret_cast<const uint8_t*>(source.Row(y) + spanLo), span * 4);
        for (int32_t k = 0; k < n; ++k) {
            uint64_t sums[4] = {0, 0, 0, 0};
            const uint32_t* p = columnSums.data() + static_cast<size_t>(colStart[k] - spanLo) * 4;
            for (int32_t x = colStart[k]; x < colEnd[k]; ++x, p += 4) {
                sums[0] += p[0];
                sums[1] += p[1];
                sums[2] += p[2];
                sums[3] += p[3];
            }
            out[k] = AverageOfSums(sums, static_cast<uint64_t>(colEnd[k] - colStart[k]) * height);
        }
        sink.Commit(r);
    }
}

namespace {

// Contribution lists flattened into one index and one weight array per axis.
struct TFlatLists {
    std::vector<int32_t> Start; // list k is [Start[k], Start[k + 1])
    std::vector<int32_t> Index;
    std::vector<int32_t> Weight;
    int32_t Lo = 0;
    int32_t Hi = 0;
};

TFlatLists Flatten(const std::vector<TContributionList>& lists)
{
    TFlatLists flat;
    flat.Start.reserve(lists.size() + 1);
    flat.Lo = lists.front().front().SourceIndex;
    flat.Hi = flat.Lo;
    for (const auto& list : lists) {
        flat.Start.push_back(static_cast<int32_t>(flat.Index.size()));
        for (const TContribution& c : list) {
            flat.Index.push_back(c.SourceIndex);
            flat.Weight.push_back(c.Weight);
            // The true extent, not just the first and last entries: a list
            // can start or end on a folded edge index.
            flat.Lo = std::min(flat.Lo, c.SourceIndex);
            flat.Hi = std::max(flat.Hi, c.SourceIndex);
        }
    }
    flat.Start.push_back(static_cast<int32_t>(flat.Index.size()));
    return flat;
}

inline uint32_t ToByte(uint32_t sum, bool clamp)
{
    if (clamp) {
        const auto s = static_cast<int32_t>(sum);
        if (s > 0xFF0000)
            return 255;
        if (s < 0)
            return 0;
    }
    return (sum >> 16) & 0xFF;
}

// The largest ring of horizontally weighted rows the split form keeps; a
// reduction so steep that it needs more goes through the row-buffer form.
constexpr uint64_t kMaxRingBytes = uint64_t(64) << 20;
// Source rows weighted across together, sharing each load of the weights.
constexpr size_t kRowsPerPass = 4;
// Output rows mixed together from the ring, strip by strip of columns.
constexpr int32_t kBatchRows = 4;
constexpr size_t kStripBytes = size_t(32) << 10;

// The kernel path with the horizontal pass first: every source row that a
// vertical list names is weighted across once, kept in a ring for as long as
// output rows still use it, and each output row is a weighted sum of ring
// rows. False, with nothing written, when the weights or the ring do not suit
// this form.
bool StretchKernelSplit(const TFlatLists& horizontal, const TFlatLists& vertical, TRowSource& source,
                        int32_t width, int32_t height, bool clamp, TRowSink& sink)
{
    const bool wideForms = WideVectorPathsEnabled();
    TBytePlan bytePlan;
    const bool bytes = wideForms && BuildBytePlan(horizontal.Start.data(), horizontal.Index.data(),
                                                  horizontal.Weight.data(), width, horizontal.Lo, horizontal.Hi,
                                                  bytePlan);
    THorizontalPlan plan;
    if (!bytes && !BuildHorizontalPlan(horizontal.Start.data(), horizontal.Index.data(), horizontal.Weight.data(),
                                       width, horizontal.Lo, horizontal.Hi, plan))
        return false;
    // The vertical lists with repeated edge rows (always side by side) merged.
    std::vector<int32_t> tapStart(1, 0), tapRow, rowLo, rowHi;
    std::vector<uint32_t> tapWeight;
    bool narrow = bytes ? bytePlan.Narrow : plan.Narrow;
    for (int32_t j = 0; j < height; ++j) {
        int32_t lo = vertical.Index[vertical.Start[j]], hi = lo;
        int64_t total = 0;
        for (int32_t t = vertical.Start[j]; t < vertical.Start[j + 1]; ++t) {
            const int32_t y = vertical.Index[t];
            lo = std::min(lo, y);
            hi = std::max(hi, y);
            total += vertical.Weight[t];
            if (static_cast<int32_t>(tapRow.size()) > tapStart.back() && tapRow.back() == y) {
                tapWeight.back() += static_cast<uint32_t>(vertical.Weight[t]);
            } else {
                tapRow.push_back(y);
                tapWeight.push_back(static_cast<uint32_t>(vertical.Weight[t]));
            }
        }
        tapStart.push_back(static_cast<int32_t>(tapRow.size()));
        rowLo.push_back(lo);
        rowHi.push_back(hi);
        if (total != 256)
            narrow = false;
    }
    bool weights16 = true;
    for (uint32_t w : tapWeight)
        if (static_cast<int32_t>(w) < -32768 || static_cast<int32_t>(w) > 32767)
            weights16 = false;
    narrow = narrow && weights16;
    // Sums of negative weights do not fit 16 bits: with the byte form they
    // are kept as two 16-bit halves, so that the vertical pass still takes
    // two taps per multiply-add.
    const bool split = bytes && !narrow && weights16;
    std::vector<int16_t> tapWeight16(tapWeight.size());
    for (size_t t = 0; t < tapWeight.size(); ++t)
        tapWeight16[t] = static_cast<int16_t>(static_cast<int32_t>(tapWeight[t]));
    const size_t rowValues = static_cast<size_t>(width) * 4;
    const size_t valueBytes = narrow ? sizeof(int16_t) : sizeof(uint32_t);
    // The ring holds every source row of a batch of output rows at once.
    // The lowest and highest source row of output rows [j0, j1).
    const auto rowsOf = [&](int32_t j0, int32_t j1) {
        int32_t lo = rowLo[j0], hi = rowHi[j0];
        for (int32_t j = j0; j < j1; ++j) {
            lo = std::min(lo, rowLo[j]);
            hi = std::max(hi, rowHi[j]);
        }
        return std::pair{lo, hi};
    };
    const auto ringFor = [&](int32_t batch) {
        int32_t ring = 1;
        for (int32_t j0 = 0; j0 < height; j0 += batch) {
            const auto [lo, hi] = rowsOf(j0, std::min(height, j0 + batch));
            ring = std::max(ring, hi - lo + 1);
        }
        return ring;
    };
    const auto fits = [&](int32_t ring) {
        return static_cast<uint64_t>(ring) * rowValues * valueBytes <= kMaxRingBytes;
    };
    int32_t batch = kBatchRows;
    int32_t ring = ringFor(batch);
    if (!fits(ring)) {
        batch = 1;
        ring = ringFor(1);
        if (!fits(ring))
            return false;
    }
    // Columns per strip of the vertical pass: a batch's rows of one strip
    // stay in the first-level cache while each of its output rows reads them.
    int32_t strip = width;
    if (batch > 1) {
        strip = g_stripPixels > 0 ? g_stripPixels
                                  : static_cast<int32_t>(kStripBytes / (static_cast<size_t>(ring) * 4 * valueBytes));
        strip = std::min(width, std::max(8, strip & ~7));
    }
    // Room for the rows of the next batch weighed across early, so that
    // rows go through the horizontal pass in whole groups.
    const int32_t early = fits(ring + kRowsPerPass - 1) ? static_cast<int32_t>(kRowsPerPass) - 1 : 0;
    ring += early;

    // The ring holds 32-bit sums, or 16-bit ones (in one or two planes) in the
    // same storage. Rows and planes 64 bytes longer than their values: the
    // vertical pass reads dozens of them at the same column, which at a
    // multiple of 4 KB apart would share a few cache sets.
    const size_t wideStride = rowValues + 16;
    const size_t plane = rowValues + 32;
    const size_t flagValues = (SplitFlagBytes(width) + 3) / 4 * 2;
    const size_t slimRowValues = split ? plane * 2 + flagValues : plane;
    bytePlan.Plane = plane;
    std::vector<uint32_t> store(static_cast<size_t>(ring) * std::max(wideStride, slimRowValues / 2) + 1);
    uint32_t* const wide = store.data();
    auto* const slim = reinterpret_cast<int16_t*>(store.data());
    std::vector<int32_t> held(static_cast<size_t>(ring), -1);
    const size_t spreadValues = static_cast<size_t>(bytes ? bytePlan.RowPixels : plan.SpreadPixels) * 4;
    std::vector<int16_t> spread(bytes ? 0 : spreadValues * kRowsPerPass);
    std::vector<uint8_t> prepared(bytes ? spreadValues * kRowsPerPass : 0);
    std::vector<const uint32_t*> wideTaps, wideBase;
    std::vector<const int16_t*> slimTaps, slimBase;
    std::vector<int32_t> missing;
    const auto slotOf = [&](int32_t y) { return static_cast<size_t>((y - vertical.Lo) % ring); };
    const auto batches = static_cast<size_t>((height + batch - 1) / batch);
    const auto batchLo = [&](size_t b) {
        const auto j0 = static_cast<int32_t>(b) * batch;
        return rowsOf(j0, std::min(height, j0 + batch)).first;
    };
    // A batch reads its own rows and, weighed early, rows of the next one:
    // all less than ring rows past its lowest.
    source.KeepRows(RowsKept(batches, batchLo, [&](size_t b) { return batchLo(b) + ring - 1; }));
    for (int32_t j0 = 0; j0 < height; j0 += batch) {
        const int32_t j1 = std::min(height, j0 + batch);
        missing.clear();
        for (int32_t t = tapStart[j0]; t < tapStart[j1]; ++t) {
            const int32_t y = tapRow[t];
            const size_t slot = slotOf(y);
            if (held[slot] != y) {
                held[slot] = y;
                missing.push_back(y);
            }
        }
        // Rows past the batch's own take slots that none of its rows holds.
        const auto [lo, hi] = rowsOf(j0, j1);
        const int32_t j2 = std::min(height, j1 + batch);
        for (int32_t t = tapStart[j1]; t < tapStart[j2] && missing.size() % kRowsPerPass != 0; ++t) {
            const int32_t y = tapRow[t];
            const size_t slot = slotOf(y);
            if (y > hi && y - lo < ring && held[slot] != y) {
                held[slot] = y;
                missing.push_back(y);
            }
        }
        for (size_t m = 0; m < missing.size(); m += kRowsPerPass) {
            const auto rows = static_cast<int32_t>(std::min(missing.size() - m, kRowsPerPass));
            const int16_t* spreadRows[kRowsPerPass];
            const uint8_t* preparedRows[kRowsPerPass];
            uint32_t* wideRows[kRowsPerPass];
            int16_t* slimRows[kRowsPerPass];
            for (int32_t r = 0; r < rows; ++r) {
                const int32_t y = missing[m + static_cast<size_t>(r)];
                const int32_t ahead = y + rows;
                const TColor32* row = source.Row(y) + horizontal.Lo;
                const TColor32* next = ahead < source.Height() ? source.RowIfReady(ahead) : nullptr;
                if (next)
                    next += horizontal.Lo;
                if (bytes) {
                    uint8_t* into = prepared.data() + static_cast<size_t>(r) * spreadValues;
                    PrepareRowBytes(into, row, next, bytePlan);
                    preparedRows[r] = into;
                } else {
                    int16_t* into = spread.data() + static_cast<size_t>(r) * spreadValues;
                    SpreadRow(into, row, next, plan);
                    spreadRows[r] = into;
                }
                wideRows[r] = wide + slotOf(y) * wideStride;
                slimRows[r] = slim + slotOf(y) * slimRowValues;
            }
            if (split)
                HorizontalPassBytesSplit(slimRows, preparedRows, rows, bytePlan);
            else if (bytes && narrow)
                HorizontalPassBytes16(slimRows, preparedRows, rows, bytePlan);
            else if (bytes)
                HorizontalPassBytes(wideRows, preparedRows, rows, bytePlan);
            else if (narrow)
                HorizontalPassSpread16(slimRows, spreadRows, rows, plan);
            else
                HorizontalPassSpread(wideRows, spreadRows, rows, plan);
        }
        // Where each tap of the batch starts in the ring.
        slimBase.clear();
        wideBase.clear();
        for (int32_t t = tapStart[j0]; t < tapStart[j1]; ++t) {
            slimBase.push_back(slim + slotOf(tapRow[t]) * slimRowValues);
            wideBase.push_back(wide + slotOf(tapRow[t]) * wideStride);
        }
        for (int32_t x0 = 0; x0 < width; x0 += strip) {
            const int32_t n = std::min(strip, width - x0);
            const size_t at = static_cast<size_t>(x0) * 4;
            for (int32_t j = j0; j < j1; ++j) {
                const int32_t taps = tapStart[j + 1] - tapStart[j];
                TColor32* out = sink.Row(j) + x0;
                const auto first = static_cast<size_t>(tapStart[j] - tapStart[j0]);
                if (narrow || split) {
                    const int16_t* weights = tapWeight16.data() + tapStart[j];
                    const int16_t* const* rows = slimBase.data() + first;
                    if (split) {
                        VerticalPassSplitWide(out, rows, at, plane, weights, taps, n, clamp);
                    } else if (wideForms) {
                        VerticalPassSums16Wide(out, rows, at, weights, taps, n, clamp);
                    } else {
                        slimTaps.clear();
                        for (int32_t t = 0; t < taps; ++t)
                            slimTaps.push_back(rows[t] + at);
                        VerticalPassSums16(out, slimTaps.data(), weights, taps, n, clamp);
                    }
                } else {
                    wideTaps.clear();
                    for (int32_t t = 0; t < taps; ++t)
                        wideTaps.push_back(wideBase[first + static_cast<size_t>(t)] + at);
                    const uint32_t* weights = tapWeight.data() + tapStart[j];
                    if (wideForms)
                        VerticalPassSumsWide(out, wideTaps.data(), weights, taps, n, clamp);
                    else
                        VerticalPassSums(out, wideTaps.data(), weights, taps, n, clamp);
                }
            }
        }
        for (int32_t j = j0; j < j1; ++j)
            sink.Commit(j);
    }
    return true;
}

// Taps times values of each order's two passes, weighted by their speed. Weighing across first works
// on every source row the vertical lists reach, at the output width; the
// plain order works on every output row, at the source span's width.
bool HorizontalFirstIsCheaper(const TFlatLists& horizontal, const TFlatLists& vertical, size_t span, int32_t width,
                              int32_t height)
{
    switch (KernelPassOrder()) {
    case TKernelPassOrder::VerticalFirst: return false;
    case TKernelPassOrder::HorizontalFirst: return true;
    case TKernelPassOrder::Cheaper: break;
    }
    const double rows = static_cast<double>(vertical.Hi) - vertical.Lo + 1;
    const double hTaps = static_cast<double>(horizontal.Index.size());
    const double vTaps = static_cast<double>(vertical.Index.size());
    const double acrossFirst = rows * hTaps + vTaps * width;
    const double downFirst = vTaps * static_cast<double>(span) + static_cast<double>(height) * hTaps;
    // Weighing across first spreads each source row once and keeps 16-bit
    // sums; the other order widens the source bytes for every tap. Measured on
    // photo reductions, where the counts are equal, it is about half as fast.
    return acrossFirst <= 2 * downFirst;
}

} // namespace

void StretchKernel(TBitmap32& destination, const TRect& destRect, const TRect& clipRect, TRowSource& source,
                   uint32_t masterAlpha, const TRect& sourceRect, TStretchFilter filter, TDrawMode combineMode,
                   const TPixelCombineEvent& pixelEvent)
{
    std::vector<TContributionList> across, down;
    BuildContributionsXY(destRect, clipRect, sourceRect, filter, across, down);
    const TFlatLists horizontal = Flatten(across);
    const TFlatLists vertical = Flatten(down);
    const bool clamp = filter == sfLanczos || filter == sfMitchell;
    const int32_t xLo = horizontal.Lo;
    const size_t span = static_cast<size_t>(horizontal.Hi - xLo + 1);
    const int32_t n = clipRect.Width();
    TRowSink sink(destination, clipRect, combineMode, masterAlpha, pixelEvent, false, kBatchRows);
    if (VectorPathsEnabled() && HorizontalFirstIsCheaper(horizontal, vertical, span, n, clipRect.Height()) &&
        StretchKernelSplit(horizontal, vertical, source, n, clipRect.Height(), clamp, sink))
        return;
    const bool vector = VectorPathsEnabled() && VectorWeightsFit(vertical.Weight) &&
                        VectorWeightsFit(horizontal.Weight);

    const auto listRows = [&](size_t j, bool top) {
        const auto from = vertical.Index.begin() + vertical.Start[j];
        const auto to = vertical.Index.begin() + vertical.Start[j + 1];
        return top ? *std::max_element(from, to) : *std::min_element(from, to);
    };
    source.KeepRows(RowsKept(static_cast<size_t>(clipRect.Height()), [&](size_t j) { return listRows(j, false); },
                             [&](size_t j) { return listRows(j, true); }));
    // Sums wrap modulo 2^32 as the signed 32-bit sums do, without overflow traps.
    std::vector<uint32_t> buffer(span * 4 + 8);
    std::vector<const uint8_t*> taps;
    for (int32_t j = 0; j < clipRect.Height(); ++j) {
        const int32_t first = vertical.Start[j];
        const int32_t count = vertical.Start[j + 1] - first;
        taps.resize(static_cast<size_t>(count));
        for (int32_t t = 0; t < count; ++t)
            taps[t] = reinterpret_cast<const uint8_t*>(source.Row(vertical.Index[first + t]) + xLo);
        const int32_t* weights = vertical.Weight.data() + first;
        TColor32* out = sink.Row(j);
        if (vector) {
            VerticalPassVector(buffer.data(), taps.data(), weights, count, span);
            HorizontalPassVector(out, buffer.data(), horizontal.Start.data(), horizontal.Index.data(),
                                 horizontal.Weight.data(), xLo, n, clamp);
        } else {
            std::fill(buffer.begin(), buffer.end(), 0u);
            for (int32_t t = 0; t < count; ++t) {
                const auto w = static_cast<uint32_t>(weights[t]);
                const uint8_t* p = taps[t];
                for (size_t k = 0; k < span * 4; ++k)
                    buffer[k] += w * p[k];
            }
            for (int32_t i = 0; i < n; ++i) {
                uint32_t s[4] = {0, 0, 0, 0};
                for (int32_t t = horizontal.Start[i]; t < horizontal.Start[i + 1]; ++t) {
                    const auto w = static_cast<uint32_t>(horizontal.Weight[t]);
                    const uint32_t* b = buffer.data() + static_cast<size_t>(horizontal.Index[t] - xLo) * 4;
                    s[0] += w * b[0];
                    s[1] += w * b[1];
                    s[2] += w * b[2];
                    s[3] += w * b[3];
                }
                out[i] = ToByte(s[0], clamp) | (ToByte(s[1], clamp) << 8) | (ToByte(s[2], clamp) << 16) |
                         (ToByte(s[3], clamp) << 24);
            }
        }
        sink.Commit(j);
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
