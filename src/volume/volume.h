// The voxel store: two fixed 256^3 grids of 12-bit densities, the extents in
// use, the CT slice loader and the rotation that resamples one grid into the
// other. Everything here is plain global state; nothing is allocated.
#pragma once

#include <cstddef>

#include "volume/slice_format.h"

constexpr int volume_side = 256;  // capacity along each axis
constexpr std::size_t volume_elements = std::size_t{volume_side} * volume_side * volume_side;

// Element (x, y, z) lies at (x * 256 + y) * 256 + z: z, the ray axis, is
// contiguous so that a ray reads consecutive ints.
extern int volume_source[volume_elements];  // samples as loaded, read by the rotation
extern int volume[volume_elements];         // what the renderers read
extern int dim_x, dim_y, dim_z;             // extents in use, 0..256 each
extern int max_density;                     // largest sample stored by the loader

inline std::size_t voxel_index(int x, int y, int z)
{
    return (std::size_t(x) * volume_side + std::size_t(y)) * volume_side + std::size_t(z);
}

// Reads folder/headsq.1 .. folder/headsq.94 into both grids: file column -> x,
// file row -> z, slice n -> y = 94 - n. Prints a dot per slice and the largest
// sample on standard output. Returns 0, or -1 at the first file that cannot
// be opened or holds fewer than 131,072 bytes (after printing why).
int load_head_volume_from(const char* folder);

// The viewer's loader: the folder "fullHead" below the working directory.
int load_head_volume();

// Hook for a synthetic sphere; leaves the store empty.
void make_sphere_volume();

// Rewrites volume inside the extents from volume_source, turned by angle_b
// about the vertical image axis and then by angle_a about the horizontal one,
// with trilinear resampling. The angles are absolute, in radians.
void rotate_volume(float angle_a, float angle_b);

// The factors of one rotation: cosines and sines of the angles and the
// centre, all as float.
struct rotation {
    float ca, sa, cb, sb;
    float cx, cy, cz;
};
rotation rotation_for(float angle_a, float angle_b);

// One element of the turned volume, computed on its own: the plain
// statement that rotate_volume's faster loop must match bit for bit.
int rotated_voxel(const rotation& r, int i, int j, int k);
