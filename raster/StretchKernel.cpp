// The kernel path of StretchCopy: separable resampling with the filters'
// weight lists, in one of two orders.
//
// Vertical first (the plain loops' order): each output row sums the source
// rows of its vertical list into a row buffer, then weighs the buffer across.
// Horizontal first: every source row a vertical list names is weighed across
// once into a ring of sums, and each output row mixes ring rows. Both give
// the same pixels, since every sum wraps modulo 2^32 alike.
//
// Words used for the horizontal-first forms throughout:
//   narrow  every sum of a row fits 16 bits (weights not negative, each list
//           summing to 256): ring rows of 16-bit values;
//   split   sums that do not fit 16 bits kept as two 16-bit halves, so that
//           the vertical pass still takes two taps per multiply-add;
//   wide    the 512-bit forms (AVX-512 with VNNI); the others are 256-bit.
#include <algorithm>
#include <utility>
#include <vector>

#include "raster/RowSink.h"
#include "raster/Stretch.h"
#include "raster/StretchInternals.h"
#include "raster/StretchVector.h"

namespace palvex {

namespace {

int32_t g_stripPixels = 0;
TKernelPassOrder g_passOrder = TKernelPassOrder::Cheaper;

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

// The largest ring of horizontally weighed rows the horizontal-first form
// keeps; a reduction so steep that it needs more goes vertical first.
constexpr uint64_t kMaxRingBytes = uint64_t(64) << 20;
// Source rows weighed across together, sharing each load of the weights.
constexpr size_t kRowsPerPass = 4;
// Output rows mixed together from the ring, strip by strip of columns.
constexpr int32_t kBatchRows = 4;
constexpr size_t kStripBytes = size_t(32) << 10;

// The vertical lists with repeated edge rows (always side by side) merged
// into one tap each.
struct TVerticalTaps {
    std::vector<int32_t> Start{0}; // output row j's taps are [Start[j], Start[j + 1])
    std::vector<int32_t> Row;
    std::vector<uint32_t> Weight;
    std::vector<int16_t> Weight16; // the same, for the 16-bit vertical passes
    std::vector<int32_t> Lo, Hi;   // per output row, its lowest and highest source row
    bool Sum256 = true;            // every list sums to 256
    bool Fit16 = true;             // every merged weight fits 16 bits

    TVerticalTaps(const TFlatLists& vertical, int32_t height)
    {
        for (int32_t j = 0; j < height; ++j) {
            int32_t lo = vertical.Index[vertical.Start[j]], hi = lo;
            int64_t total = 0;
            for (int32_t t = vertical.Start[j]; t < vertical.Start[j + 1]; ++t) {
                const int32_t y = vertical.Index[t];
                lo = std::min(lo, y);
                hi = std::max(hi, y);
                total += vertical.Weight[t];
                if (static_cast<int32_t>(Row.size()) > Start.back() && Row.back() == y) {
                    Weight.back() += static_cast<uint32_t>(vertical.Weight[t]);
                } else {
                    Row.push_back(y);
                    Weight.push_back(static_cast<uint32_t>(vertical.Weight[t]));
                }
            }
            Start.push_back(static_cast<int32_t>(Row.size()));
            Lo.push_back(lo);
            Hi.push_back(hi);
            Sum256 = Sum256 && total == 256;
        }
        for (const uint32_t w : Weight) {
            Fit16 = Fit16 && static_cast<int32_t>(w) >= -32768 && static_cast<int32_t>(w) <= 32767;
            Weight16.push_back(static_cast<int16_t>(static_cast<int32_t>(w)));
        }
    }

    // The lowest and highest source row of output rows [j0, j1).
    std::pair<int32_t, int32_t> RowsOf(int32_t j0, int32_t j1) const
    {
        int32_t lo = Lo[j0], hi = Hi[j0];
        for (int32_t j = j0; j < j1; ++j) {
            lo = std::min(lo, Lo[j]);
            hi = std::max(hi, Hi[j]);
        }
        return {lo, hi};
    }
};

// The horizontal-first form of the kernel path over one call's lists.
class THorizontalFirstKernel {
public:
    THorizontalFirstKernel(const TFlatLists& horizontal, const TFlatLists& vertical, int32_t width, int32_t height,
                           bool clamp)
        : m_horizontal(horizontal), m_taps(vertical, height), m_lowestRow(vertical.Lo), m_width(width),
          m_height(height), m_clamp(clamp)
    {
    }

