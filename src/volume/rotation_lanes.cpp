// The rotation kernel, compiled once per instruction set.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <utility>

#include "volume/brick_bounds.h"
#include "volume/rotation_kernels.h"

#define LANE_KERNELS "volume/rotation_lanes.inc"
#include "volume/each_lane_set.inc"
#undef LANE_KERNELS
