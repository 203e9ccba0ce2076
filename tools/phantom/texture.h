// Deterministic noise from an integer hash: the grain of tissue and bone,
// the air cells of the mastoid, and the scanner's noise in every voxel.
#pragma once

#include <cstdint>

#include "geometry.h"

namespace phantom {

// A fixed-seed hash of three integers.
std::uint32_t hash3(std::int32_t a, std::int32_t b, std::int32_t c, std::uint32_t seed);

// Smooth noise of -1..1 whose features are about cell_mm apart: values at
// the corners of a cubic lattice, blended with a smooth fade.
double value_noise(vec3 p, double cell_mm, std::uint32_t seed);

// The grain of tissue at p, -1..1: two octaves, 3.2 and 1.6 mm.
double tissue_grain(vec3 p);

// A scanner's noise for one voxel: -16..16, spread like a triangle.
int voxel_noise(int n, int row, int col);

}  // namespace phantom
