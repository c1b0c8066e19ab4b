// The weight layouts of the horizontal-first kernel forms, built once per
// call from the horizontal contribution lists: plain C++, so that the SIMD
// passes of StretchVector.cpp only read them.
#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

#include "raster/StretchVector.h"

namespace palvex {

namespace {

// The lowest and highest source index of list [from, to).
std::pair<int32_t, int32_t> ListExtent(const int32_t* index, int32_t from, int32_t to)
{
    int32_t lo = index[from], hi = lo;
    for (int32_t t = from; t < to; ++t) {
        lo = std::min(lo, index[t]);
        hi = std::max(hi, index[t]);
    }
    return {lo, hi};
}

// List [from, to)'s weights merged per source column into dense, whose first
// entry is source column base (repeated edge indices become one weight).
// True when the merged weights are all at least 0 and sum to 256: every sum
// of the column then fits 16 bits.
bool MergeWeights(const int32_t* index, const int32_t* weight, int32_t from, int32_t to, int32_t base,
                  std::vector<int64_t>& dense)
{
    int64_t total = 0;
    for (int32_t t = from; t < to; ++t) {
        dense[static_cast<size_t>(index[t] - base)] += weight[t];
        total += weight[t];
    }
    return total == 256 && std::none_of(dense.begin(), dense.end(), [](int64_t w) { return w < 0; });
}

// Splits total into signed-byte pieces, at most maxPieces of them.
bool SplitIntoBytes(int64_t total, int32_t maxPieces, std::vector<int32_t>& pieces)
{
    pieces.clear();
    do {
        const int64_t piece = std::clamp<int64_t>(total, -128, 127);
        pieces.push_back(static_cast<int32_t>(piece));
        total -= piece;
    } while (total != 0);
    return static_cast<int32_t>(pieces.size()) <= maxPieces;
}

// One output column's byte weights over positions of the prepared row.
class TByteWindow {
public:
    // Weights over source columns [lo, hi] of a span of width columns (counted from
    // its start), placed at prepared positions lo - kPad .. hi + kPad. An edge
    // pixel's weight that does not fit a byte is spread over its copies; false
    // when that is not enough or a weight inside does not fit.
    bool Place(const std::vector<int64_t>& dense, int32_t lo, int32_t hi, int32_t width)
    {
        constexpr int32_t pad = TBytePlan::kPad;
        m_base = lo;
        m_values.assign(static_cast<size_t>(hi - lo + 1 + 2 * pad), 0);
        for (int32_t x = lo; x <= hi; ++x) {
            const int64_t w = dense[static_cast<size_t>(x - lo)];
            const size_t at = static_cast<size_t>(x - lo + pad);
            if (w >= -128 && w <= 127) {
                m_values[at] += static_cast<int32_t>(w);
                continue;
            }
            // Only an edge pixel has copies to share its weight with.
            if ((x != 0 && x != width - 1) || !SplitIntoBytes(w, pad + 1, m_pieces))
                return false;
            for (size_t k = 0; k < m_pieces.size(); ++k)
                m_values[x == 0 ? at - k : at + k] = m_pieces[k];
        }
        m_first = 0;
        m_last = static_cast<int32_t>(m_values.size()) - 1;
        while (m_first < m_last && m_values[static_cast<size_t>(m_first)] == 0)
            ++m_first;
        while (m_last > m_first && m_values[static_cast<size_t>(m_last)] == 0)
            --m_last;
        return true;
    }

    // The prepared position of the first weight, rounded down to a group of four.
    int32_t Start() const { return (m_base + m_first) & ~3; }
    // Positions from Start() to the last weight that is not 0.
    int32_t Length() const { return m_base + m_last - Start() + 1; }

