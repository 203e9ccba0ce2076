// Density accumulation renderer: how much matter lies behind each pixel, on
// a scale from blue (little) to red (the threshold).
#include "render/render.h"
#include "volume/volume.h"

namespace {

inline double sample(int x, int y, int z)
{
    return volume[voxel_index(x, y, z)];
}

}  // namespace

double accumulate_ray(int start_layer, int x, int y, double fx, double fy, double threshold)
{
    // The same margin as the surface ray, although the blend alone would
    // allow x = 0 and x = dim_x - 2.
    if (x < 1 || x > dim_x - 3 || y < 1 || y > dim_y - 3) return 0.0;
    double sum = 0.0;
    for (int z = start_layer; z < dim_z; ++z) {
        const double interp =
            (1 - fy) * (fx * sample(x + 1, y, z) + (1 - fx) * sample(x, y, z)) +
            fy * (fx * sample(x + 1, y + 1, z) + (1 - fx) * sample(x, y + 1, z));
        sum = sum + interp / 100;
        // The ray stops as soon as it passes the threshold and yields the
        // threshold itself, so the colour scale never overflows.
        if (sum > threshold) return threshold;
    }
    return sum;
}

std::uint8_t accum_red(double ray_sum, double threshold)
{
    if (threshold / 5 >= ray_sum) return 0;
    return low_byte(((ray_sum - threshold / 5) * 255) / ((4 * threshold) / 5));
}

std::uint8_t accum_green(double, double)
{
    return 0;
}

std::uint8_t accum_blue(double ray_sum, double threshold)
{
    const double m = threshold / 2;
    // At a threshold of 0 every ray yields 0 and the pixel is black; the
    // division by m is never evaluated.
    if (m == 0) return 0;
    if (m >= ray_sum) return low_byte((255 * ray_sum) / m);
    return low_byte(255 - ((ray_sum - m) * 255) / m);
}

void render_accumulation(int x0, int x1, int y0, int y1, int start_layer, double threshold)
{
    if (y1 < y0) std::swap(y0, y1);
    if (x1 < x0) std::swap(x0, x1);
    for (int row = y0; row < y1; ++row) {
        std::uint8_t* out = &image[(std::size_t(row) * win_width + x0) * 3];
        for (int col = x0; col < x1; ++col) {
            int x, y;
            double fx, fy;
            pixel_to_voxel(col, row, &x, &y, &fx, &fy);
            const double ray_sum = accumulate_ray(start_layer, x, y, fx, fy, threshold);
            *out++ = accum_red(ray_sum, threshold);
            *out++ = accum_green(ray_sum, threshold);
            *out++ = accum_blue(ray_sum, threshold);
        }
    }
}
