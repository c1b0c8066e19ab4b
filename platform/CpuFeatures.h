// The processor's features that choose pixel-routine variants, asked once.
#pragma once

namespace palvex {

struct TCPUFeatures {
    bool MMX = false;
    bool ExtendedMMX = false;
};

// CPUID on x86; elsewhere the x86-with-MMX answer, so results match everywhere.
const TCPUFeatures& CPUFeatures();

} // namespace palvex
