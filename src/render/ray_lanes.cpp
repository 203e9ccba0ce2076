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
#pragma GCC push_options
#pragma GCC target("avx512f,avx512dq,avx512bw,avx512vl")
namespace lanes_avx512 {
#define LANES 8
#include "render/ray_lanes.inc"
#undef LANES
}  // namespace lanes_avx512
#pragma GCC pop_options

#pragma GCC push_options
#pragma GCC target("avx2,fma")
namespace lanes_avx2 {
#define LANES 4
#include "render/ray_lanes.inc"
#undef LANES
}  // namespace lanes_avx2
#pragma GCC pop_options
#endif

namespace lanes_plain {
#define LANES 2
#include "render/ray_lanes.inc"
#undef LANES
}  // namespace lanes_plain
