// Image synthesis: the frame, the pixel-to-volume mapping and the three
// renderers (shaded surface, accumulated density, grey slice).
#pragma once

#include <cstdint>
#include <vector>

// The frame: win_width x win_height RGB pixels, bottom row first, no row gap.
// Pixel (col, row) starts at byte (row * win_width + col) * 3.
extern std::vector<std::uint8_t> image;
extern int win_width, win_height;

// Grows or shrinks image to hold exactly win_width x win_height pixels.
void fit_image_to_window();

// Renders the whole frame for the current view state, then reports it on
// standard error.
void compute_image();

// Maps a pixel to the voxel column it shows: the whole x-y extent of the
// volume is stretched over the window. fx, fy are the fractions in [0, 1).
void pixel_to_voxel(int col, int row, int* x_out, int* y_out, double* fx_out, double* fy_out);

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
