// A synthetic CT head in the slice-file format the viewer reads.
#pragma once

#include <cstdint>
#include <string>

// Fills words (256 x 256, row-major: word row * 256 + col) with the 12-bit
// densities of slice n (1 = top of the head .. 94 = neck). File row 0 is the
// side nearest the viewer (the face). Deterministic, whatever the number of
// threads it runs on.
void make_phantom_slice(int n, std::uint16_t* words);

// Writes folder/headsq.1 .. headsq.94 through the atomic slice-folder
// writer: an existing folder is replaced only with force, and only when it
// holds nothing but slice files. Returns an empty string, or the reason it
// failed.
std::string write_phantom(const std::string& folder, bool force);

// The phantom's geometry: square pixels phantom_pixel_mm wide, slices
// phantom_slice_mm apart (the 94 slices span as much as a slice is wide).
constexpr double phantom_pixel_mm = 1.0;
constexpr double phantom_slice_mm = 256.0 / 94;

// The voxel nearest a point of the head in millimetres: x across (towards
// higher file columns), y towards the face, z up from the Frankfort plane
// (through the tops of the ear canals and the lower rims of the orbits).
struct phantom_voxel {
    int n, row, col;
};
phantom_voxel phantom_voxel_at(double x, double y, double z);
