// The software twin of draw_scene: paints a scene into an RGB frame with
// the pixels Mesa's OpenGL gives the window, so that a frame saved without
// a display equals the window's.
#pragma once

#include <cstdint>

#include "overlay/scene.h"

// Paints the scene into width x height RGB pixels stored bottom row first.
// Boxes cover the pixels whose centres they hold, clipped to the frame.
// Text follows glRasterPos2i and glBitmap: a character whose raster
// position falls outside the window (as the projection computes it, in
// float) is skipped whole; the others place their bitmap at the floor of
// that position, clipped to the frame.
void paint_scene(const overlay_scene& scene, std::uint8_t* rgb, int width, int height);

// Where glRasterPos2i(x, y) lands under gluOrtho2D(0, width, 0, height)
// with a viewport of the whole window: false when the point is clipped,
// otherwise the window position as OpenGL computes it in float.
bool raster_position(int x, int y, int width, int height, float* window_x, float* window_y);
