// The view state and its start values.
#include "app/view_state.h"

namespace {

constexpr int initial_render_mode = 0;
constexpr int initial_start_layer = 0;
constexpr double initial_surface_level = 1100.0;  // the skin
constexpr double initial_density_threshold = 4000.0;
constexpr int initial_slice_index = 90;
constexpr float initial_angle = 0.0f;

}  // namespace

int render_mode = initial_render_mode;
int start_layer = initial_start_layer;
double surface_level = initial_surface_level;
double density_threshold = initial_density_threshold;
int slice_index = initial_slice_index;
float angle_a = initial_angle;
float angle_b = initial_angle;

void reset_view_state()
{
    render_mode = initial_render_mode;
    start_layer = initial_start_layer;
    surface_level = initial_surface_level;
    density_threshold = initial_density_threshold;
    slice_index = initial_slice_index;
    angle_a = angle_b = initial_angle;
}

view_parameters current_view() { return {render_mode, start_layer, surface_level, density_threshold, slice_index}; }