    // False, with nothing read or written, when the weights or the ring do
    // not suit this form.
    bool Plan() { return PlanAcross() && PlanRing(); }
    void Run(TRowSource& source, TRowSink& sink);

private:
    bool PlanAcross();
    bool PlanRing();
    int32_t RingFor(int32_t batch) const;
    bool Fits(int32_t ring) const;
    size_t Slot(int32_t y) const { return static_cast<size_t>((y - m_lowestRow) % m_ring); }
    uint32_t* Ring32(int32_t y) { return m_store.data() + Slot(y) * m_stride32; }
    int16_t* Ring16(int32_t y) { return reinterpret_cast<int16_t*>(m_store.data()) + Slot(y) * m_stride16; }
    void CollectRows(int32_t j0, int32_t j1);
    void WeighAcross(TRowSource& source, const int32_t* rows, int32_t count);
    void MixBatch(int32_t j0, int32_t j1, TRowSink& sink);
    void MixRow(int32_t j, size_t first, TColor32* out, size_t at, int32_t count);

    const TFlatLists& m_horizontal;
    const TVerticalTaps m_taps;
    const int32_t m_lowestRow; // the ring's slots count from it
    const int32_t m_width, m_height;
    const bool m_clamp;

    // Weighing across: the byte form where the 512-bit forms run and every
    // weight fits a byte, else the 16-bit spread form.
    bool m_wide = false, m_bytes = false, m_narrow = false, m_split = false;
    TBytePlan m_bytePlan;
    THorizontalPlan m_spreadPlan;

    // The ring: 32-bit sums, or 16-bit ones (in one or two planes) in the same storage.
    int32_t m_batch = kBatchRows, m_ring = 1, m_strip = 0;
    size_t m_stride32 = 0, m_stride16 = 0, m_plane = 0;
    std::vector<uint32_t> m_store;
    std::vector<int32_t> m_held; // the source row each slot holds, -1 for none
    std::vector<int32_t> m_missing;

