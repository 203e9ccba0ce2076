// The phantom's anatomy: the frame it is modelled in, its tissues, and the
// parts each source file paints.
//
// Frame, in millimetres: x across the head, y towards the face, z up, with
// z = 0 the Frankfort plane through the tops of the ear canals and the
// lower rims of the orbits. The head is symmetric; every part is evaluated
// at x >= 0 only and paired parts are modelled on that side.
#pragma once

#include "geometry.h"

namespace phantom {

// Densities on the 12-bit scale (air 0, water 1024).
constexpr double air = 20;  // a CT's air: a little above 0, with its noise around it
constexpr double skin = 1062, fat = 940, muscle = 1058;
constexpr double csf = 1026, grey_matter = 1064, white_matter = 1050;
constexpr double vitreous = 1030, lens = 1130, disc = 1090, cartilage = 1120, mucosa = 1055;
constexpr double enamel = 3000, dentine = 2600, pulp = 1080;

// How much a point varies with the texture: soft tissue a little, bone
// (trabeculae) a lot. The texture itself is added once per voxel.
constexpr double soft_texture = 14, cortical_texture = 80, cancellous_texture = 190;

// A sample of tissue: its density and how strongly the texture modulates it.
struct tissue {
    double density, texture;
};

// Inner boundaries blend over edge_mm, about the width of a voxel.
constexpr double edge_mm = 1.1;

// How much of a voxel lies inside a surface at distance d.
inline double cover(double d, double edge = edge_mm) { return clamp(0.5 - d / edge, 0.0, 1.0); }

// Blends value into t where d is inside.
inline void paint(tissue& t, double d, tissue value, double edge = edge_mm)
{
    if (d >= 0.5 * edge) return;
    const double c = cover(d, edge);
    t.density = mix(t.density, value.density, c);
    t.texture = mix(t.texture, value.texture, c);
}
inline void paint(tissue& t, double d, double density) { paint(t, d, {density, soft_texture}); }
inline void paint_air(tissue& t, double d) { paint(t, d, {air, 0}); }

// A bone: a dense cortex cortex_mm deep over lighter cancellous bone.
struct bone {
    double cortical, cancellous, cortex_mm;
};

// Bone surfaces blend over bone_edge_mm: a ramp a few voxels wide, on which
// the viewer's gradient finds the same normal wherever the surface falls
// between voxels, so that smooth bone shades smoothly rather than in rings.
constexpr double bone_edge_mm = 2.6;
inline double bone_cover(double d) { return clamp(0.5 - d / bone_edge_mm, 0.0, 1.0); }

inline void paint_bone(tissue& t, double d, const bone& b)
{
    const double c = bone_cover(d);
    if (c <= 0) return;
    const double inner = smoothstep(b.cortex_mm, b.cortex_mm + 1.2, -d);
    t.density = mix(t.density, mix(b.cortical, b.cancellous, inner), c);
    t.texture = mix(t.texture, mix(cortical_texture, cancellous_texture, inner), c);
}

// ---- landmarks shared between parts -------------------------------------

// The braincase: an ovoid 185 mm long from glabella to opisthocranion and
// 145 mm broad, under scalp_mm of scalp.
constexpr vec3 braincase_centre{0, -8.5, 30};
constexpr vec3 braincase_radii{72.5, 92.5, 96};
constexpr double vault_mm = 6.5;  // outer table, diploe and inner table
constexpr double scalp_mm = 5.5;

// The eyeball, centred in the front of its orbit.
constexpr vec3 eye_centre{31, 70, 15};
constexpr double eye_radius = 12;

// The axis through the condyles, about which the mandible turns open.
constexpr double condyle_axis_y = 9, condyle_axis_z = -12;

// The occlusal plane at y, before the jaw opens: the incisal edges at
// z = -56, rising 9 degrees towards the molars.
inline double occlusal_z(double y) { return -56 + (80 - y) * 0.16; }

// ---- the parts ----------------------------------------------------------

// skin.cpp: the outer surface of the head. The face below the forehead is a
// stack of horizontal sections, fixed per height; face_at gives the one for
// z, which head_surface takes.
struct face_shape {
    double half_width, front, square, width_slope, front_slope;
    bool present;  // false above and below the stack
};
face_shape face_at(double z);
double head_surface(vec3 p, const face_shape& face);
// The braincase's outer surface grown by inflate mm.
double braincase(vec3 p, double inflate);
// Skin over fat over muscle, by depth below the skin.
double soft_tissue(double depth);
// The air of the ear canals, from the concha to the eardrum; skin 1 mm
// thick lines them.
double ear_canal(vec3 p);

// skull.cpp: the cranium (vault, base, face) with what its cavities hold.
void paint_skull(tissue& t, vec3 p);

// soft.cpp: what fills the cranial cavity (at distance cavity) and the
// orbits (behind the plane of their opening), and the eyes.
void paint_brain(tissue& t, vec3 p, double cavity);
void paint_orbit(tissue& t, vec3 p, double cavity, double opening);
void paint_eye(tissue& t, vec3 p);

// jaw.cpp: the mandible, the teeth of both arcades, tongue and mouth.
void paint_jaws(tissue& t, vec3 p);

// neck.cpp: the cervical spine with the cord, the hyoid and the airway.
void paint_neck(tissue& t, vec3 p);

}  // namespace phantom
