// The rotation that resamples volume_source into volume, so that the rays,
// which always run along z, see the head from another direction.
#pragma once

// Brings volume to the turn (angle_a, angle_b), in radians: rotate_volume
// when the volume holds another turn, nothing when it already holds this
// one; (0, 0) is the volume as loaded. Every renderer reads volume through
// this, so a view state always shows exactly its own turn.
void turn_volume(float angle_a, float angle_b);

// Rewrites volume inside the extents from volume_source, turned by angle_b
// about the vertical image axis and then by angle_a about the horizontal one,
// with trilinear resampling. The angles are absolute. Elements whose source
// point falls outside the extents become 0.
void rotate_volume(float angle_a, float angle_b);

// The factors of one rotation: cosines and sines of the angles and the
// centre (the integer half of each extent), all as float.
struct rotation {
    float ca, sa, cb, sb;
    float cx, cy, cz;
};
rotation rotation_for(float angle_a, float angle_b);

// One element of the turned volume, computed on its own: the plain
// statement that rotate_volume's vector kernels must match bit for bit.
int rotated_voxel(const rotation& r, int i, int j, int k);
