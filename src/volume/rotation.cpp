// Turns the volume by resampling volume_source into volume.
#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "volume/lanes.h"
#include "volume/volume.h"

namespace {

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

// The terms of the source point that depend on the layer k alone.
struct layer_terms {
    double w_sb[volume_side];    // w * sb
    double w_sacb[volume_side];  // (sa * cb) * w
    double w_cacb[volume_side];  // (ca * cb) * w
};

}  // namespace

rotation rotation_for(float angle_a, float angle_b)
{
    // The centre is the integer half of each extent, not the middle index.
    return {float(std::cos(double(angle_a))),
            float(std::sin(double(angle_a))),
            float(std::cos(double(angle_b))),
            float(std::sin(double(angle_b))),
            float(dim_x / 2),
            float(dim_y / 2),
            float(dim_z / 2)};
}

int rotated_voxel(const rotation& r, int i, int j, int k)
{
    // The source point: every operation in double, in this grouping, and
    // only the sums rounded to float.
    const double ca = r.ca, sa = r.sa, cb = r.cb, sb = r.sb;
    const double u = double(i) - r.cx, v = double(j) - r.cy, w = double(k) - r.cz;
    const float sx = float(((u * cb) - (w * sb)) + r.cx);
    const float sy = float(((((-sa) * sb) * u + v * ca) - (sa * cb) * w) + r.cy);
    const float sz = float((((ca * sb) * u + v * sa) + (ca * cb) * w) + r.cz);
    return inside(sx, sy, sz) ? resample(sx, sy, sz) : 0;
}

#define LANE_KERNELS "volume/rotation_lanes.inc"
#include "volume/each_lane_set.inc"
#undef LANE_KERNELS

void rotate_volume(float angle_a, float angle_b)
{
    const rotation r = rotation_for(angle_a, angle_b);
    layer_terms t;
    const double sb = r.sb, sacb = double(r.sa) * r.cb, cacb = double(r.ca) * r.cb;
    for (int k = 0; k < dim_z; ++k) {
        const double w = double(k) - r.cz;
        t.w_sb[k] = w * sb;
        t.w_sacb[k] = sacb * w;
        t.w_cacb[k] = cacb * w;
    }
    // Every voxel is independent. The work goes out in runs of layers, so
    // that the part of the source that a run of neighbouring columns reads
    // stays in cache from one column to the next.
    constexpr int run = 32;
    const int runs = (dim_z + run - 1) / run;
#pragma omp parallel for collapse(2) schedule(dynamic, 16)
    for (int kr = 0; kr < runs; ++kr)
        for (int i = 0; i < dim_x; ++i) {
            const int k0 = kr * run, k1 = std::min(k0 + run, dim_z);
            for (int j = 0; j < dim_y; ++j) dispatch_lanes(rotate_run(r, t, i, j, k0, k1));
        }
}
