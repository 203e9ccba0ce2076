// Density accumulation renderer: how much matter lies behind each pixel, on
// a scale from blue (little) to red (the threshold).
#include <algorithm>
#include <atomic>

#include "render/frame.h"
#include "render/rays.h"
#include "render/render.h"
#include "volume/lanes.h"
#include "volume/volume_runs.h"

double accumulate_ray(int start_layer, int x, int y, double fx, double fy, double threshold)
{
    // The margin of the surface ray, although the blend alone would allow
    // x = 0 and x = dim_x - 2.
    if (!traced_column(x, y)) return 0.0;
    double sum = 0.0;
    // The keys keep start_layer within the volume; a negative one from any
    // other caller starts at layer 0 rather than reading before it.
    for (int z = std::max(start_layer, 0); z < dim_z; ++z) {
        const double interp = accumulation_blend(sample(x, y, z), sample(x + 1, y, z), sample(x, y + 1, z),
                                                 sample(x + 1, y + 1, z), fx, fy);
        sum = sum + interp / 100;
        // The ray stops as soon as it passes the threshold and yields the
        // threshold itself, so the colour scale never overflows.
        if (sum > threshold) return threshold;
    }
    return sum;
}

std::uint8_t accum_red(double ray_sum, double threshold) { return accumulation_red_of(ray_sum, threshold); }
std::uint8_t accum_green(double, double) { return 0; }
std::uint8_t accum_blue(double ray_sum, double threshold) { return accumulation_blue_of(ray_sum, threshold); }

namespace {

// Marks, in read, the voxels v and v + 1 of every traced voxel v that one of
// count pixels maps to; returns how many it marked, listed in order in out.
template <typename VoxelOf>
int voxels_read(int count, int first_traced, int last_traced, VoxelOf voxel_of, int out[volume_side])
{
    bool read[volume_side] = {};
    for (int p = 0; p < count; ++p) {
        const int v = voxel_of(p);
        if (first_traced <= v && v <= last_traced) read[v] = read[v + 1] = true;
    }
    int n = 0;
    for (int v = 0; v < volume_side; ++v)
        if (read[v]) out[n++] = v;
    return n;
}

// Makes ready, from start_layer on, every column the rays of the rectangle
// blend: a traced ray at voxel (x, y) reads the columns x and x + 1 of the
// rows y and y + 1.
void ready_columns_read(int x0, int x1, int y0, int y1, int start_layer)
{
    int xs[volume_side], ys[volume_side];
    const int x_count = voxels_read(
        x1 - x0, 1, dim_x - 3, [&](int p) { return voxel_x_of_column(x0 + p); }, xs);
    const int y_count = voxels_read(
        y1 - y0, 1, dim_y - 3, [&](int p) { return (dim_y * (y0 + p)) / win_height; }, ys);
    ensure_columns(std::span(xs, std::size_t(x_count)), std::span(ys, std::size_t(y_count)), start_layer);
}

}  // namespace

void render_accumulation(int x0, int x1, int y0, int y1, int start_layer, double threshold)
{
    if (y1 < y0) std::swap(y0, y1);
    if (x1 < x0) std::swap(x0, x1);
    // No column, no pixel: the batches would map their rows through column 0,
    // which a window 0 pixels wide does not have (a division by zero).
    if (x0 == x1) return;
    // After a turn the runs these rays read are stale. When most rays of the
    // last accumulation image ran to the last layer, these will read their
    // columns whole, and the columns are made ready first, a slab of columns
    // per thread, each column in one call: filled ray by ray, a few runs at a
    // time as the rays reach them, the same runs took about a quarter longer
    // (a mode-1 turn at 256 x 256 on an Intel Xeon, AVX-512: 16.9 against
    // 13.7 ms). Rays that stop early would leave much of that work unread.
    if (frame_after_turn && accumulation_share_through >= 0.75 && y0 < y1 && win_height > 0)
        ready_columns_read(x0, x1, y0, y1, start_layer);
    const std::vector<row_batch> batches = row_batches(y0, y1);
    std::atomic<long> traced{0}, through{0};
    draw_batches(batches, [&](const row_batch& batch) {
        ray_tally tally;
        dispatch_lanes(accumulation_batch(batch, x0, x1, start_layer, threshold, tally));
        traced.fetch_add(tally.traced, std::memory_order_relaxed);
        through.fetch_add(tally.through, std::memory_order_relaxed);
    });
    accumulation_share_through = traced > 0 ? double(through) / double(traced) : 0;
}
