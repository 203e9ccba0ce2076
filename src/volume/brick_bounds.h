// Bounds on the densities of volume, brick by brick, so that a surface ray
// passes over layers that cannot hold a density in its band without
// resampling or reading them: in air, which is never exactly zero in a
// scan, as much as anywhere.
//
// volume_source is bounded in bricks of 4 x 4 x 4 voxels; volume in bricks
// of 4 x 4 columns by one run of layers, each from the source bricks that
// its turned voxels blend. A brick also covers the first column of the
// brick after it on each axis (and a source brick the first layer too), so
// that the four columns a ray blends, and the eight corners of a trilinear
// cell, always lie in one brick.
#pragma once

#include <atomic>
#include <cstdint>

#include "volume/volume_runs.h"

// Bricks of 4 voxels a side: twice as coarse let surface rays through
// the head resample about 30 % more runs after a turn than these do.
constexpr int brick_side = 4;
constexpr int bricks_per_side = volume_side / brick_side;

// Every density in the brick lies in [low, high]; low > high when the
// brick holds no voxel inside the extents.
struct density_bounds {
    int low, high;
};

// The bricks of volume: columns 4 bx .. 4 bx + 4 by 4 by .. 4 by + 4, the
// layers of run r. Each is bounded when a ray first asks for it after a
// turn (surface rays ask for some six in ten), by whichever thread asks:
// the bounds are packed in one word, read and written atomically, and two
// threads that bound the same brick store the same word.
extern std::uint64_t run_bricks[bricks_per_side * bricks_per_side * runs_per_column];

// The word of a brick not bounded since the turn: bounds that no brick has.
constexpr std::uint64_t unbounded_brick = 0x8000000080000000u;

inline std::size_t run_brick_index(int x, int y, int r)
{
    return (std::size_t(x / brick_side) * bricks_per_side + std::size_t(y / brick_side)) * runs_per_column +
           std::size_t(r);
}

// Bounds the brick at index i and stores its word.
density_bounds bound_run_brick(std::size_t i);

inline density_bounds run_brick_of(int x, int y, int r)
{
    const std::size_t i = run_brick_index(x, y, r);
    const std::uint64_t word = std::atomic_ref<std::uint64_t>(run_bricks[i]).load(std::memory_order_relaxed);
    if (word == unbounded_brick) return bound_run_brick(i);
    return {int(std::uint32_t(word)), int(std::uint32_t(word >> 32))};
}

// Whether the surface blend of the columns x, x + 1 by y, y + 1 at a layer
// of run r can lie strictly between low and high. The blend's weights are
// positive and sum to one, so it lies between the smallest and the largest
// corner, give or take a rounding far below the margin of 1.
inline bool run_may_hit(int x, int y, int r, double low, double high)
{
    const density_bounds b = run_brick_of(x, y, r);
    return double(b.high) + 1 > low && double(b.low) - 1 < high;
}

// The largest density of volume_source inside the extents, and so of
// volume at any turn (a blend never exceeds its largest sample); 0 for an
// empty volume. Measured with the bricks.
int source_density_high();
int source_density_low();  // the smallest, likewise

// Whether every sample that the trilinear cells x0..x1, y0..y1, z0..z1 of
// volume_source blend is 0 (cell c blends the samples c and c + 1), as far
// as the bricks tell: false whenever one of their bricks holds anything
// else. Every cell lies inside the extents, the first of each range not
// after the last.
bool source_cells_zero(int x0, int x1, int y0, int y1, int z0, int z1);

// Whether any brick of volume_source holds zeros only.
bool source_has_zero_bricks();

// Measures the bricks of volume_source inside the extents (grids_written
// calls it).
void measure_source_bricks();

// Readies what bounding the bricks of volume for the turn it stands for
// takes, unless that is done already: the surface renderer calls it before
// its rays start. Outside any parallel region.
void prepare_run_bricks();

// The turn changed: every brick of volume must be bounded again.
void forget_run_bricks();
