// The row kernels of the ray renderers, compiled once per instruction set.
#include <cstdint>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "render/rays.h"
#include "render/render.h"
#include "volume/lanes.h"

#if defined(__x86_64__)
// clang has no GCC target pragmas; its attribute pragma does the same.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f,avx512dq,avx512bw,avx512vl"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx512f,avx512dq,avx512bw,avx512vl")
#endif
namespace lanes_avx512 {
#define LANES 8
#include "render/ray_lanes.inc"
#undef LANES
}  // namespace lanes_avx512
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2,fma"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2,fma")
#endif
namespace lanes_avx2 {
#define LANES 4
#include "render/ray_lanes.inc"
#undef LANES
}  // namespace lanes_avx2
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
#endif

namespace lanes_plain {
#define LANES 2
#include "render/ray_lanes.inc"
#undef LANES
}  // namespace lanes_plain
