// The help panel's text and the scene over the image.
#include "app/status.h"

#include <cmath>
#include <cstdio>

#include "app/view_state.h"

bool overlay_shown = false;

// The text is Latin-1, as the bitmap font; its accents are written in
// octal (\351 is é, \350 è, \311 É, \260 the degree sign).

namespace {

const char* view_name(int mode)
{
    switch (mode) {
    case 0: return "surface";
    case 1: return "densit\351 cumul\351e";
    case 2: return "surface et densit\351";
    case 3: return "coupe";
    default: return "?";
    }
}

// v with that many decimals, as printf writes it.
std::string decimal(double v, int places)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", places, v);
    return text;
}

}  // namespace

std::string degrees_text(float radians)
{
    double tenths = std::round(double(radians) * 1800.0 / 3.14159265358979323846);
    if (tenths == 0.0) tenths = 0.0;  // no "-0,0"
    std::string text = decimal(tenths / 10.0, 1);
    text[text.find('.')] = ',';
    return text + "\260";
}

std::vector<std::string> status_lines()
{
    return {
        std::string("Vue : ") + view_name(render_mode) + " (mode " + std::to_string(render_mode) + ")",
        "Niveau " + decimal(surface_level, 0) + ", seuil " + decimal(density_threshold, 0),
        "Couche " + std::to_string(slice_index) + ", premi\350re couche " + std::to_string(start_layer),
        "Angles : a " + degrees_text(angle_a) + ", b " + degrees_text(angle_b),
        "r : vue suivante ; \311chap : quitter",
        "+/- : premi\350re couche ; d/c : couche",
        "q/w : niveau ; s/x : seuil",
        "o/l, m/k ou glisser : tourner",
        "molette : niveau, seuil ou couche",
        "F1 : cette aide ; F12 : enregistrer l'image",
    };
}

std::string threshold_label() { return "seuil " + decimal(density_threshold, 0); }

overlay_scene view_scene(int height, bool legend, bool overlay)
{
    overlay_scene scene;
    if (legend && render_mode == 1) add_legend(scene, height);
    if (overlay) {
        if (render_mode == 1) add_legend_tag(scene, threshold_label(), height);
        add_panel(scene, status_lines());
    }
    return scene;
}
