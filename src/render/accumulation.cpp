// Density accumulation renderer: how much matter lies behind each pixel, on
// a scale from blue (little) to red (the threshold).
#include <algorithm>

#include "render/frame.h"
#include "render/rays.h"
#include "render/render.h"
#include "volume/lanes.h"

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

void render_accumulation(int x0, int x1, int y0, int y1, int start_layer, double threshold)
{
    if (y1 < y0) std::swap(y0, y1);
    if (x1 < x0) std::swap(x0, x1);
    // No column, no pixel: the batches would map their rows through column 0,
    // which a window 0 pixels wide does not have (a division by zero).
    if (x0 == x1) return;
    const std::vector<row_batch> batches = row_batches(y0, y1);
    draw_batches(batches, [&](const row_batch& batch) {
        dispatch_lanes(accumulation_batch(batch, x0, x1, start_layer, threshold));
    });
}
