// Shaded surface renderer: the first layer of a ray whose blended density lies
// in the band around the level, coloured by density class and shaded by how
// far the density gradient points along the ray.
#include <algorithm>
#include <cmath>

#include "render/frame.h"
#include "render/rays.h"
#include "render/render.h"
#include "volume/lanes.h"

double cast_surface_ray(int start_layer, int x, int y, double fx, double fy, double level, double* shade_out)
{
    *shade_out = 0.0;
    if (!traced_column(x, y)) return 0.0;
    const double low = level - band_half_width, high = level + band_half_width;
    // The keys keep start_layer within the volume; a negative one from any
    // other caller starts at layer 0 rather than reading before it.
    for (int z = std::max(start_layer, 0); z < dim_z; ++z) {
        const double d =
            surface_blend(sample(x, y, z), sample(x + 1, y, z), sample(x, y + 1, z), sample(x + 1, y + 1, z), fx, fy);
        if (low < d && d < high) {
            *shade_out = surface_shade(x, y, z, fx, fy);
            return d;
        }
    }
    return 0.0;
}

std::uint8_t surface_red(double density) { return surface_red_of(density); }
std::uint8_t surface_green(double density) { return surface_green_of(density); }
std::uint8_t surface_blue(double density) { return surface_blue_of(density); }

void render_surface(int x0, int x1, int y0, int y1, int start_layer, double level)
{
    if (y1 < y0) std::swap(y0, y1);
    if (x1 < x0) std::swap(x0, x1);
    // No column, no pixel: the batches would map their rows through column 0,
    // which a window 0 pixels wide does not have (a division by zero).
    if (x0 == x1) return;
    const std::vector<row_batch> batches = row_batches(y0, y1);
    // The density bounds by which the rays pass over runs, for the columns
    // of cells these pixels blend.
    prepare_run_bricks();
    draw_batches(batches,
                 [&](const row_batch& batch) { dispatch_lanes(surface_batch(batch, x0, x1, start_layer, level)); });
}
