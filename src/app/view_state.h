// The view state: what the keys change and the renderers are asked to
// show. Plain global state, defined in view_state.cpp.
#pragma once

#include "render/render.h"

extern int render_mode;           // 0 surface, 1 accumulation, 2 split, 3 slice
extern int start_layer;           // first z layer of every ray
extern double surface_level;      // centre of the surface density band
extern double density_threshold;  // accumulation cut-off and colour span
extern int slice_index;           // z plane of the slice view
extern float angle_a;             // turn about the horizontal image axis, radians
extern float angle_b;             // turn about the vertical image axis, radians

// Back to the values of a fresh start.
void reset_view_state();

// What the view state asks of the renderers (the angles go to the volume).
view_parameters current_view();
