// The window: creation, and the callbacks that show the computed image.
#include "app/window.h"

#include <GL/glut.h>
#include <X11/Xlib.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/interaction.h"
#include "app/saving.h"
#include "app/status.h"
#include "app/view_state.h"
#include "app/viewer.h"
#include "overlay/draw.h"
#include "render/frame.h"

int vp_x, vp_w, vp_y, vp_h;

namespace {

// The connection that display_opens made, held until GLUT has its own: an
// X server that resets when its last client leaves would otherwise refuse
// GLUT while it resets.
Display* probe_display = nullptr;

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

// Draws the frame, reads back the pixels just drawn, shows them and saves
// them: the file holds what the window shows, legend and panel included.
void save_window_image()
{
    draw_frame();
    std::vector<unsigned char> pixels(std::size_t(vp_w) * std::size_t(vp_h) * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glPixelStorei(GL_PACK_ROW_LENGTH, vp_w);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, vp_w, vp_h, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
    glutSwapBuffers();
    save_shown_image(pixels.data(), vp_w, vp_h);
}

// Registered while the pointer has moved beyond what the image shows: runs
// once the window system's queue is empty, so a burst of motion ends in
// one image for the latest pointer.
void drag_idle()
{
    glutIdleFunc(nullptr);
    drag_update();
    glutPostRedisplay();
}

}  // namespace

bool display_opens(int argc, char** argv, std::string& name)
{
    const char* requested = nullptr;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "-display") == 0) requested = argv[i + 1];
    name = XDisplayName(requested);
    probe_display = XOpenDisplay(requested);
    return probe_display != nullptr;
}

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
    if (probe_display) XCloseDisplay(probe_display);
    probe_display = nullptr;
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
    resize_window(width, height);
    glutPostRedisplay();
}

void keyboard(unsigned char key, int, int)
{
    if (!press_key(key)) std::exit(0);
    glutPostRedisplay();
}

void special_key(int key, int, int)
{
    if (key == GLUT_KEY_F1) {
        overlay_shown = !overlay_shown;
        glutPostRedisplay();
    } else if (key == GLUT_KEY_F12) {
        save_window_image();
    }
}

void mouse_button(int button, int state, int x, int y)
{
    if (button == GLUT_LEFT_BUTTON) {
        if (state == GLUT_DOWN) {
            start_drag(x, y);
        } else {
            glutIdleFunc(nullptr);
            end_drag(x, y);
        }
    } else if ((button == 3 || button == 4) && state == GLUT_DOWN) {
        turn_wheel(button == 3 ? 1 : -1);
    } else {
        return;
    }
    glutPostRedisplay();
}

void mouse_motion(int x, int y)
{
    move_drag(x, y);
    if (drag_update_pending()) glutIdleFunc(drag_idle);
}
