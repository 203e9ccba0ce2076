// Shaded surface renderer: the first layer of a ray whose blended density lies
// in the band around the level, coloured by density class and shaded by how
// far the density gradient points along the ray.
#include <cmath>
#include <cstdio>

#include "render/render.h"
#include "volume/volume.h"

namespace {

constexpr int band_half_width = 400;
constexpr double low_class_bound = 400.0;
constexpr double high_class_bound = 1100.0;

inline int sample(int x, int y, int z)
{
    return volume[voxel_index(x, y, z)];
}

// Bilinear blend of four corner values: along x on rows y and y + 1, then
// along y.
inline double blend(double q00, double q10, double q01, double q11, double fx, double fy)
{
    return (1 - fy) * ((1 - fx) * q00 + fx * q10) + fy * ((1 - fx) * q01 + fx * q11);
}

inline double half_difference(int a, int b)
{
    return std::fabs(double(a - b) / 2.0);
}

// |dV/dz| at column (i, j): one-sided and not halved at the first and last
// layer, central and halved elsewhere (even below the ray's start layer).
inline double gradient_z(int i, int j, int z)
{
    if (z == 0) return std::fabs(double(sample(i, j, 1) - sample(i, j, 0)));
    if (z < dim_z - 1) return half_difference(sample(i, j, z + 1), sample(i, j, z - 1));
    return std::fabs(double(sample(i, j, z) - sample(i, j, z - 1)));
}

// Shade of a hit at layer z: the blended gradient's component along the ray
// over its length. The absolute differences are blended, not signed ones.
double surface_shade(int x, int y, int z, double fx, double fy)
{
    double gx[4], gy[4], gz[4];
    const int corner_x[4] = {x, x + 1, x, x + 1};
    const int corner_y[4] = {y, y, y + 1, y + 1};
    for (int c = 0; c < 4; ++c) {
        const int i = corner_x[c], j = corner_y[c];
        gx[c] = half_difference(sample(i - 1, j, z), sample(i + 1, j, z));
        gy[c] = half_difference(sample(i, j - 1, z), sample(i, j + 1, z));
        gz[c] = gradient_z(i, j, z);
    }
    const double GX = blend(gx[0], gx[1], gx[2], gx[3], fx, fy);
    const double GY = blend(gy[0], gy[1], gy[2], gy[3], fx, fy);
    const double GZ = blend(gz[0], gz[1], gz[2], gz[3], fx, fy);
    const double length = std::sqrt((GX * GX + GY * GY) + GZ * GZ);
    return length > 0 ? GZ / length : 0.0;
}

}  // namespace

double cast_surface_ray(int start_layer, int x, int y, double fx, double fy, double level,
                        double* shade_out)
{
    *shade_out = 0.0;
    // The stencil reaches one column beyond the cell on every side.
    if (x < 1 || x > dim_x - 3 || y < 1 || y > dim_y - 3) return 0.0;
    const double low = level - band_half_width, high = level + band_half_width;
    for (int z = start_layer; z < dim_z; ++z) {
        const double d = blend(sample(x, y, z), sample(x + 1, y, z), sample(x, y + 1, z),
                               sample(x + 1, y + 1, z), fx, fy);
        if (low < d && d < high) {
            *shade_out = surface_shade(x, y, z, fx, fy);
            return d;
        }
    }
    return 0.0;
}

// Colour classes. A density of exactly 1100 falls in neither of the two
// upper classes of green and blue and so gives 0 there: the classes are the
// two open intervals either side of the high bound.
std::uint8_t surface_red(double density)
{
    return density > low_class_bound ? 255 : 0;
}

std::uint8_t surface_green(double density)
{
    if (low_class_bound < density && density < high_class_bound) return 150;
    if (density > high_class_bound) return 255;
    return 0;
}

std::uint8_t surface_blue(double density)
{
    if (low_class_bound < density && density < high_class_bound) return 100;
    if (density > high_class_bound) return 255;
    return 0;
}

void render_surface(int x0, int x1, int y0, int y1, int start_layer, double level)
{
    if (y1 < y0) std::swap(y0, y1);
    if (x1 < x0) std::swap(x0, x1);
    std::printf("%f\n", level);
    for (int row = y0; row < y1; ++row) {
        std::uint8_t* out = &image[(std::size_t(row) * win_width + x0) * 3];
        for (int col = x0; col < x1; ++col) {
            int x, y;
            double fx, fy, shade;
            pixel_to_voxel(col, row, &x, &y, &fx, &fy);
            const double d = cast_surface_ray(start_layer, x, y, fx, fy, level, &shade);
            *out++ = std::uint8_t(int(unsigned(surface_red(d)) * shade));
            *out++ = std::uint8_t(int(unsigned(surface_green(d)) * shade));
            *out++ = std::uint8_t(int(unsigned(surface_blue(d)) * shade));
        }
    }
}
