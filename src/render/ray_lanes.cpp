// The row kernels of the ray renderers, compiled once per instruction set.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "render/rays.h"

#define LANE_KERNELS "render/ray_lanes.inc"
#include "volume/each_lane_set.inc"
#undef LANE_KERNELS
