// The GLUT window and its callbacks.
#pragma once

#include <string>

extern int vp_x, vp_w, vp_y, vp_h;  // the viewport, which the legend draws in

// Whether the X display that glutInit will open (DISPLAY, or the value
// after a -display argument) opens; its name in name either way.
bool display_opens(int argc, char** argv, std::string& name);

void init_window(const char* title);
void display();
void reshape(int width, int height);
void keyboard(unsigned char key, int x, int y);

// F1 shows or hides the help panel, F12 saves the picture; other special
// keys do nothing.
void special_key(int key, int x, int y);

// The left button drags, the wheel (buttons 3 and 4) steps.
void mouse_button(int button, int state, int x, int y);
void mouse_motion(int x, int y);
