// crane: an interactive CT head volume viewer.
#include <GL/glut.h>

#include <string>

#include "app/console.h"
#include "app/saving.h"
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

    // Said here, in one line, rather than by GLUT, which would end the
    // program on its own message.
    std::string display_name;
    if (!display_opens(argc, argv, display_name)) {
        say_no_display(display_name);
        return 1;
    }
    note_program(argv[0], source == data_source::sphere);

    glutInit(&argc, argv);
    init_window(title);
    compute_image();
    glutDisplayFunc(display);
    glutReshapeFunc(reshape);
    glutKeyboardFunc(keyboard);
    glutSpecialFunc(special_key);
    glutMouseFunc(mouse_button);
    glutMotionFunc(mouse_motion);
    glutMainLoop();
    return 0;
}
