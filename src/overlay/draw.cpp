// The scene in OpenGL.
#include "overlay/draw.h"

#include <GL/glu.h>
#include <GL/glut.h>

namespace {

void draw_box(const overlay_item& box)
{
    const float left = float(box.x), right = float(box.x + box.width);
    const float bottom = float(box.y), top = float(box.y + box.height);
    glColor3ub(box.paint.r, box.paint.g, box.paint.b);
    glBegin(GL_QUADS);
    glVertex2f(left, top);
    glVertex2f(right, top);
    glVertex2f(right, bottom);
    glVertex2f(left, bottom);
    glEnd();
}

void draw_text(const overlay_item& text)
{
    glColor3ub(text.paint.r, text.paint.g, text.paint.b);
    // The raster position is set before every character from the running x
    // rather than left to the bitmap call's own advance.
    int x = text.x;
    for (const char c : text.characters) {
        glRasterPos2i(x, text.y);
        glutBitmapCharacter(GLUT_BITMAP_HELVETICA_12, static_cast<unsigned char>(c));
        x += glutBitmapWidth(GLUT_BITMAP_HELVETICA_12, static_cast<unsigned char>(c));
    }
}

}  // namespace

void draw_scene(const overlay_scene& scene, int width, int height)
{
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluOrtho2D(0, width, 0, height);  // one unit per pixel, origin bottom-left
    for (const overlay_item& item : scene) {
        if (item.what == overlay_item::box)
            draw_box(item);
        else
            draw_text(item);
    }
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
}
