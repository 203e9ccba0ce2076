// Start-up and keyboard logic of the viewer, free of any window system so
// that the headless snapshot tool and the tests run the very same code.
#pragma once

#include "app/view_state.h"

// What the command line asks for.
enum class data_source { head, sphere, usage };

// Examines argv[1] only: none means the head scan, 1 the sphere hook, anything
// else prints the usage text on standard error.
data_source parse_command_line(int argc, char** argv);

// Announces and prepares the chosen volume, copying the window title into
// title (room for 8 bytes). Returns 0, or -1 when the head scan failed to load.
int prepare_volume(data_source source, char* title);

// Puts the view state back to that of a fresh start.
void reset_view_state();

// Applies one key press: the view-state change (and the volume rotation for
// o, l, m, k), then the recompute of the image. Returns false for Escape,
// which changes nothing and asks the caller to end.
bool apply_key(unsigned char key);

// Adopts a new window size and recomputes the image at it.
void resize_view(int width, int height);
