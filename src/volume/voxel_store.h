// The voxel store: two fixed 256^3 grids of 12-bit densities, the extents
// in use, and the turn that the rendered grid holds. Plain global state,
// defined in voxel_store.cpp; nothing is allocated.
#pragma once

#include <cstddef>

constexpr int volume_side = 256;  // capacity along each axis
constexpr std::size_t volume_elements = std::size_t{volume_side} * volume_side * volume_side;

// Element (x, y, z) lies at (x * 256 + y) * 256 + z: z, the ray axis, is
// contiguous so that a ray reads consecutive ints. x runs along the image
// columns, y along the image rows (0 at the bottom), z away from the viewer.
extern int volume_source[volume_elements];  // samples as loaded, read by the rotation
extern int volume[volume_elements];         // what the renderers read: the source turned
extern int dim_x, dim_y, dim_z;             // extents in use, 0..256 each; set by the loader
extern int max_density;                     // largest sample stored by the loader

// The turn that volume holds (see turn_volume): (0, 0) is the volume as
// loaded.
extern float volume_angle_a, volume_angle_b;

inline std::size_t voxel_index(int x, int y, int z)
{
    return (std::size_t(x) * volume_side + std::size_t(y)) * volume_side + std::size_t(z);
}

// Back to the state at program start: both grids zero, no extents, no turn.
void reset_voxel_store();
