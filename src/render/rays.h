// Pieces shared by the plain ray functions and their vector batch kernels,
// which must compute exactly the same values. The plain functions read
// volume as it is (they are the definition, for a volume whose runs are all
// ready); the kernels make ready the runs they read (volume/volume_runs.h).
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "render/render.h"
#include "volume/brick_bounds.h"
#include "volume/lanes.h"
#include "volume/volume_runs.h"
#include "volume/voxel_store.h"

inline double sample(int x, int y, int z) { return volume[voxel_index(x, y, z)]; }

// Rays are traced only for columns whose whole gradient stencil, one voxel
// beyond the cell on every side, lies inside the extents.
inline bool traced_column(int x, int y) { return !(x < 1 || x > dim_x - 3 || y < 1 || y > dim_y - 3); }

constexpr int band_half_width = 400;

// The surface blend of four corner values: along x on rows y and y + 1,
// then along y.
inline double surface_blend(double q00, double q10, double q01, double q11, double fx, double fy)
{
    return (1 - fy) * ((1 - fx) * q00 + fx * q10) + fy * ((1 - fx) * q01 + fx * q11);
}

// The accumulation blend: the same weights in another grouping.
inline double accumulation_blend(double v00, double v10, double v01, double v11, double fx, double fy)
{
    return (1 - fy) * (fx * v10 + (1 - fx) * v00) + fy * (fx * v11 + (1 - fx) * v01);
}

// Colour classes of a surface hit. A density of exactly 1100 falls in
// neither of the two upper classes of green and blue and so gives 0 there:
// the classes are the two open intervals either side of the high bound.
constexpr double low_class_bound = 400.0;
constexpr double high_class_bound = 1100.0;

inline std::uint8_t surface_red_of(double density) { return density > low_class_bound ? 255 : 0; }

inline std::uint8_t surface_green_of(double density)
{
    if (low_class_bound < density && density < high_class_bound) return 150;
    if (density > high_class_bound) return 255;
    return 0;
}

inline std::uint8_t surface_blue_of(double density)
{
    if (low_class_bound < density && density < high_class_bound) return 100;
    if (density > high_class_bound) return 255;
    return 0;
}

// The accumulation scale: red from a fifth of the threshold up to it, blue
// rising to half of it and falling again, no green.
inline std::uint8_t accumulation_red_of(double ray_sum, double threshold)
{
    if (threshold / 5 >= ray_sum) return 0;
    return low_byte(((ray_sum - threshold / 5) * 255) / ((4 * threshold) / 5));
}

inline std::uint8_t accumulation_blue_of(double ray_sum, double threshold)
{
    const double m = threshold / 2;
    // At a threshold of 0 every ray yields 0 and the pixel is black; the
    // division by m is never evaluated.
    if (m == 0) return 0;
    if (m >= ray_sum) return low_byte((255 * ray_sum) / m);
    return low_byte(255 - ((ray_sum - m) * 255) / m);
}

// The pixel bytes of a surface hit: each class value scaled by the shade
// and truncated.
inline void store_surface_pixel(std::uint8_t* out, double density, double shade)
{
    out[0] = std::uint8_t(int(unsigned(surface_red_of(density)) * shade));
    out[1] = std::uint8_t(int(unsigned(surface_green_of(density)) * shade));
    out[2] = std::uint8_t(int(unsigned(surface_blue_of(density)) * shade));
}

inline void store_accumulation_pixel(std::uint8_t* out, double ray_sum, double threshold)
{
    out[0] = accumulation_red_of(ray_sum, threshold);
    out[1] = 0;
    out[2] = accumulation_blue_of(ray_sum, threshold);
}

inline int voxel(int x, int y, int z) { return volume[voxel_index(x, y, z)]; }

inline double half_difference(int a, int b) { return std::fabs(double(a - b) / 2.0); }

// |dV/dz| at column (i, j): one-sided and not halved at the first and last
// layer, central and halved elsewhere (even below the ray's start layer).
inline double gradient_z(int i, int j, int z)
{
    if (z == 0) return std::fabs(double(voxel(i, j, 1) - voxel(i, j, 0)));
    if (z < dim_z - 1) return half_difference(voxel(i, j, z + 1), voxel(i, j, z - 1));
    return std::fabs(double(voxel(i, j, z) - voxel(i, j, z - 1)));
}

// The absolute gradient components at the four corners of the cell (x, y)
// on layer z: they depend on the cell and the layer alone, so the rays of a
// batch that hit the same layer share them.
struct corner_gradients {
    double gx[4], gy[4], gz[4];
};

inline corner_gradients gradients_at(int x, int y, int z)
{
    corner_gradients g;
    const int corner_x[4] = {x, x + 1, x, x + 1};
    const int corner_y[4] = {y, y, y + 1, y + 1};
    for (int c = 0; c < 4; ++c) {
        const int i = corner_x[c], j = corner_y[c];
        g.gx[c] = half_difference(voxel(i - 1, j, z), voxel(i + 1, j, z));
        g.gy[c] = half_difference(voxel(i, j - 1, z), voxel(i, j + 1, z));
        g.gz[c] = gradient_z(i, j, z);
    }
    return g;
}

// The blended gradient's component along the ray over its length. The
// absolute differences are blended, not the signed ones.
inline double shade_of(const corner_gradients& g, double fx, double fy)
{
    const double GX = surface_blend(g.gx[0], g.gx[1], g.gx[2], g.gx[3], fx, fy);
    const double GY = surface_blend(g.gy[0], g.gy[1], g.gy[2], g.gy[3], fx, fy);
    const double GZ = surface_blend(g.gz[0], g.gz[1], g.gz[2], g.gz[3], fx, fy);
    const double length = std::sqrt((GX * GX + GY * GY) + GZ * GZ);
    return length > 0 ? GZ / length : 0.0;  // no gradient at all: no shade
}

inline __attribute__((always_inline)) double surface_shade(int x, int y, int z, double fx, double fy)
{
    return shade_of(gradients_at(x, y, z), fx, fy);
}

// Of an accumulation batch's traced rays, how many ran to the last layer
// without passing the threshold.
struct ray_tally {
    long traced = 0, through = 0;
};

// Batch kernels, one copy per instruction set (ray_lanes.inc): the pixels
// x0 <= col < x1 of the batch's rows.
#define ray_kernels                                                                                                    \
    void surface_batch(row_batch rows, int x0, int x1, int start_layer, double level);                                 \
    void accumulation_batch(row_batch rows, int x0, int x1, int start_layer, double threshold, ray_tally& tally);
declare_lane_kernels(ray_kernels)
#undef ray_kernels
