// The bitmap font of the legend and the help panel: freeglut's Helvetica 12,
// the face GLUT_BITMAP_HELVETICA_12 names, read from the table freeglut
// exports. The window draws it with glutBitmapCharacter; the software twin
// (raster.h) reads the same bits here, so both draw the same glyphs.
#pragma once

#include <string>

// One character: its advance, which is also its bitmap's width, and its
// bitmap of font_height rows, bottom row first, (width + 7) / 8 bytes a row,
// leftmost pixel in the high bit.
struct glyph {
    int width;
    const unsigned char* rows;
};

constexpr int font_height = 16;  // rows of every bitmap
constexpr int font_descent = 4;  // rows below the baseline (freeglut's yorig)

// The glyph of character c; character 0, which glutBitmapCharacter skips,
// has width 0 and no rows.
glyph font_glyph(unsigned char c);

// Empty when freeglut's table has the shape this file assumes (Latin-1,
// 16 rows, origin 0 and 4 below the baseline); otherwise what differs.
std::string font_mismatch();

// Pixels from the start of text to the end of its last glyph.
int text_width(const std::string& text);
