// The colour legend of the accumulation view.
#pragma once

// Draws the two swatches and their captions in the top-left corner of a
// width x height window. left and bottom are unused.
void draw_legend(int left, int width, int bottom, int height);

// Draws text in the bitmap font starting at window pixel (x, y). width and
// height are unused.
void draw_text(const char* text, int x, int y, const float* colour, int width, int height);
