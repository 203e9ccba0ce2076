// The window: creation, and the callbacks that show the computed image.
#include "app/window.h"

#include <GL/glut.h>

#include <cstdlib>

#include "app/status.h"
#include "app/view_state.h"
#include "app/viewer.h"
#include "overlay/draw.h"
#include "render/frame.h"

int vp_x, vp_w, vp_y, vp_h;

namespace {

// The image, then the legend and the panel over it, in the back buffer.
void draw_frame()
{
    const int width = win_width;
    glClearColor(0, 0, 1, 0);
    glClear(GL_COLOR_BUFFER_BIT);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glPixelStorei(GL_PACK_ROW_LENGTH, width);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, width);
    glRasterPos2d(-1.0, -1.0);
    glDrawPixels(win_width, win_height, GL_RGB, GL_UNSIGNED_BYTE, image.data());
    const overlay_scene scene = view_scene(vp_h, true, overlay_shown);
    if (!scene.empty()) draw_scene(scene, vp_w, vp_h);
}

}  // namespace

void init_window(const char* title)
{
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
    win_width = 256;
    win_height = 256;
    vp_x = 0;
    vp_w = win_width;
    vp_y = 0;
    vp_h = win_height;
    glutInitWindowPosition(vp_x, vp_y);
    glutInitWindowSize(vp_w, vp_h);
    glutCreateWindow(title);
}

void display()
{
    draw_frame();
    glutSwapBuffers();
}

void reshape(int width, int height)
{
    vp_x = 0;
    vp_w = width;
    vp_y = 0;
    vp_h = height;
    glViewport(0, 0, width, height);
    resize_view(width, height);
    glutPostRedisplay();
}

void keyboard(unsigned char key, int, int)
{
    if (!handle_key(key)) std::exit(0);
    glutPostRedisplay();
}

void special_key(int key, int, int)
{
    if (key == GLUT_KEY_F1) {
        overlay_shown = !overlay_shown;
        glutPostRedisplay();
    }
}
