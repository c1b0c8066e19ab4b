// The processor's features that choose pixel-routine variants, asked once.
// The only place that asks the processor: every SIMD dispatch reads these.
#pragma once

namespace palvex {

struct TCPUFeatures {
    bool MMX = false;
    bool ExtendedMMX = false;
    // AVX2, with the system saving its registers.
    bool AVX2 = false;
    // AVX-512 F, BW, VL and VNNI together: the byte dot products of the
    // resampler's 512-bit forms.
    bool AVX512VNNI = false;
};

// CPUID on x86; elsewhere the x86-with-MMX answer, so results match everywhere.
const TCPUFeatures& CPUFeatures();

} // namespace palvex
