// One input of fuzz_keys: crane-snapshot's reshape and key replay on a
// small head-like volume.
//
// The bytes (any missing one reads as 0):
//   0, 1, 2   extents dim_x, dim_y, dim_z: byte % 33 each
//   3, 4      window width and height: byte % 33 each
//   rest      key presses, one byte each, at most 200; Escape (27) ends them
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Fills the extents with the volume (both grids) and puts the view state
// where the viewer starts, at a 256 x 256 window; then resize_view and the
// keys, checking the state after each. Afterwards zeroes the 32^3 corner
// of the grids it used. Returns the first broken invariant, or an empty
// string. What the renderers print goes to standard output and error.
std::string run_keys_case(const std::uint8_t* data, std::size_t size);

// The volume's density at (x, y, z) for the given extents: air around an
// ellipsoid of skin, a bone shell and soft tissue, a little texture, and
// 4095 at the centre.
int small_head_density(int x, int y, int z, int nx, int ny, int nz);
