// The GLUT window and its callbacks.
#pragma once

extern int vp_x, vp_w, vp_y, vp_h;  // the viewport, which the legend draws in

void init_window(const char* title);
void display();
void reshape(int width, int height);
void keyboard(unsigned char key, int x, int y);

// F1 shows or hides the help panel; other special keys do nothing.
void special_key(int key, int x, int y);
