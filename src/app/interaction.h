// The mouse and the record of what was pressed, without a window: the
// window's callbacks (window.cpp) call these, and they go through the
// same handle_key and compute_image as the keys.
//
// A left drag turns the head by whole key steps: every 10 pixels of
// horizontal travel from the press point is one press of k (rightwards)
// or m (leftwards), every 10 pixels of vertical travel one press of o
// (downwards) or l (upwards), so that the front of the head follows the
// pointer. The steps are replayed from the angles at the press with the
// keys' own float arithmetic, so a drag lands exactly where the same
// presses would, and a drag back to the press point restores the angles
// it started from.
//
// The pointer is only recorded as it moves; the image is computed when the
// window has nothing else to do (drag_update), for the latest pointer, so a
// burst of motion costs one image, not one per event.
#pragma once

#include <string>

constexpr int drag_pixels_per_step = 10;  // 0.1 radian per 10 pixels: 0.01 radian a pixel

// A key press from the keyboard: handle_key, remembered when it changed
// the view. A drag in progress first settles its steps and then goes on
// from the new angles. Returns false for Escape.
bool press_key(unsigned char key);

// One wheel step (up: +1, down: -1) acts as the key that changes what the
// view is about: the level in modes 0 and 2 (q up, w down), the threshold
// in mode 1 (s, x), the slice in mode 3 (d, c).
unsigned char wheel_key(int direction);
void turn_wheel(int direction);

// The left button: pressed at, moved to, released at window pixel (x, y),
// y downwards as the window system gives it.
void start_drag(int x, int y);
void move_drag(int x, int y);
void end_drag(int x, int y);

// True when the pointer has moved to where the angles would change and no
// image shows it yet.
bool drag_update_pending();

// Brings the angles to the latest pointer and computes the image, when
// they change; does nothing otherwise.
void drag_update();

// The keys that bring a fresh viewer to the view shown now: every key,
// wheel step and drag step that changed the view, as key letters, in order.
std::string keys_so_far();

// Whether crane-snapshot, replaying keys_so_far at the window's size, gives
// the image shown now. It does not after a resize in the slice view with
// the slice outside the volume: the frame then holds what the previous
// size left in it.
bool image_replayable();

// A resize of the window: resize_view, remembering whether the new frame
// was drawn.
void resize_window(int width, int height);

// Back to a fresh start: no keys, no drag.
void reset_interaction();
