// The render driver: which renderers fill which part of the frame.
#include "render/render.h"

#include "volume/volume_runs.h"

namespace {
long drawn_turn = -1;  // the turn count of the last frame drawn
}

void render_frame(const view_parameters& view)
{
    fit_image_to_window();
    frame_after_turn = turns_marked() != drawn_turn;
    drawn_turn = turns_marked();
    if (view.render_mode == 3) {
        render_slice(view.slice_index);
    } else if (view.render_mode == 2) {
        render_surface(0, win_width / 2, 0, win_height, view.start_layer, view.surface_level);
        render_accumulation(win_width / 2, win_width, 0, win_height, view.start_layer, view.density_threshold);
    } else if (view.render_mode == 1) {
        render_accumulation(0, win_width, 0, win_height, view.start_layer, view.density_threshold);
    } else if (view.render_mode == 0) {
        render_surface(0, win_width, 0, win_height, view.start_layer, view.surface_level);
    }
}
