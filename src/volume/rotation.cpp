// Turns the volume by resampling volume_source into volume.
#include "volume/rotation.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

#include "volume/rotation_kernels.h"
#include "volume/voxel_store.h"

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
    volume_angle_a = angle_a;
    volume_angle_b = angle_b;
}

namespace {

// The same float, bit for bit (so that -0 and NaN are told apart too).
bool same_angle(float a, float b) { return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b); }

// volume = volume_source inside the extents; outside, both are 0 already
// (and stay untouched, so that their pages are never mapped).
void restore_loaded_volume()
{
    for (int x = 0; x < dim_x; ++x)
        for (int y = 0; y < dim_y; ++y)
            std::copy_n(&volume_source[voxel_index(x, y, 0)], dim_z, &volume[voxel_index(x, y, 0)]);
}

}  // namespace

void turn_volume(float angle_a, float angle_b)
{
    if (same_angle(angle_a, volume_angle_a) && same_angle(angle_b, volume_angle_b)) return;
    // The keys never come back to (0, 0) once they have turned the head (a
    // float plus or minus 0.1 is never 0): only a drag back to where it
    // started does, and it should show the head as it started.
    if (angle_a == 0.0f && angle_b == 0.0f && !std::signbit(angle_a) && !std::signbit(angle_b)) {
        restore_loaded_volume();
        volume_angle_a = volume_angle_b = 0.0f;
        return;
    }
    rotate_volume(angle_a, angle_b);
}
