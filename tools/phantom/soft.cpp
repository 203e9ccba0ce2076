// What fills the cranial cavity and the orbits: brain, fluid, fat, muscle
// and the eyes.
#include "anatomy.h"

namespace phantom {

void paint_brain(tissue& t, vec3 p, double cavity)
{
    // Fluid under the inner table, then cortex over white matter.
    paint(t, cavity, csf);
    const double brain = cavity + 1.5;
    if (brain >= 0.5 * edge_mm) return;
    paint(t, brain, mix(grey_matter, white_matter, smoothstep(2.5, 4, -brain)));

    // The deep grey nuclei and the lateral and third ventricles.
    if (near(p, {16, 8, 39}, {9, 16, 10}, edge_mm)) paint(t, ellipsoid(p, {16, 8, 39}, {9, 16, 10}), grey_matter);
    if (near(p, {15, 0, 38}, {17, 44, 25}, edge_mm)) {
        double ventricles = capsule(p, {9, 38, 53}, {11, -8, 57}, 4, 4.5);
        ventricles = smin(ventricles, capsule(p, {11, -8, 57}, {20, -38, 45}, 4.5, 5.5), 3);
        ventricles = smin(ventricles, capsule(p, {20, -34, 45}, {30, 12, 17}, 2.5, 2), 2);
        ventricles = std::fmin(ventricles, ellipsoid(p, {0, 8, 37}, {2, 14, 9}));
        paint(t, ventricles, csf);
    }

    // The brainstem along the clivus down to the foramen magnum, with the
    // fourth ventricle behind it.
    if (near(p, {0, -7, 0}, {11, 18, 33}, edge_mm)) {
        paint(t, capsule(p, {0, 0, 22}, {0, -14, -22}, 11, 8), white_matter);
        paint(t, ellipsoid(p, {0, -17, -4}, {4, 3, 6}), csf);
    }

    // The fissure between the hemispheres.
    if (p.z > 62) paint(t, std::fmax(p.x - 1.2, 63 - p.z), csf);
}

void paint_orbit(tissue& t, vec3 p, double cavity, double opening)
{
    paint(t, std::fmax(cavity, opening), fat);
    // The optic nerve and the four recti, from the apex to the globe.
    constexpr vec3 apex{16, 36, 14};
    paint(t, capsule(p, apex, {31, 58, 15}, 2.2, 2.2), white_matter);
    paint(t,
          std::fmin(std::fmin(capsule(p, apex, {31, 64, 26}, 1.5, 2.5), capsule(p, apex, {31, 64, 4}, 1.5, 2.5)),
                    std::fmin(capsule(p, apex, {20, 66, 15}, 1.5, 2.5), capsule(p, apex, {42, 63, 15}, 1.5, 2.5))),
          muscle);
}

void paint_eye(tissue& t, vec3 p)
{
    if (!near(p, eye_centre, {eye_radius, eye_radius, eye_radius}, edge_mm)) return;
    const double globe = length(p - eye_centre) - eye_radius;
    paint(t, globe, skin);
    paint(t, globe + 1, vitreous);
    paint(t, ellipsoid(p, {31, 79.5, 15}, {4.5, 2, 4.5}), lens);
}

}  // namespace phantom
