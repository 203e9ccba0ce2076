// Draws a scene over the window's image with OpenGL.
#pragma once

#include "overlay/scene.h"

// One unit per pixel over a width x height window; boxes as quads, text
// with glutBitmapCharacter, the raster position set before every
// character. Leaves an identity projection, which the next frame's image
// relies on.
void draw_scene(const overlay_scene& scene, int width, int height);
