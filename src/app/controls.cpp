// View state, command line and keyboard controls.
#include "app/controls.h"

#include <cstdio>
#include <cstring>

#include "render/render.h"
#include "volume/volume.h"

int render_mode = 0;
int start_layer = 0;
double surface_level = 1100.0;
double density_threshold = 4000.0;
int slice_index = 90;
float angle_a = 0.0f;
float angle_b = 0.0f;

void reset_view_state()
{
    render_mode = 0;
    start_layer = 0;
    surface_level = 1100.0;
    density_threshold = 4000.0;
    slice_index = 90;
    angle_a = 0.0f;
    angle_b = 0.0f;
}

data_source parse_command_line(int argc, char** argv)
{
    if (argc <= 1) return data_source::head;
    int choice = 0;  // anything but 1, so that a word that does not parse is refused
    std::sscanf(argv[1], "%d", &choice);
    if (choice == 1) return data_source::sphere;
    std::fprintf(stderr, " Utilisation : %s [n]\n", argv[0]);
    std::fprintf(stderr, "n = 1 : sphere , defaut : face\n");
    return data_source::usage;
}

int prepare_volume(data_source source, char* title)
{
    if (source == data_source::sphere) {
        std::fprintf(stderr, "Calcul d'une sphere\n");
        make_sphere_volume();
        std::strcpy(title, "Sph\xE8re");  // Latin-1, handed to the window system as is
        return 0;
    }
    std::fprintf(stderr, "Chargement du crane\n");
    if (load_head_volume() != 0) return -1;
    std::strcpy(title, "Crane");
    return 0;
}

namespace {

// An angle step is taken in double and stored back as float; the angles are
// never wrapped.
float step_angle(float angle, double step) { return float(double(angle) + step); }

}  // namespace

bool apply_key(unsigned char key)
{
    switch (key) {
    case 27: return false;
    case '+':
        start_layer += 10;
        if (start_layer >= dim_z) start_layer = dim_z - 1;
        break;
    case '-':
        start_layer -= 10;
        if (start_layer < 0) start_layer = 0;
        break;
    case 'c':
        slice_index -= 1;
        std::printf("numero de couche = %d", slice_index);
        break;
    case 'd':
        slice_index += 1;
        std::printf("numero de couche = %d", slice_index);
        break;
    case 'k':
        angle_b = step_angle(angle_b, -0.1);
        rotate_volume(angle_a, angle_b);
        break;
    case 'l':
        angle_a = step_angle(angle_a, -0.1);
        rotate_volume(angle_a, angle_b);
        break;
    case 'm':
        angle_b = step_angle(angle_b, 0.1);
        rotate_volume(angle_a, angle_b);
        break;
    case 'o':
        angle_a = step_angle(angle_a, 0.1);
        rotate_volume(angle_a, angle_b);
        break;
    case 'q': surface_level += 100.0; break;
    case 'r': render_mode = (render_mode + 1) % 4; break;
    case 's':
        density_threshold += 100.0;
        std::printf("Seuil de densite = %lf", density_threshold);
        break;
    case 'w': surface_level -= 100.0; break;
    case 'x':
        density_threshold -= 100.0;
        std::printf("Seuil de densite = %lf", density_threshold);
        break;
    default: break;  // any other key still recomputes
    }
    compute_image();
    return true;
}

void resize_view(int width, int height)
{
    if (width != win_width || height != win_height) {
        win_width = width;
        win_height = height;
    }
    compute_image();
}
