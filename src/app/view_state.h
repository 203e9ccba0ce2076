// The view state the keys change and the renderers read.
#pragma once

extern int render_mode;           // 0 surface, 1 accumulation, 2 split, 3 slice
extern int start_layer;           // first z layer of every ray
extern double surface_level;      // centre of the surface density band
extern double density_threshold;  // accumulation cut-off and colour span
extern int slice_index;           // z plane of the slice view
extern float angle_a;             // turn about the horizontal image axis, radians
extern float angle_b;             // turn about the vertical image axis, radians
