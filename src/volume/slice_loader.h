// The CT slice loader and the sphere hook: the two ways start-up fills the
// voxel store. Nothing here prints; the caller reports.
#pragma once

#include <functional>
#include <string>

enum class slice_error {
    none,
    cannot_open,  // missing, or not openable
    cannot_read,  // shorter than a slice, not a regular file, or a read error
};

// How a load ended: the first slice that failed and its path, or none.
struct load_outcome {
    slice_error error = slice_error::none;
    std::string path;
};

// Reads folder/headsq.1 .. folder/headsq.94 into both grids: file column ->
// x, file row -> z, slice n -> y = 94 - n, each word masked to its low 12
// bits; sets the extents to 256 x 94 x 256 and max_density. slice_stored is
// called after each slice is stored, with its number. Stops at the first
// slice that cannot be opened or read whole: the slices before it stay
// stored and the extents keep their loading values (256, 256, 94).
load_outcome read_head_slices(const std::string& folder, const std::function<void(int n)>& slice_stored);

// Hook for a synthetic sphere; leaves the store empty.
void make_sphere_volume();
