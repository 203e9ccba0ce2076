// Chooses the instruction set of the vector kernels once per run.
#include "volume/lanes.h"

#include <cstdlib>
#include <cstring>

const char* isa_name(isa set)
{
    switch (set) {
    case isa::avx512: return "avx512";
    case isa::avx2: return "avx2";
    case isa::sse2: return "sse2";
    }
    return "?";
}

bool parse_isa(const char* name, isa& set)
{
    if (std::strcmp(name, "sse2") == 0 || std::strcmp(name, "plain") == 0) {
        set = isa::sse2;
    } else if (std::strcmp(name, "avx2") == 0) {
        set = isa::avx2;
    } else if (std::strcmp(name, "avx512") == 0) {
        set = isa::avx512;
    } else {
        return false;
    }
    return true;
}

isa best_isa()
{
#if defined(__x86_64__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512vl"))
        return isa::avx512;
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return isa::avx2;
#endif
    return isa::sse2;
}

namespace {

isa chosen()
{
    const isa best = best_isa();
    const char* asked = std::getenv("CRANE_SIMD");
    isa wanted = best;
    if (!asked || !parse_isa(asked, wanted)) return best;
    return wanted < best ? wanted : best;
}

}  // namespace

isa lane_isa()
{
    static const isa choice = chosen();
    return choice;
}
