// The processor's answer, asked once.
#include "platform/CpuFeatures.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace palvex {

namespace {

TCPUFeatures Probe()
{
    TCPUFeatures features;
#if defined(__x86_64__) || defined(__i386__)
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx))
        features.MMX = (edx & (1u << 23)) != 0;
    // AMD's extended MMX, with the prefetch instructions.
    if (__get_cpuid(0x80000001u, &eax, &ebx, &ecx, &edx))
        features.ExtendedMMX = features.MMX && (edx & (1u << 22)) != 0;
    // The compiler's probe also asks whether the system saves the wide registers.
    __builtin_cpu_init();
    features.AVX2 = __builtin_cpu_supports("avx2");
    features.AVX512VNNI = features.AVX2 && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                          __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vnni");
#else
    // Same formulas as an x86 processor with MMX, so results match everywhere.
    features.MMX = true;
#endif
    return features;
}

} // namespace

const TCPUFeatures& CPUFeatures()
{
    static const TCPUFeatures features = Probe();
    return features;
}

} // namespace palvex
