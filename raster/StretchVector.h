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

} // namespace palvex
