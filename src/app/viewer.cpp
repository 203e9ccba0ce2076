// From the view state to a picture.
#include "app/viewer.h"

#include <bit>
#include <cstdint>

#include "app/console.h"
#include "app/controls.h"
#include "app/interaction.h"
#include "app/status.h"
#include "app/view_state.h"
#include "render/render.h"
#include "volume/rotation.h"
#include "volume/voxel_store.h"

drawn_view view_now() { return {current_view(), angle_a, angle_b}; }

bool same_view(const drawn_view& a, const drawn_view& b)
{
    const view_parameters &u = a.view, &v = b.view;
    return u.render_mode == v.render_mode && u.start_layer == v.start_layer && u.surface_level == v.surface_level &&
           u.density_threshold == v.density_threshold && u.slice_index == v.slice_index &&
           std::bit_cast<std::uint32_t>(a.angle_a) == std::bit_cast<std::uint32_t>(b.angle_a) &&
           std::bit_cast<std::uint32_t>(a.angle_b) == std::bit_cast<std::uint32_t>(b.angle_b);
}

// render_slice's own test: it draws only a plane inside the volume.
bool view_fills_frame(const drawn_view& shown)
{
    return shown.view.render_mode != 3 || (shown.view.slice_index >= 0 && shown.view.slice_index < dim_z);
}

void render_view_of(const drawn_view& shown)
{
    turn_volume_lazily(shown.angle_a, shown.angle_b);  // the renderers resample what their rays reach
    render_frame(shown.view);
}

void render_view() { render_view_of(view_now()); }

void compute_image_of(const drawn_view& shown)
{
    if (shown.view.render_mode == 0 || shown.view.render_mode == 2) say_surface_level(shown.view.surface_level);
    render_view_of(shown);
    say_image_done();
}

void compute_image() { compute_image_of(view_now()); }

bool apply_key_and_report(unsigned char key)
{
    switch (apply_key(key)) {
    case key_effect::quit: return false;
    case key_effect::slice_moved: say_slice_index(slice_index); break;
    case key_effect::threshold_moved: say_threshold(density_threshold); break;
    case key_effect::redraw: break;
    }
    return true;
}

drawn_view replay_keys(const char* keys)
{
    drawn_view shown = view_now();
    for (const char* key = keys; *key; ++key) {
        if (!apply_key_and_report(static_cast<unsigned char>(*key))) break;
        if (view_fills_frame(view_now())) shown = view_now();
    }
    return shown;
}

bool handle_key(unsigned char key)
{
    if (!apply_key_and_report(key)) return false;
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
    reset_interaction();
    overlay_shown = false;
}
