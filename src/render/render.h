// Image synthesis: the three renderers (shaded surface, accumulated density,
// grey slice) and the driver that fills the frame for a view. They read the
// voxel store and write only the frame (render/frame.h); nothing here
// prints.
#pragma once

#include <cstdint>

#include "render/frame.h"

// What a view asks of the renderers.
struct view_parameters {
    int render_mode;           // 0 surface, 1 accumulation, 2 split, 3 slice
    int start_layer;           // first z layer of every ray
    double surface_level;      // centre of the surface density band
    double density_threshold;  // accumulation cut-off and colour span
    int slice_index;           // z plane of the slice view
};

// Fills the frame, sized to the window, for the view: mode 0 the surface
// over the whole window, 1 the accumulation, 2 the surface on the left half
// and the accumulation on the right, 3 the slice.
void render_frame(const view_parameters& view);

// Shaded surface: the first layer whose blended density lies strictly within
// 400 of level. Pixel rectangle: x0 <= col < x1, y0 <= row < y1.
void render_surface(int x0, int x1, int y0, int y1, int start_layer, double level);
double cast_surface_ray(int start_layer, int x, int y, double fx, double fy, double level, double* shade_out);
std::uint8_t surface_red(double density);
std::uint8_t surface_green(double density);
std::uint8_t surface_blue(double density);

// Accumulated density: the sum of blended samples / 100 along the ray, cut at
// the threshold, shown on a blue-to-red scale.
void render_accumulation(int x0, int x1, int y0, int y1, int start_layer, double threshold);
double accumulate_ray(int start_layer, int x, int y, double fx, double fy, double threshold);
std::uint8_t accum_red(double ray_sum, double threshold);
std::uint8_t accum_green(double ray_sum, double threshold);
std::uint8_t accum_blue(double ray_sum, double threshold);

// The plane z = slice in grey, scaled so that its largest sample is white.
// Draws nothing when slice is outside 0 .. dim_z - 1.
void render_slice(int slice);

// The low 8 bits of v truncated toward zero. A value beyond the int range,
// or NaN, gives 0, as the processor's own conversion would, without the
// undefined behaviour of a plain cast.
inline std::uint8_t low_byte(double v)
{
    if (!(v > -2147483649.0 && v < 2147483648.0)) return 0;
    return std::uint8_t(int(v) & 0xFF);
}
