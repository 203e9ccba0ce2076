// The rotation that resamples volume_source into volume, so that the rays,
// which always run along z, see the head from another direction.
#pragma once

// Makes volume stand for the turn (angle_a, angle_b), in radians, without
// resampling anything yet: when the turn differs from the one volume stands
// for, every run of volume becomes stale and is filled when a reader first
// ensures it (volume/volume_runs.h). (0, 0) is the volume as loaded. The
// renderers ensure what they read, so an image drawn after this call shows
// exactly this turn.
void turn_volume_lazily(float angle_a, float angle_b);

// turn_volume_lazily, then every run made ready: volume holds the turn
// (angle_a, angle_b) for any reader.
void turn_volume(float angle_a, float angle_b);

// Rewrites volume inside the extents from volume_source, turned by angle_b
// about the vertical image axis and then by angle_a about the horizontal one,
// with trilinear resampling, even when volume already holds that turn. The
// angles are absolute. Elements whose source point falls outside the extents
// become 0.
void rotate_volume(float angle_a, float angle_b);

// After writing volume_source and volume directly (the same samples inside
// the extents), as the loader does: volume holds the samples as written (no
// turn, every run ready), and the density bounds the surface rays skip by
// are measured again from volume_source.
void grids_written();

// The factors of one rotation: cosines and sines of the angles and the
// centre (the integer half of each extent), all as float.
struct rotation {
    float ca, sa, cb, sb;
    float cx, cy, cz;
};
rotation rotation_for(float angle_a, float angle_b);

// One element of the turned volume, computed on its own: the plain
// statement that the vector kernels must match bit for bit.
int rotated_voxel(const rotation& r, int i, int j, int k);
