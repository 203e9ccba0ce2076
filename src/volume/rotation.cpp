// Turns the volume: which turn volume stands for, and how its runs are
// filled from volume_source.
#include "volume/rotation.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "volume/brick_bounds.h"
#include "volume/rotation_kernels.h"
#include "volume/volume_runs.h"
#include "volume/voxel_store.h"

volume_turn_state volume_turn;

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

void fill_runs(int x, int y, int r, int count)
{
    const int k0 = r * run_length, k1 = std::min((r + count) * run_length, dim_z);
    if (volume_turn.as_loaded) {
        std::memcpy(&volume[voxel_index(x, y, k0)], &volume_source[voxel_index(x, y, k0)],
                    std::size_t(k1 - k0) * sizeof(stored_density));
        return;
    }
    dispatch_lanes(resample_layers(volume_turn, x, y, k0, k1));
}

namespace {

// The same float, bit for bit (so that -0 and NaN are told apart too).
bool same_angle(float a, float b) { return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b); }

// volume stands for a new turn from now on; nothing is resampled yet.
void stand_for(bool as_loaded, float angle_a, float angle_b)
{
    const rotation r = rotation_for(angle_a, angle_b);
    volume_turn.as_loaded = as_loaded;
    volume_turn.r = r;
    volume_turn.truncation_margin = float_blend_margin(source_density_low(), source_density_high());
    layer_terms& t = volume_turn.terms;
    const double sb = r.sb, sacb = double(r.sa) * r.cb, cacb = double(r.ca) * r.cb;
    for (int k = 0; k < dim_z; ++k) {
        const double w = double(k) - r.cz;
        t.w_sb[k] = w * sb;
        t.w_sacb[k] = sacb * w;
        t.w_cacb[k] = cacb * w;
    }
    if (!as_loaded) {
        source_x_cells& cells = volume_turn.x_cells;
        const float last_x = float(dim_x - 1);
#pragma omp parallel for schedule(static)
        for (int i = 0; i < dim_x; ++i) {
            const double u_cb = (double(i) - r.cx) * double(r.cb);
            for (int k = 0; k < dim_z; ++k) {
                const float sx = float((u_cb - t.w_sb[k]) + r.cx);
                const bool inside_x = sx >= 0 && sx < last_x;
                cells.index[i][k] = inside_x ? int(sx) : -1;
                cells.fraction[i][k] = inside_x ? sx - float(int(sx)) : 0.0f;
            }
        }
    }
    volume_angle_a = angle_a;
    volume_angle_b = angle_b;
    mark_runs_stale();
    forget_run_bricks();
}

}  // namespace

void turn_volume_lazily(float angle_a, float angle_b)
{
    if (same_angle(angle_a, volume_angle_a) && same_angle(angle_b, volume_angle_b)) return;
    // The keys never come back to (0, 0) once they have turned the head (a
    // float plus or minus 0.1 is never 0): only a drag back to where it
    // started does, and it should show the head as it started.
    const bool as_loaded = angle_a == 0.0f && angle_b == 0.0f && !std::signbit(angle_a) && !std::signbit(angle_b);
    stand_for(as_loaded, angle_a, angle_b);
}

void turn_volume(float angle_a, float angle_b)
{
    turn_volume_lazily(angle_a, angle_b);
    complete_volume();
}

void rotate_volume(float angle_a, float angle_b)
{
    stand_for(false, angle_a, angle_b);
    complete_volume();
}

void grids_written()
{
    volume_turn.as_loaded = true;
    volume_angle_a = volume_angle_b = 0.0f;
    mark_runs_ready();
    measure_source_bricks();
    forget_run_bricks();
}
