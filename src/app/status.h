// What the window draws over the image: the legend in the accumulation
// view and, while F1 has it on, the help panel with the view state. The
// same scene goes into crane-snapshot's PNG with --legend and --overlay.
#pragma once

#include <string>
#include <vector>

#include "overlay/scene.h"

extern bool overlay_shown;  // F1 turns it on and off; off at start

// The panel's lines, in French and Latin-1: the view, level, threshold,
// slice, first layer and both angles in degrees, then the keys.
std::vector<std::string> status_lines();

// The label by the legend's red end: the threshold it stands for.
std::string threshold_label();

// An angle in radians as degrees with one decimal and a decimal comma,
// never "-0,0".
std::string degrees_text(float radians);

// The scene over a width x height frame for the view state: the legend in
// mode 1 when legend is true, the panel (and in mode 1 the threshold
// label) when overlay is true.
overlay_scene view_scene(int height, bool legend, bool overlay);
