// Chooses the instruction set of the eight-lane kernels once per run.
#include <cstdlib>
#include <cstring>

#include "volume/lanes.h"

namespace {

isa best_supported()
{
#if defined(__x86_64__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512vl"))
        return isa::avx512;
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return isa::avx2;
#endif
    return isa::plain;
}

// CRANE_SIMD may ask for a lesser set, never for one the processor lacks.
isa chosen()
{
    const isa best = best_supported();
    const char* asked = std::getenv("CRANE_SIMD");
    if (!asked) return best;
    isa wanted = best;
    if (std::strcmp(asked, "plain") == 0) wanted = isa::plain;
    if (std::strcmp(asked, "avx2") == 0) wanted = isa::avx2;
    return wanted < best ? wanted : best;
}

}  // namespace

isa lane_isa()
{
    static const isa choice = chosen();
    return choice;
}
