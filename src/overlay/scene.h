// What is drawn over the image: a list of opaque boxes and bitmap text
// runs, in drawing order, in window pixels with the origin at the bottom
// left. The window draws a scene with OpenGL (draw.h); crane-snapshot paints
// the same scene into its frame (raster.h).
#pragma once

#include <string>
#include <vector>

struct colour {
    unsigned char r, g, b;
};

struct overlay_item {
    enum kind { box, text } what;
    int x, y;        // box: bottom-left corner; text: start of the baseline
    int width = 0;   // box only: x <= column < x + width
    int height = 0;  // box only: y <= row < y + height
    colour paint;
    std::string characters;  // text only, Latin-1
};

using overlay_scene = std::vector<overlay_item>;

// The accumulation view's legend in a window of that height: a blue swatch
// captioned "densite faible" and a red one captioned "densite elevee" in
// the top-left corner.
void add_legend(overlay_scene& scene, int height);

// The help panel: lines of text, one under the other, on an opaque box in
// the bottom-left corner.
void add_panel(overlay_scene& scene, const std::vector<std::string>& lines);

// A label on an opaque box just right of the legend's red caption (the
// value the red end stands for).
void add_legend_tag(overlay_scene& scene, const std::string& label, int height);

// The box a panel of these lines covers, as an item (for tests and for
// telling which pixels the panel may change).
overlay_item panel_box(const std::vector<std::string>& lines);
overlay_item legend_tag_box(const std::string& label, int height);
