// The viewer without its window: the one path from a key press to a
// picture, shared by the window (window.cpp) and crane-snapshot.
//
//   key -> apply_key (the view state changes) -> its console line
//       -> compute_image: turn_volume_lazily to the view's angles, render_frame
//          for the view, "Calcul d'image fini"
//       -> the caller shows image (the window redraws, the tool saves it).
#pragma once

// Renders the frame for the view state: the volume is first brought to the
// view's turn. Prints nothing.
void render_view();

// render_view with the console lines of one image: the surface level first
// when the view draws a surface, "Calcul d'image fini" last.
void compute_image();

// One key press: apply_key, the line the key prints, compute_image. Returns
// false for Escape, which changes and computes nothing: the caller ends.
bool handle_key(unsigned char key);

// Adopts a new window size, then compute_image, even for the same size.
void resize_view(int width, int height);

// Back to the state at program start: voxel store, view state and frame.
void reset_viewer();
