// From the view state to a picture.
#include "app/viewer.h"

#include "app/console.h"
#include "app/controls.h"
#include "app/view_state.h"
#include "render/render.h"
#include "volume/rotation.h"
#include "volume/voxel_store.h"

void render_view()
{
    turn_volume_lazily(angle_a, angle_b);  // the renderers resample what their rays reach
    render_frame(current_view());
}

void compute_image()
{
    if (render_mode == 0 || render_mode == 2) say_surface_level(surface_level);
    render_view();
    say_image_done();
}

bool handle_key(unsigned char key)
{
    switch (apply_key(key)) {
    case key_effect::quit: return false;
    case key_effect::slice_moved: say_slice_index(slice_index); break;
    case key_effect::threshold_moved: say_threshold(density_threshold); break;
    case key_effect::redraw: break;
    }
    compute_image();
    return true;
}

void resize_view(int width, int height)
{
    if (width != win_width || height != win_height) {
        win_width = width;
        win_height = height;
    }
    compute_image();
}

void reset_viewer()
{
    reset_voxel_store();
    reset_view_state();
    reset_frame();
}
