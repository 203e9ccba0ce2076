// Pieces shared by the plain rotation (rotated_voxel), its vector kernels
// (rotation_lanes.inc) and the bounds of the turned volume, which must
// agree exactly.
#pragma once

#include <algorithm>

#include "volume/lanes.h"
#include "volume/rotation.h"
#include "volume/volume_runs.h"
#include "volume/voxel_store.h"

inline double source(int x, int y, int z) { return volume_source[voxel_index(x, y, z)]; }

// Upper bounds are strict so that the eight corners stay inside the extents;
// a NaN fails the first test.
inline bool inside(float sx, float sy, float sz)
{
    return sx >= 0 && sx < float(dim_x - 1) && sy >= 0 && sy < float(dim_y - 1) && sz >= 0 && sz < float(dim_z - 1);
}

// Trilinear sample of volume_source at an inside point, with the blends along
// x, then y, then z each computed in double and rounded to float.
inline int resample(float sx, float sy, float sz)
{
    const int ix = int(sx), iy = int(sy), iz = int(sz);
    const float tx = sx - float(ix), ty = sy - float(iy), tz = sz - float(iz);
    const double wx = 1.0 - tx, wy = 1.0 - ty, wz = 1.0 - tz;

    const float lx00 = float(wx * source(ix, iy, iz) + source(ix + 1, iy, iz) * tx);
    const float lx10 = float(wx * source(ix, iy + 1, iz) + source(ix + 1, iy + 1, iz) * tx);
    const float lx01 = float(wx * source(ix, iy, iz + 1) + source(ix + 1, iy, iz + 1) * tx);
    const float lx11 = float(wx * source(ix, iy + 1, iz + 1) + source(ix + 1, iy + 1, iz + 1) * tx);
    const float ly0 = float(wy * lx00 + double(ty) * lx10);
    const float ly1 = float(wy * lx01 + double(ty) * lx11);
    const float lz = float(wz * ly0 + double(tz) * ly1);
    return int(lz);
}

// The terms of the source point that depend on the layer k alone, computed
// once per turn.
struct layer_terms {
    double w_sb[volume_side];    // w * sb
    double w_sacb[volume_side];  // (sa * cb) * w
    double w_cacb[volume_side];  // (ca * cb) * w
};

// The source x depends on the column x and the layer alone: per turn, for
// every x and layer, the integer part of the source x and its fraction,
// each as rotated_voxel computes it; -1 and 0 where the source x is outside
// the extents.
struct source_x_cells {
    int index[volume_side][volume_side];
    float fraction[volume_side][volume_side];
};

// The turn volume stands for: the source as loaded (copied run by run), or
// resampled by a rotation.
struct volume_turn_state {
    bool as_loaded = true;
    rotation r{};
    float truncation_margin = -1;  // see float_blend_margin
    layer_terms terms{};
    source_x_cells x_cells{};
};
extern volume_turn_state volume_turn;

// The vector kernels may blend along y and z in float, with fused
// multiply-adds, where rotated_voxel blends in double. With every sample
// between 0 and M, the float result then lies within 6.02 u M of
// rotated_voxel's float (u = 2^-24, the unit roundoff of float):
//  - the blends along x are the same floats (rotation_lanes.inc);
//  - each blend in float, a + t fl(b - a) rounded once, is within 2 u M of
//    the exact blend of its inputs, and each in double, rounded to double
//    and then to float, within 1.01 u M;
//  - along y both ways start from the same values, so they end at most
//    3.01 u M apart; along z that difference carries over (the weights sum
//    to 1), to which the two roundings add 2 u M and 1.01 u M.
// So where the float result lies farther than 8 u M from every whole
// number of at least 1, both truncate to the same integer (and below 1,
// where rotated_voxel's value is not negative, both truncate to 0). This
// margin, or a negative one where some sample is negative and the kernels
// blend in double throughout.
inline float float_blend_margin(int low, int high)
{
    return low < 0 ? -1.0f : float(8.0 * 0x1p-24 * std::max(high, 1));
}

// The kernel, one copy per instruction set: the layers k0 <= k < k1 of the
// volume column (i, j), k0 the first layer of a run.
#define rotation_kernels void resample_layers(const volume_turn_state& turn, int i, int j, int k0, int k1);
declare_lane_kernels(rotation_kernels)
#undef rotation_kernels
