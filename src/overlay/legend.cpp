// The colour legend of the accumulation view, drawn over the image.
#include "overlay/legend.h"

#include <GL/glu.h>
#include <GL/glut.h>

namespace {

const float low_density_colour[3] = {0.0f, 0.0f, 1.0f};
const float high_density_colour[3] = {1.0f, 0.0f, 0.0f};
const float caption_colour[3] = {1.0f, 1.0f, 1.0f};

// A 15 x 7 swatch whose top edge lies at window row top.
void draw_swatch(const float* colour, int top)
{
    glColor3fv(colour);
    glBegin(GL_QUADS);
    glVertex2f(10.0f, float(top));
    glVertex2f(25.0f, float(top));
    glVertex2f(25.0f, float(top - 7));
    glVertex2f(10.0f, float(top - 7));
    glEnd();
}

}  // namespace

void draw_text(const char* text, int x, int y, const float* colour, int, int)
{
    glColor3fv(colour);
    // The raster position is set before every character from the running x
    // rather than left to the bitmap call's own advance.
    for (const char* c = text; *c; ++c) {
        glRasterPos2i(x, y);
        glutBitmapCharacter(GLUT_BITMAP_HELVETICA_12, static_cast<unsigned char>(*c));
        x += glutBitmapWidth(GLUT_BITMAP_HELVETICA_12, static_cast<unsigned char>(*c));
    }
}

void draw_legend(int, int width, int, int height)
{
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluOrtho2D(0, width, 0, height);  // one unit per pixel, origin bottom-left

    draw_swatch(low_density_colour, height - 8);
    draw_text("densite faible", 30, height - 15, caption_colour, width, height);
    draw_swatch(high_density_colour, height - 23);
    draw_text("densite elevee", 30, height - 30, caption_colour, width, height);

    // The next frame's raster position relies on an identity projection.
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
}
