// SIMD forms of the resampler's inner loops. Each computes exactly what the
// plain loop beside its caller computes: integer sums modulo 2^32.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "raster/Color32.h"

namespace palvex {

// True when the processor runs the SIMD forms (AVX2 on x86).
bool VectorKernelAvailable();

// The vertical pass multiplies in 16 bits: every weight must fit.
bool VectorWeightsFit(const std::vector<int32_t>& weights);

// buffer[k] := sum over t of weights[t] * taps[t][k], for k < span * 4.
void VerticalPassVector(uint32_t* buffer, const uint8_t* const* taps, const int32_t* weights, int32_t count,
                        size_t span);

// Pixel i := the lists [start[i], start[i+1]) applied to buffer, converted to
// 8 bits per channel (clamped or not).
void HorizontalPassVector(TColor32* out, const uint32_t* buffer, const int32_t* start, const int32_t* index,
                          const int32_t* weight, int32_t xLo, int32_t count, bool clamp);

// sums[k] += bytes[k], for k < n.
void AddRowBytes(uint32_t* sums, const uint8_t* bytes, size_t n);

// sums[k] := the sum over r < rowCount of rows[r][k], for k < n; at most 257
// rows, so that 255 * rows fits in 16 bits. The nextCount rows next (those
// of the following block row) are fetched into the cache meanwhile.
void ColumnSums16(uint16_t* sums, const uint8_t* const* rows, int32_t rowCount, size_t n, const uint8_t* const* next,
                  int32_t nextCount);

// out[k] := the average of the block of columns [starts[k], ends[k]) (pixel
// offsets into sums) and height rows, as AverageOfSums gives it. sums must be
// readable (any values) 8 columns past the last block.
void BlockAverages16(TColor32* out, const uint16_t* sums, const int32_t* starts, const int32_t* ends, int32_t count,
                     uint32_t height);

// The horizontal-first form of the kernel path: each source row is weighted
// across once into 32-bit sums per output column, then output rows are mixed
// from those. Sums are taken modulo 2^32 in both orders, so the result is the
// same as the vertical-first plain loops.
//
// A source row is first spread to 16-bit lanes in pairs of neighbouring
// pixels (B0 B1 G0 G1 R0 R1 A0 A1, B2 B3 ...), so that one multiply-add gives
// two taps of all four channels. Each output column reads a window of whole
// four-pixel groups starting at an even pixel, with its weights laid out the
// same way (repeated indices at the edges merged into one weight).
struct THorizontalPlan {
    int32_t SpanLo = 0;        // the first source column of the span
    int32_t SpanWidth = 0;     // source columns spread per row
    int32_t SpreadPixels = 0;  // pixels of the spread row, windows included
    int32_t Groups = 0;        // four-pixel groups per window, the same for every column
    std::vector<int32_t> WindowStart; // per output column, pixel offset in the span (even)
    std::vector<int16_t> Weights;     // per column Groups x 16: (w0 w1) x 4, (w2 w3) x 4
    // Every weight at least 0 and every list summing to 256: each sum then
    // lies in 0..255 * 256 and is kept as a 16-bit value less 32768.
    bool Narrow = false;
};

// False when a merged weight does not fit in 16 bits.
bool BuildHorizontalPlan(const int32_t* start, const int32_t* index, const int32_t* weight, int32_t count,
                         int32_t spanLo, int32_t spanHi, THorizontalPlan& plan);

// Spreads plan.SpanWidth pixels of row into spread (plan.SpreadPixels * 4
// values; the ones past the span are zero). next, when not null, is the row
// likely spread after this one; it is fetched into the cache meanwhile.
void SpreadRow(int16_t* spread, const TColor32* row, const TColor32* next, const THorizontalPlan& plan);

// sums[i * 4 + c] := channel c of output column i, for each of rows rows
// (spread[r] into sums[r]).
void HorizontalPassSpread(uint32_t* const* sums, const int16_t* const* spread, int32_t rows,
                          const THorizontalPlan& plan);

// The same as 16-bit values less 32768; only for a Narrow plan.
void HorizontalPassSpreadNarrow(int16_t* const* sums, const int16_t* const* spread, int32_t rows,
                            const THorizontalPlan& plan);

// VerticalPassSums over rows of HorizontalPassSpreadNarrow, whose weights (16-bit
// each) sum to 256, so that the 32768 taken off each value adds 2^23.
void VerticalPassNarrow(TColor32* out, const int16_t* const* rows, const int16_t* weights, int32_t taps,
                        int32_t count, bool clamp);

// out[i] := the 8-bit conversion of sum over t of weights[t] * rows[t][i * 4 + c].
void VerticalPassSums(TColor32* out, const uint32_t* const* rows, const uint32_t* weights, int32_t taps,
                      int32_t count, bool clamp);

// True when the processor also runs the 512-bit forms (AVX-512 with VNNI).
bool WideVectorKernelAvailable();

// The byte form of weighing across, for the 512-bit forms: a source row is
// kept as bytes, each aligned group of four pixels with its channels
// transposed (B0 B1 B2 B3 G0 .. A3), so that one byte dot product gives four
// taps of all four channels, sixteen taps per 512-bit step. Every weight must
// fit in a signed byte: true of steep reductions. The row is padded with
// copies of its edge pixels, over which a large weight of an edge pixel is
// spread.
struct TBytePlan {
    static constexpr int32_t kPad = 4; // edge copies before the span
    int32_t SpanLo = 0;
    int32_t SpanWidth = 0;
    int32_t RowPixels = 0;            // pixels of a prepared row, pads included
    int32_t Steps = 0;                // 16-pixel steps per window, the same for every column
    std::vector<int32_t> WindowStart; // per output column, pixel offset in the prepared row (multiple of 4)
    std::vector<int8_t> Weights;      // per column Steps x 16: the window's weights in pixel order
    bool Narrow = false;              // as THorizontalPlan::Narrow
    // Two steps, but no window longer than 24 pixels: the second steps of two
    // columns share one 512-bit step.
    bool ShortLast = false;
    size_t Plane = 0;                 // for HorizontalPassBytesSplit: values from one half to the other
};

// False when a weight does not fit in a signed byte.
bool BuildBytePlan(const int32_t* start, const int32_t* index, const int32_t* weight, int32_t count, int32_t spanLo,
                   int32_t spanHi, TBytePlan& plan);

// Prepares plan.SpanWidth pixels of row into prepared (plan.RowPixels * 4
// bytes); next as for SpreadRow.
void PrepareRowBytes(uint8_t* prepared, const TColor32* row, const TColor32* next, const TBytePlan& plan);

// As HorizontalPassSpread and HorizontalPassSpreadNarrow, from prepared rows.
void HorizontalPassBytes(uint32_t* const* sums, const uint8_t* const* prepared, int32_t rows, const TBytePlan& plan);
void HorizontalPassBytesNarrow(int16_t* const* sums, const uint8_t* const* prepared, int32_t rows,
                           const TBytePlan& plan);

// For plans that are not Narrow: the 32-bit sums split into two 16-bit
// values, the low half less 32768 at sums[r][k] and the high half at
// sums[r][plan.Plane + k]; then from sums[r] + 2 * plan.Plane on, one byte
// per group of four columns, 0 only when every high half of the group is 0
// (SplitFlagBytes of them).
void HorizontalPassBytesSplit(int16_t* const* sums, const uint8_t* const* prepared, int32_t rows,
                              const TBytePlan& plan);
inline size_t SplitFlagBytes(int32_t columns) { return static_cast<size_t>(columns + 3) / 4; }
// VerticalPassSums over split rows (low halves at rows[t] + at, high ones
// plane values on), two taps per multiply-add; at is a multiple of 16 (four
// columns). Where every flag of a block's groups is 0, its high halves are
// not read.
void VerticalPassSplitWide(TColor32* out, const int16_t* const* rows, size_t at, size_t plane,
                           const int16_t* weights, int32_t taps, int32_t count, bool clamp);

// The 512-bit forms of VerticalPassNarrow and VerticalPassSums.
// The 16-bit form reads rows[t] from value at on.
void VerticalPassNarrowWide(TColor32* out, const int16_t* const* rows, size_t at, const int16_t* weights,
                            int32_t taps, int32_t count, bool clamp);
void VerticalPassSumsWide(TColor32* out, const uint32_t* const* rows, const uint32_t* weights, int32_t taps,
                          int32_t count, bool clamp);

} // namespace palvex
