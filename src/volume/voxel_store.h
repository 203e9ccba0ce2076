// The voxel store: two fixed 256^3 grids of 16-bit densities, the extents
// in use, and the turn that the rendered grid stands for. Plain global
// state, defined in voxel_store.cpp; nothing is allocated.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int volume_side = 256;  // capacity along each axis
constexpr std::size_t volume_elements = std::size_t{volume_side} * volume_side * volume_side;

// One stored density. The slices hold 12 bits, and a resampled value lies
// between the smallest and the largest of the samples it blends, so 16
// bits hold every value exactly; signed, so that a reader widening to int
// sees what was written.
using stored_density = std::int16_t;

// Element (x, y, z) lies at (x * 256 + y) * 256 + z: z, the ray axis, is
// contiguous so that a ray reads consecutive samples. x runs along the
// image columns, y along the image rows (0 at the bottom), z away from the
// viewer.
extern stored_density volume_source[volume_elements];  // samples as loaded, read by the rotation
extern stored_density volume[volume_elements];         // what the renderers read: the source turned
extern int dim_x, dim_y, dim_z;                        // extents in use, 0..256 each; set by the loader
extern int max_density;                                // largest sample stored by the loader

// The turn that volume stands for (see turn_volume_lazily in rotation.h):
// (0, 0) is the volume as loaded.
extern float volume_angle_a, volume_angle_b;

inline std::size_t voxel_index(int x, int y, int z)
{
    return (std::size_t(x) * volume_side + std::size_t(y)) * volume_side + std::size_t(z);
}

// Back to the state at program start: both grids zero, no extents, no turn.
// The grids' pages go back to the system.
void reset_voxel_store();
