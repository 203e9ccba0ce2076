// The viewer without its window: the one path from a key press to a
// picture, shared by the window (window.cpp) and crane-snapshot.
//
//   key -> apply_key (the view state changes) -> its console line
//       -> compute_image: turn_volume_lazily to the view's angles, render_frame
//          for the view, "Calcul d'image fini"
//       -> the caller shows image (the window redraws, the tool saves it).
//
// The window takes every key this way (through press_key, interaction.h).
// crane-snapshot takes the first two steps for each key (replay_keys) and
// computes only the image it writes.
#pragma once

#include "render/render.h"

// A view as the renderers take it: what it shows and the turn.
struct drawn_view {
    view_parameters view;
    float angle_a, angle_b;
};

// The view state now.
drawn_view view_now();

// Whether two views are the same, angles bit for bit.
bool same_view(const drawn_view& a, const drawn_view& b);

// Whether rendering the view fills the whole frame. The slice view of a
// slice outside the volume draws nothing: the frame keeps the picture of
// the last view that filled it.
bool view_fills_frame(const drawn_view& shown);

// Turns the volume to the view's angles and renders the frame for it.
// Prints nothing.
void render_view_of(const drawn_view& shown);

// Renders the frame for the view state: the volume is first brought to the
// view's turn. Prints nothing.
void render_view();

// render_view with the console lines of one image: the surface level first
// when the view draws a surface, "Calcul d'image fini" last.
void compute_image();

// compute_image for the given view rather than the view state.
void compute_image_of(const drawn_view& shown);

// apply_key and the line the key prints, without an image. Returns false
// for Escape, which changes nothing.
bool apply_key_and_report(unsigned char key);

// Replays keys (one byte each, Escape ends them) as apply_key_and_report,
// computing no image. Returns the view whose picture the window would show
// after them: the last view, from the one before the first key on, that
// fills the frame.
drawn_view replay_keys(const char* keys);

// One key press: apply_key, the line the key prints, compute_image. Returns
// false for Escape, which changes and computes nothing: the caller ends.
bool handle_key(unsigned char key);

// Adopts a new window size, then compute_image, even for the same size.
void resize_view(int width, int height);

// Back to the state at program start: voxel store, view state, frame, the
// keys remembered and the help panel.
void reset_viewer();
