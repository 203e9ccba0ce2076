// The row kernels of the ray renderers, compiled once per instruction set.
#include <cstdint>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "render/rays.h"
#include "render/render.h"
#include "volume/lanes.h"

#define LANE_KERNELS "render/ray_lanes.inc"
#include "volume/each_lane_set.inc"
#undef LANE_KERNELS
