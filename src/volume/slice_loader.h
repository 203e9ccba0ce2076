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

// Reads one slice file whole into bytes (slice_bytes of them) and points
// *slice at them, without ever blocking: a FIFO without a writer, a folder
// or any other file that is not a regular one is cannot_read, as is a file
// shorter than a slice; extra bytes after the slice are never read.
slice_error read_slice_file(const std::string& path, unsigned char* bytes, const unsigned char** slice);

// Where a load takes its slice files from: the file system, or for the fuzz
// target, slice files held in memory that answer as read_slice_file would
// and point *slice at their own bytes instead of copying them. Called from
// several threads at once.
using slice_reader = slice_error (*)(const std::string& path, unsigned char* bytes, const unsigned char** slice);

// Reads folder/headsq.1 .. folder/headsq.94 into both grids: file column ->
// x, file row -> z, slice n -> y = 94 - n, each word masked to its low 12
// bits; sets the extents to 256 x 94 x 256 and max_density. slice_stored is
// called after each slice is stored, with its number. Stops at the first
// slice that cannot be opened or read whole: the slices before it stay
// stored and the extents keep their loading values (256, 256, 94).
load_outcome read_head_slices(const std::string& folder, const std::function<void(int n)>& slice_stored,
                              slice_reader read_slice = read_slice_file);

// Hook for a synthetic sphere; leaves the store empty.
void make_sphere_volume();
