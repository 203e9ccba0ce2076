// The keyboard controls.
#include "app/controls.h"

#include "app/view_state.h"
#include "volume/voxel_store.h"

namespace {

// An angle step is taken in double and stored back as float; the angles are
// never wrapped.
float step_angle(float angle, double step) { return float(double(angle) + step); }

}  // namespace

key_effect apply_key(unsigned char key)
{
    switch (key) {
    case 27: return key_effect::quit;
    case '+':
        start_layer += 10;
        if (start_layer >= dim_z) start_layer = dim_z - 1;
        break;
    case '-':
        start_layer -= 10;
        if (start_layer < 0) start_layer = 0;
        break;
    case 'c': slice_index -= 1; return key_effect::slice_moved;
    case 'd': slice_index += 1; return key_effect::slice_moved;
    case 'k': angle_b = step_angle(angle_b, -0.1); break;
    case 'l': angle_a = step_angle(angle_a, -0.1); break;
    case 'm': angle_b = step_angle(angle_b, 0.1); break;
    case 'o': angle_a = step_angle(angle_a, 0.1); break;
    case 'q': surface_level += 100.0; break;
    case 'r': render_mode = (render_mode + 1) % 4; break;
    case 's': density_threshold += 100.0; return key_effect::threshold_moved;
    case 'w': surface_level -= 100.0; break;
    case 'x': density_threshold -= 100.0; return key_effect::threshold_moved;
    default: break;  // any other key still redraws
    }
    return key_effect::redraw;
}