    // The weights from Start() on, Length() of them, appended to out.
    void AppendTo(std::vector<int32_t>& out) const
    {
        for (int32_t p = Start(); p <= m_base + m_last; ++p) {
            const int32_t k = p - m_base;
            out.push_back(k >= m_first ? m_values[static_cast<size_t>(k)] : 0);
        }
    }

private:
    int32_t m_base = 0; // prepared position of m_values[0]
    int32_t m_first = 0, m_last = 0;
    std::vector<int32_t> m_values;
    std::vector<int32_t> m_pieces;
};

} // namespace

bool BuildHorizontalPlan(const int32_t* start, const int32_t* index, const int32_t* weight, int32_t count,
                         int32_t spanLo, int32_t spanHi, THorizontalPlan& plan)
{
    plan.SpanLo = spanLo;
    plan.SpanWidth = spanHi - spanLo + 1;
    plan.WindowStart.resize(static_cast<size_t>(count));
    // One window length for all columns keeps the inner loop free of
    // unpredictable branches; the extra taps weigh 0.
    int32_t groups = 1;
    for (int32_t i = 0; i < count; ++i) {
        const auto [lo, hi] = ListExtent(index, start[i], start[i + 1]);
        plan.WindowStart[i] = (lo - spanLo) & ~1;
        groups = std::max(groups, (hi - spanLo - plan.WindowStart[i] + 1 + 3) / 4);
    }
    plan.Groups = groups;
    plan.SpreadPixels = 0;
    for (int32_t i = 0; i < count; ++i)
        plan.SpreadPixels = std::max(plan.SpreadPixels, plan.WindowStart[i] + groups * 4);
    plan.Weights.assign(static_cast<size_t>(count) * static_cast<size_t>(groups) * 16, 0);
    plan.Narrow = true;
    std::vector<int64_t> dense;
    for (int32_t i = 0; i < count; ++i) {
        dense.assign(static_cast<size_t>(groups) * 4, 0);
        if (!MergeWeights(index, weight, start[i], start[i + 1], spanLo + plan.WindowStart[i], dense))
            plan.Narrow = false;
        // Each pair of neighbouring weights repeated for the four channels.
        int16_t* out = plan.Weights.data() + static_cast<size_t>(i) * static_cast<size_t>(groups) * 16;
        for (size_t k = 0; k < dense.size(); k += 2) {
            if (dense[k] < -32768 || dense[k] > 32767 || dense[k + 1] < -32768 || dense[k + 1] > 32767)
                return false;
            for (int r = 0; r < 4; ++r) {
                *out++ = static_cast<int16_t>(dense[k]);
                *out++ = static_cast<int16_t>(dense[k + 1]);
            }
        }
    }
    return true;
}

bool BuildBytePlan(const int32_t* start, const int32_t* index, const int32_t* weight, int32_t count, int32_t spanLo,
                   int32_t spanHi, TBytePlan& plan)
{
    plan.SpanLo = spanLo;
    plan.SpanWidth = spanHi - spanLo + 1;
    plan.WindowStart.resize(static_cast<size_t>(count));
    plan.Narrow = true;
    // Each column's weights from its window's start, one after the other.
    std::vector<int32_t> offset(static_cast<size_t>(count) + 1, 0), values;
    std::vector<int64_t> dense;
    TByteWindow window;
    int32_t steps = 1, longest = 0;
    for (int32_t i = 0; i < count; ++i) {
        const auto [lo, hi] = ListExtent(index, start[i], start[i + 1]);
        dense.assign(static_cast<size_t>(hi - lo + 1), 0);
        if (!MergeWeights(index, weight, start[i], start[i + 1], lo, dense))
            plan.Narrow = false;
        if (!window.Place(dense, lo - spanLo, hi - spanLo, plan.SpanWidth))
            return false;
        plan.WindowStart[i] = window.Start();
        window.AppendTo(values);
        offset[static_cast<size_t>(i) + 1] = static_cast<int32_t>(values.size());
        steps = std::max(steps, (window.Length() + 15) / 16);
        longest = std::max(longest, window.Length());
    }
    plan.Steps = steps;
    plan.ShortLast = steps == 2 && longest <= 24;
    plan.RowPixels = plan.SpanWidth + 2 * TBytePlan::kPad;
    for (int32_t i = 0; i < count; ++i)
        plan.RowPixels = std::max(plan.RowPixels, plan.WindowStart[i] + steps * 16);
    // Whole groups of four pixels.
    plan.RowPixels = (plan.RowPixels + 3) & ~3;
    plan.Weights.assign(static_cast<size_t>(count) * static_cast<size_t>(steps) * 16, 0);
    for (int32_t i = 0; i < count; ++i)
        std::copy(values.begin() + offset[i], values.begin() + offset[i + 1],
                  plan.Weights.begin() + static_cast<ptrdiff_t>(i) * steps * 16);
    return true;
}

} // namespace palvex
