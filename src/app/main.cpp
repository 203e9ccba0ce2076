// crane: an interactive CT head volume viewer.
#include <GL/glut.h>

#include <cstdio>

#include "app/controls.h"
#include "app/window.h"
#include "render/render.h"

int main(int argc, char** argv)
{
    // Progress dots and key feedback appear at once and in order with the
    // messages on standard error, also when the output is not a terminal.
    std::setvbuf(stdout, nullptr, _IONBF, 0);

    const data_source source = parse_command_line(argc, argv);
    if (source == data_source::usage) return 1;
    char title[8];
    if (prepare_volume(source, title) != 0) return 1;

    glutInit(&argc, argv);
    init_window(title);
    compute_image();
    glutDisplayFunc(display);
    glutReshapeFunc(reshape);
    glutKeyboardFunc(keyboard);
    glutMainLoop();
    return 0;
}
