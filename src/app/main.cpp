// crane: an interactive CT head volume viewer.
#include <GL/glut.h>

#include "app/console.h"
#include "app/startup.h"
#include "app/viewer.h"
#include "app/window.h"

int main(int argc, char** argv)
{
    prepare_console();

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
    glutSpecialFunc(special_key);
    glutMainLoop();
    return 0;
}