    // Rows being weighed across, and each tap's ring row for one batch.
    size_t m_preparedValues = 0;
    std::vector<int16_t> m_spread;
    std::vector<uint8_t> m_prepared;
    std::vector<const uint32_t*> m_base32, m_taps32;
    std::vector<const int16_t*> m_base16, m_taps16;
};

bool THorizontalFirstKernel::PlanAcross()
{
    const TFlatLists& h = m_horizontal;
    m_wide = WideVectorPathsEnabled();
    m_bytes = m_wide &&
              BuildBytePlan(h.Start.data(), h.Index.data(), h.Weight.data(), m_width, h.Lo, h.Hi, m_bytePlan);
    if (!m_bytes && !BuildHorizontalPlan(h.Start.data(), h.Index.data(), h.Weight.data(), m_width, h.Lo, h.Hi,
                                         m_spreadPlan))
        return false;
    m_narrow = (m_bytes ? m_bytePlan.Narrow : m_spreadPlan.Narrow) && m_taps.Sum256 && m_taps.Fit16;
    m_split = m_bytes && !m_narrow && m_taps.Fit16;
    return true;
}

int32_t THorizontalFirstKernel::RingFor(int32_t batch) const
{
    // The ring holds every source row of a batch of output rows at once.
    int32_t ring = 1;
    for (int32_t j0 = 0; j0 < m_height; j0 += batch) {
        const auto [lo, hi] = m_taps.RowsOf(j0, std::min(m_height, j0 + batch));
        ring = std::max(ring, hi - lo + 1);
    }
    return ring;
}

bool THorizontalFirstKernel::Fits(int32_t ring) const
{
    const size_t valueBytes = m_narrow ? sizeof(int16_t) : sizeof(uint32_t);
    return static_cast<uint64_t>(ring) * static_cast<uint64_t>(m_width) * 4 * valueBytes <= kMaxRingBytes;
}

bool THorizontalFirstKernel::PlanRing()
{
    m_ring = RingFor(m_batch);
    if (!Fits(m_ring)) {
        m_batch = 1;
        m_ring = RingFor(1);
        if (!Fits(m_ring))
            return false;
    }
    const size_t valueBytes = m_narrow ? sizeof(int16_t) : sizeof(uint32_t);
    // Columns per strip of the vertical pass: a batch's rows of one strip
    // stay in the first-level cache while each of its output rows reads them.
    m_strip = m_width;
    if (m_batch > 1) {
        m_strip = g_stripPixels > 0 ? g_stripPixels
                                    : static_cast<int32_t>(kStripBytes / (static_cast<size_t>(m_ring) * 4 * valueBytes));
        m_strip = std::min(m_width, std::max(8, m_strip & ~7));
    }
    // Room for the rows of the next batch weighed across early, so that
    // rows go through the horizontal pass in whole groups.
    if (Fits(m_ring + static_cast<int32_t>(kRowsPerPass) - 1))
        m_ring += static_cast<int32_t>(kRowsPerPass) - 1;

    // Rows and planes 64 bytes longer than their values: the vertical pass
    // reads dozens of them at the same column, which at a multiple of 4 KB
    // apart would share a few cache sets.
    const size_t rowValues = static_cast<size_t>(m_width) * 4;
    m_stride32 = rowValues + 16;
    m_plane = rowValues + 32;
    const size_t flagValues = (SplitFlagBytes(m_width) + 3) / 4 * 2;
    m_stride16 = m_split ? m_plane * 2 + flagValues : m_plane;
    m_bytePlan.Plane = m_plane;
    m_store.resize(static_cast<size_t>(m_ring) * std::max(m_stride32, m_stride16 / 2) + 1);
    m_held.assign(static_cast<size_t>(m_ring), -1);
    m_preparedValues = static_cast<size_t>(m_bytes ? m_bytePlan.RowPixels : m_spreadPlan.SpreadPixels) * 4;
    if (m_bytes)
        m_prepared.resize(m_preparedValues * kRowsPerPass);
    else
        m_spread.resize(m_preparedValues * kRowsPerPass);
    return true;
}

void THorizontalFirstKernel::Run(TRowSource& source, TRowSink& sink)
{
    const auto batches = static_cast<size_t>((m_height + m_batch - 1) / m_batch);
    const auto batchLo = [&](size_t b) {
        const auto j0 = static_cast<int32_t>(b) * m_batch;
        return m_taps.RowsOf(j0, std::min(m_height, j0 + m_batch)).first;
    };
    // A batch reads its own rows and, weighed early, rows of the next one:
    // all less than ring rows past its lowest.
    source.KeepRows(RowsKept(batches, batchLo, [&](size_t b) { return batchLo(b) + m_ring - 1; }));
    for (int32_t j0 = 0; j0 < m_height; j0 += m_batch) {
        const int32_t j1 = std::min(m_height, j0 + m_batch);
        CollectRows(j0, j1);
        for (size_t m = 0; m < m_missing.size(); m += kRowsPerPass)
            WeighAcross(source, m_missing.data() + m,
                        static_cast<int32_t>(std::min(m_missing.size() - m, kRowsPerPass)));
        MixBatch(j0, j1, sink);
        for (int32_t j = j0; j < j1; ++j)
            sink.Commit(j);
    }
}

// The source rows that output rows [j0, j1) need and the ring does not hold,
// then rows of the next batch up to a whole group of kRowsPerPass, in slots
// that none of this batch's rows holds. Their slots are taken.
void THorizontalFirstKernel::CollectRows(int32_t j0, int32_t j1)
{
    m_missing.clear();
    const auto take = [&](int32_t y) {
        const size_t slot = Slot(y);
        if (m_held[slot] == y)
            return;
        m_held[slot] = y;
        m_missing.push_back(y);
    };
    for (int32_t t = m_taps.Start[j0]; t < m_taps.Start[j1]; ++t)
        take(m_taps.Row[t]);
    const auto [lo, hi] = m_taps.RowsOf(j0, j1);
    const int32_t j2 = std::min(m_height, j1 + m_batch);
    for (int32_t t = m_taps.Start[j1]; t < m_taps.Start[j2] && m_missing.size() % kRowsPerPass != 0; ++t) {
        const int32_t y = m_taps.Row[t];
        if (y > hi && y - lo < m_ring)
            take(y);
    }
}

// Weighs count (at most kRowsPerPass) source rows across into their ring rows.
void THorizontalFirstKernel::WeighAcross(TRowSource& source, const int32_t* rows, int32_t count)
{
    const int16_t* spread[kRowsPerPass];
    const uint8_t* prepared[kRowsPerPass];
    uint32_t* sums32[kRowsPerPass];
    int16_t* sums16[kRowsPerPass];
    const int32_t lo = m_horizontal.Lo;
    for (int32_t r = 0; r < count; ++r) {
        const int32_t y = rows[r];
        const int32_t ahead = y + count;
        const TColor32* row = source.Row(y) + lo;
        const TColor32* next = ahead < source.Height() ? source.RowIfReady(ahead) : nullptr;
        if (next)
            next += lo;
        if (m_bytes) {
            uint8_t* into = m_prepared.data() + static_cast<size_t>(r) * m_preparedValues;
            PrepareRowBytes(into, row, next, m_bytePlan);
            prepared[r] = into;
        } else {
            int16_t* into = m_spread.data() + static_cast<size_t>(r) * m_preparedValues;
            SpreadRow(into, row, next, m_spreadPlan);
            spread[r] = into;
        }
        sums32[r] = Ring32(y);
        sums16[r] = Ring16(y);
    }
    if (m_split)
        HorizontalPassBytesSplit(sums16, prepared, count, m_bytePlan);
    else if (m_bytes && m_narrow)
        HorizontalPassBytesNarrow(sums16, prepared, count, m_bytePlan);
    else if (m_bytes)
        HorizontalPassBytes(sums32, prepared, count, m_bytePlan);
    else if (m_narrow)
        HorizontalPassSpreadNarrow(sums16, spread, count, m_spreadPlan);
    else
        HorizontalPassSpread(sums32, spread, count, m_spreadPlan);
}

// Output rows [j0, j1) from the ring, strip by strip of columns.
void THorizontalFirstKernel::MixBatch(int32_t j0, int32_t j1, TRowSink& sink)
{
    // Where each tap of the batch starts in the ring.
    m_base16.clear();
    m_base32.clear();
    for (int32_t t = m_taps.Start[j0]; t < m_taps.Start[j1]; ++t) {
        m_base16.push_back(Ring16(m_taps.Row[t]));
        m_base32.push_back(Ring32(m_taps.Row[t]));
    }
    for (int32_t x0 = 0; x0 < m_width; x0 += m_strip) {
        const int32_t count = std::min(m_strip, m_width - x0);
        for (int32_t j = j0; j < j1; ++j)
            MixRow(j, static_cast<size_t>(m_taps.Start[j] - m_taps.Start[j0]), sink.Row(j) + x0,
                   static_cast<size_t>(x0) * 4, count);
    }
}

// count pixels of output row j from ring values at on; its taps are the
// batch's from first on.
void THorizontalFirstKernel::MixRow(int32_t j, size_t first, TColor32* out, size_t at, int32_t count)
{
    const int32_t taps = m_taps.Start[j + 1] - m_taps.Start[j];
    if (m_narrow || m_split) {
        const int16_t* weights = m_taps.Weight16.data() + m_taps.Start[j];
        const int16_t* const* rows = m_base16.data() + first;
        if (m_split) {
            VerticalPassSplitWide(out, rows, at, m_plane, weights, taps, count, m_clamp);
        } else if (m_wide) {
            VerticalPassNarrowWide(out, rows, at, weights, taps, count, m_clamp);
        } else {
            m_taps16.clear();
            for (int32_t t = 0; t < taps; ++t)
                m_taps16.push_back(rows[t] + at);
            VerticalPassNarrow(out, m_taps16.data(), weights, taps, count, m_clamp);
        }
        return;
    }
    m_taps32.clear();
    for (int32_t t = 0; t < taps; ++t)
        m_taps32.push_back(m_base32[first + static_cast<size_t>(t)] + at);
    const uint32_t* weights = m_taps.Weight.data() + m_taps.Start[j];
    if (m_wide)
        VerticalPassSumsWide(out, m_taps32.data(), weights, taps, count, m_clamp);
    else
        VerticalPassSums(out, m_taps32.data(), weights, taps, count, m_clamp);
}

// Taps times values of each order's two passes, weighted by their speed.
// Weighing across first works on every source row the vertical lists reach,
// at the output width; vertical first works on every output row, at the
// source span's width.
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

// The plain loops' horizontal pass over one row buffer of the span's sums.
void HorizontalPassPlain(TColor32* out, const uint32_t* buffer, const TFlatLists& horizontal, int32_t count,
                         bool clamp)
{
    for (int32_t i = 0; i < count; ++i) {
        uint32_t s[4] = {0, 0, 0, 0};
        for (int32_t t = horizontal.Start[i]; t < horizontal.Start[i + 1]; ++t) {
            const auto w = static_cast<uint32_t>(horizontal.Weight[t]);
            const uint32_t* b = buffer + static_cast<size_t>(horizontal.Index[t] - horizontal.Lo) * 4;
            for (int c = 0; c < 4; ++c)
                s[c] += w * b[c];
        }
        out[i] = SumsToPixel(s, clamp);
    }
}

// The vertical-first form: for each output row the source rows of its
// vertical list summed into a buffer over the span, then weighed across.
void StretchKernelVerticalFirst(const TFlatLists& horizontal, const TFlatLists& vertical, TRowSource& source,
                                int32_t width, int32_t height, bool clamp, TRowSink& sink)
{
    const bool vector =
        VectorPathsEnabled() && VectorWeightsFit(vertical.Weight) && VectorWeightsFit(horizontal.Weight);
    const size_t span = static_cast<size_t>(horizontal.Hi - horizontal.Lo + 1);
    const auto listRows = [&](size_t j, bool top) {
        const auto from = vertical.Index.begin() + vertical.Start[j];
        const auto to = vertical.Index.begin() + vertical.Start[j + 1];
        return top ? *std::max_element(from, to) : *std::min_element(from, to);
    };
    source.KeepRows(RowsKept(static_cast<size_t>(height), [&](size_t j) { return listRows(j, false); },
                             [&](size_t j) { return listRows(j, true); }));
    // Sums wrap modulo 2^32 as the signed 32-bit sums do, without overflow traps.
    std::vector<uint32_t> buffer(span * 4 + 8);
    std::vector<const uint8_t*> taps;
    for (int32_t j = 0; j < height; ++j) {
        const int32_t first = vertical.Start[j];
        const int32_t count = vertical.Start[j + 1] - first;
        taps.resize(static_cast<size_t>(count));
        for (int32_t t = 0; t < count; ++t)
            taps[t] = reinterpret_cast<const uint8_t*>(source.Row(vertical.Index[first + t]) + horizontal.Lo);
        const int32_t* weights = vertical.Weight.data() + first;
        TColor32* out = sink.Row(j);
        if (vector) {
            VerticalPassVector(buffer.data(), taps.data(), weights, count, span);
            HorizontalPassVector(out, buffer.data(), horizontal.Start.data(), horizontal.Index.data(),
                                 horizontal.Weight.data(), horizontal.Lo, width, clamp);
        } else {
            std::fill(buffer.begin(), buffer.end(), 0u);
            for (int32_t t = 0; t < count; ++t) {
                const auto w = static_cast<uint32_t>(weights[t]);
                for (size_t k = 0; k < span * 4; ++k)
                    buffer[k] += w * taps[t][k];
            }
            HorizontalPassPlain(out, buffer.data(), horizontal, width, clamp);
        }
        sink.Commit(j);
    }
}

} // namespace

void SetKernelStripPixels(int32_t pixels) { g_stripPixels = pixels; }

TKernelPassOrder KernelPassOrder() { return g_passOrder; }

void SetKernelPassOrder(TKernelPassOrder order) { g_passOrder = order; }

void StretchKernel(TBitmap32& destination, const TRect& destRect, const TRect& clipRect, TRowSource& source,
                   uint32_t masterAlpha, const TRect& sourceRect, TStretchFilter filter, TDrawMode combineMode,
                   const TPixelCombineEvent& pixelEvent)
{
    std::vector<TContributionList> across, down;
    BuildContributionsXY(destRect, clipRect, sourceRect, filter, across, down);
    const TFlatLists horizontal = Flatten(across);
    const TFlatLists vertical = Flatten(down);
    const bool clamp = filter == sfLanczos || filter == sfMitchell;
    const size_t span = static_cast<size_t>(horizontal.Hi - horizontal.Lo + 1);
    const int32_t width = clipRect.Width();
    const int32_t height = clipRect.Height();
    TRowSink sink(destination, clipRect, combineMode, masterAlpha, pixelEvent, false, kBatchRows);
    if (VectorPathsEnabled() && HorizontalFirstIsCheaper(horizontal, vertical, span, width, height)) {
        THorizontalFirstKernel kernel(horizontal, vertical, width, height, clamp);
        if (kernel.Plan()) {
            kernel.Run(source, sink);
            return;
        }
    }
    StretchKernelVerticalFirst(horizontal, vertical, source, width, height, clamp, sink);
}

} // namespace palvex
