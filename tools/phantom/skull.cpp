// The cranium: the braincase with its base, the facial skeleton, and what
// their cavities hold.
//
// The bone is one solid (braincase, base, maxillae, cheekbones, arches,
// nasal bones) from which the cavities are cut (cranial cavity, orbits,
// nasal cavity, sinuses, foramina). The distance to that bone tells the
// dense cortex near its surfaces from the lighter diploe and cancellous
// bone inside. The orbits' thin walls are added back last, so that no
// neighbouring cavity opens into an orbit.
#include "anatomy.h"
#include "texture.h"

namespace phantom {

namespace {

constexpr bone vault_bone{2250, 1450, 1.8};
constexpr bone face_bone{2150, 1420, 1.3};
constexpr double petrous_bone = 2300;

// ---- the braincase --------------------------------------------------------

// The braincase narrows towards its base, where the temporal squama lie
// under the temporal muscles.
double base_taper(double z) { return 1 - 0.08 * smoothstep(35, -15, z); }

double vault_outer(vec3 p) { return braincase({p.x / base_taper(p.z), p.y, p.z}, 0); }
double vault_inner(vec3 p) { return braincase({p.x / base_taper(p.z), p.y, p.z}, -vault_mm); }

// Heights of the floor of the cranial cavity (z, mm above the Frankfort
// plane) and where its ridges run.
constexpr double anterior_fossa_z = 26;  // over the orbits, domed up by orbital_dome
constexpr double orbital_dome = 8;
constexpr double cribriform_depth = 8;     // the olfactory groove at the midline
constexpr double middle_fossa_z = 2;       // under the temporal lobes
constexpr double sella_floor_z = 8;        // the pituitary fossa
constexpr double dorsum_sellae_z = 22;     // the crest behind it, top of the clivus
constexpr double petrous_crest_z = 14;     // the petrous ridges
constexpr double posterior_fossa_z = -22;  // under the cerebellum, level with the foramen magnum

// The lesser wings of the sphenoid sweep forwards to the sides; the
// petrous ridges sweep backwards from the clivus.
double sphenoid_ridge_y(double ax) { return 32 + 0.3 * ax; }
double petrous_ridge_y(double ax) { return ax < 12 ? 16 : 16 - 0.8 * (ax - 12); }

double anterior_floor(double ax, double y)
{
    const double dome = bump(ax - 28, 17) * bump(y - 56, 26);
    const double groove = (1 - smoothstep(4, 9, ax)) * smoothstep(36, 44, y);
    return anterior_fossa_z + orbital_dome * dome - cribriform_depth * groove + 10 * smoothstep(42, 62, ax);
}

// The middle fossa is a bowl under each temporal lobe, rising towards the
// midline to the sides of the sella (a pit in front of the dorsum) and out
// to the squama.
double middle_floor(double ax, double y)
{
    const double bowl = 4 * bump(ax - 36, 14) * bump(y - 12, 22);
    const double f = middle_fossa_z - bowl + 12 * (1 - smoothstep(12, 24, ax)) + 14 * smoothstep(50, 66, ax);
    const double pit = (1 - smoothstep(7, 11, ax)) * bump(y - 24, 8);
    return f - (f - sella_floor_z) * pit;
}

// The posterior fossa: a bowl under each cerebellar hemisphere either side
// of the foramen magnum, rising out to the mastoids and back to the
// internal occipital protuberance.
double posterior_floor(double ax, double y)
{
    const double bowl = 8 * bump(ax - 26, 20) * bump(y + 50, 26);
    return posterior_fossa_z - bowl + 28 * smoothstep(38, 64, ax) + 26 * smoothstep(-66, -92, y);
}

// Height of the floor of the cranial cavity at (ax, y).
double cranial_floor(double ax, double y)
{
    const double ridge_y = petrous_ridge_y(ax);
    const double crest = mix(dorsum_sellae_z, petrous_crest_z, smoothstep(6, 16, ax));
    if (y < ridge_y) return mix(posterior_floor(ax, y), crest, smoothstep(ridge_y - 18, ridge_y, y));
    const double front_y = sphenoid_ridge_y(ax);
    const double floor = mix(middle_floor(ax, y), anterior_floor(ax, y), smoothstep(front_y - 2, front_y + 4, y));
    return std::fmax(floor, crest - 1.5 * (y - ridge_y));
}

// Thickness of the base under the floor: thin orbital plates in front,
// thicker under the temporal lobes and the cerebellum, thickest along the
// clivus.
double base_thickness(double ax, double y)
{
    const double behind = 1 - smoothstep(petrous_ridge_y(ax) - 2, petrous_ridge_y(ax) + 2, y);
    const double front = smoothstep(sphenoid_ridge_y(ax), sphenoid_ridge_y(ax) + 4, y);
    const double clivus = (1 - smoothstep(10, 16, ax)) * bump(y - 7, 12);
    return mix(mix(5, 7, behind), 3, front) + 5 * clivus;
}

// The front wall of the anterior fossa stands back from the brow, leaving
// room for the frontal sinus.
double frontal_wall(vec3 p) { return (p.y - 67 - 0.4 * (p.z - 26)) / 1.077; }

double cranial_cavity(vec3 p, double floor)
{
    double d = smax(vault_inner(p), floor - p.z, 3);
    if (p.y > 55) d = smax(d, frontal_wall(p), 6);
    return d;
}

// The foramen magnum, 35 mm long and 30 mm wide, from the basion at the
// end of the clivus back to the opisthion.
double foramen_magnum(vec3 p) { return smax(ellipse(p.x, p.y, 0, -17, 15, 17.5), slab(p.z, -45, -8), 1); }

// The petrous part of the temporal bone under its ridge, from the apex by
// the clivus out to the ear.
constexpr vec3 petrous_apex{14, 12, 6}, petrous_base{50, -16, 2};
double petrous(vec3 p) { return capsule(p, petrous_apex, petrous_base, 7, 10); }

// The mastoid process, a cone pointing down behind the ear canal, and the
// tympanic bone around the canal.
constexpr vec3 mastoid_top{53, -16, 0}, mastoid_tip{50, -21, -27};
double mastoid(vec3 p)
{
    const double tympanic = capsule(p, {44, -4, -4}, {58, -4, -4}, 6.5, 6);
    return smin(capsule(p, mastoid_top, mastoid_tip, 11, 5), tympanic, 4);
}

// The occipital condyles on either side of the front of the foramen
// magnum, on which the atlas rocks.
constexpr vec3 condyle_centre{15, -8, -27}, condyle_radii{5.5, 10, 4.5};

// The bony part of the ear canal, 7 mm across, ending at the middle ear.
constexpr vec3 bony_canal_outer{64, -4, -4}, bony_canal_inner{50, -4, -4};

// The pit of the jaw joint in front of the ear canal.
constexpr vec3 glenoid_centre{50, 9, -4}, glenoid_radii{13, 7, 5.5};

// The body of the sphenoid behind the nose, the clivus running down and
// back from it to the foramen magnum, and the pterygoid plates that hang
// from it behind the maxilla.
double sphenoid(vec3 p)
{
    const double clivus = capsule({p.x * 0.6, p.y, p.z}, {0, 21, 18}, {0, 4, -22}, 7, 6);
    const double body = smin(rounded_box(p, {0, 24, -2}, {19, 14, 16}, 4), clivus, 4);
    double plates = rounded_box(p, {18, 30, -27}, {7, 5, 11}, 2);
    plates = smax(plates, -rounded_box(p, {18, 27, -29}, {3, 6, 10}, 1), 1);
    return smin(body, plates, 3);
}

// ---- the facial skeleton -----------------------------------------------

// The maxillae: a block behind the face from the orbits down to the palate.
// Below the orbits its front curves back towards the cheekbones and is
// hollowed under the rim (the canine fossa); between the orbits it rises as
// the frontal processes, sloping back from the nasal bones to the medial
// orbital rims. Lateral to the nose its top is the orbits' floor.
double maxillae(vec3 p)
{
    const double canine_fossa = 3 * bump(p.x - 24, 9) * bump(p.z + 16, 10);
    const double below_orbits = 81 - 0.013 * p.x * p.x - canine_fossa;
    const double between_orbits = 81 - 0.45 * p.x;
    const double front = p.y - mix(below_orbits, between_orbits, smoothstep(-10, 2, p.z));
    const double lateral = p.x - mix(33, 41, smoothstep(-30, -12, p.z)) + 7 * smoothstep(50, 38, p.y);
    const double top = p.z - mix(22, -4, smoothstep(10, 16, p.x));
    return smax(smax(front, 36 - p.y, 4), smax(lateral, std::fmax(top, -36 - p.z), 4), 4);
}

// The upper alveolar process: a U of bone around the roots of the upper
// teeth, down to just above their necks. The roots of the front teeth lean
// back, and the U is shorter than the arcade.
constexpr double upper_arch_cy = 40, upper_arch_rx = 27, upper_arch_ry = 36;
double upper_alveolus(vec3 p)
{
    const double arch = ellipse(p.x, p.y, 0, upper_arch_cy, upper_arch_rx, upper_arch_ry);
    const double crest = occlusal_z(p.y) + mix(12, 9, smoothstep(65, 48, p.y));
    return smax(smax(std::fabs(arch) - 6.5, slab(p.z, crest, -30), 3), 36 - p.y, 3);
}

// An oval bar from a to b, across wide in x and deep in y.
double oval_bar(vec3 p, vec3 a, vec3 b, double across, double deep)
{
    const double s = across / deep;
    return capsule({p.x, p.y * s, p.z}, {a.x, a.y * s, a.z}, {b.x, b.y * s, b.z}, across, across);
}

// The cheekbone: its body under the orbit, a plate facing forwards and out;
// its frontal process up the lateral rim of the orbit; and the zygomatic
// arch back to the temporal bone in front of the ear.
double cheekbone(vec3 p)
{
    double d = ellipsoid(p, {47, 58, -7}, {9, 11, 12});
    d = smin(d, oval_bar(p, {48, 57, -2}, {47, 59, 26}, 4, 7), 6);
    d = smin(d, flat_bar(p, {48, 52, -7}, {60, 32, -5}, 2.6, 5), 3);
    d = smin(d, flat_bar(p, {60, 32, -5}, {61, 8, 0}, 2.6, 5), 3);
    return d;
}

// The brow: a ridge across the forehead over both orbits, strongest at the
// glabella and receding to the sides with the forehead's curve.
double brow(vec3 p) { return smax(ellipsoid(p, {0, 51, 31}, {48, 34, 10}), 55 - p.y, 4); }

// The nasal bones: a narrow roof from the nasion down to the rhinion,
// steep-sided like a tent.
constexpr vec3 nasion{0, 82, 19}, rhinion{0, 91, -5};
double nasal_bones(vec3 p)
{
    const double ty = rhinion.y - nasion.y, tz = rhinion.z - nasion.z;
    const double run = length(ty, tz);
    const double dy = p.y - nasion.y, dz = p.z - nasion.z;
    const double along = (dy * ty + dz * tz) / run;
    const double ahead = (dy * -tz + dz * ty) / run;
    constexpr double cos_half = 0.5, sin_half = 0.866;  // half angle 60 degrees
    const double tent = p.x * cos_half + ahead * sin_half;
    return smax(smax(smax(tent, -tent - 3, 1), slab(along, 0, run), 2), p.x - 11, 2);
}

// ---- cavities ------------------------------------------------------------

// The orbit: a four-sided pyramid from the optic canal at its apex forward
// to the rim, 40 mm wide and 35 high, its axis turned 27 degrees out from
// the midline. The section is a rounded rectangle that grows steadily from
// the apex to a centimetre behind the rim.
constexpr vec3 orbit_apex{15, 34, 14}, orbit_rim_centre{34, 72, 16};
struct orbit_frame {
    vec3 axis, side, up;
};
orbit_frame make_orbit_frame()
{
    const vec3 a = orbit_rim_centre - orbit_apex;
    const vec3 axis = a * (1 / length(a));
    const double h = length(axis.x, axis.y);
    const vec3 side{axis.y / h, -axis.x / h, 0};
    const vec3 up{side.y * axis.z - side.z * axis.y, side.z * axis.x - side.x * axis.z,
                  side.x * axis.y - side.y * axis.x};
    return {axis, side, up};
}
const orbit_frame orbit_axes = make_orbit_frame();

double orbit(vec3 p)
{
    const vec3 d = p - orbit_apex;
    const double t = dot(d, orbit_axes.axis);
    const double grown = smin(std::fmax(t, 0.0) / 32, 1, 0.15);
    const double half_width = 2.5 + 17.5 * grown, half_height = 2.5 + 15 * grown;
    const double section = rounded_rect(dot(d, orbit_axes.side), dot(d, orbit_axes.up), half_width, half_height,
                                        0.8 * std::fmin(half_width, half_height));
    return std::fmax(section * 0.95, -t);
}

// The plane of the orbit's opening, facing forwards and out; the walls lie
// behind it. The lateral rim stands 14 mm behind the medial one.
constexpr vec3 orbit_opening_centre{33, 73, 16}, orbit_opening_normal{0.359, 0.921, -0.147};
double orbit_opening(vec3 p) { return dot(p - orbit_opening_centre, orbit_opening_normal); }

// The rim: a rounded oval plate, 10 mm thick, lying in the plane of the
// opening, through which the orbit is cut. In-plane axes: out and up.
struct rim_frame {
    vec3 out, up;
};
rim_frame make_rim_frame()
{
    const vec3 n = orbit_opening_normal;
    const double h = length(n.x, n.y);
    const vec3 out{n.y / h, -n.x / h, 0};
    return {out, {n.z * out.y - n.y * out.z, n.x * out.z - n.z * out.x, n.y * out.x - n.x * out.y}};
}
const rim_frame rim_axes = make_rim_frame();
double orbit_rim(vec3 p)
{
    const vec3 d = p - orbit_opening_centre;
    const double oval = ellipse(dot(d, rim_axes.out), dot(d, rim_axes.up), 0, 0, 25, 23);
    return smax(std::fabs(orbit_opening(p) + 4) - 5, oval, 5);
}

// The walls of the orbit, 2.5 mm thick, ending short of its opening, where
// the brow, the cheekbone and the maxilla form the rim.
double orbit_walls(vec3 p, double cavity) { return std::fmax(shell(cavity, 2.5), orbit_opening(p) + 8); }

constexpr vec3 optic_canal_outer{15, 34, 14}, optic_canal_inner{7, 24, 18};

// The fissures at the back of the orbit: the superior between the wings
// of the sphenoid, the inferior between the floor and the lateral wall.
double orbital_fissures(vec3 p)
{
    return std::fmin(capsule(p, {18, 36, 18}, {29, 40, 27}, 1.8, 1.4), capsule(p, {21, 37, 6}, {37, 52, 1}, 1.6, 1.6));
}

// The nasal cavity: widest over its floor, narrowing up to the cribriform
// plate, open in front through the pear-shaped aperture and behind into the
// nasopharynx.
constexpr double nasal_floor_z = -31;
double nasal_half_width(double z)
{
    return z < -10 ? mix(15, 13, smoothstep(nasal_floor_z, -10, z)) : mix(13, 3.5, smoothstep(-10, 18, z));
}
double nasal_roof(double y) { return 18 - 20 * smoothstep(70, 92, y) - 18 * smoothstep(42, 30, y); }
// The piriform aperture: narrow under the nasal bones, widest low down,
// rounding off over the floor.
double nasal_aperture(vec3 p)
{
    const double half_width = 3 + 9.5 * smoothstep(-5, -20, p.z) - 4 * smoothstep(-26, -32, p.z);
    return smax(p.x - half_width, slab(p.z, -32, -4), 2);
}
double nasal_cavity(vec3 p)
{
    double d = smax(p.x - nasal_half_width(p.z), nasal_floor_z - p.z, 3);
    d = smax(d, p.z - nasal_roof(p.y), 3);
    d = smax(d, slab(p.y, 30 + 6 * smoothstep(-18, -12, p.z), 88), 2);
    return smax(d, nasal_aperture(p) - 30 * (1 - smoothstep(68, 76, p.y)), 1);
}

// The anterior nasal spine juts forward at the foot of the aperture.
constexpr vec3 nasal_spine_root{0, 79, -31}, nasal_spine_tip{0, 87, -30};

// The maxillary sinus in the body of each maxilla, under the orbit.
constexpr vec3 maxillary_sinus_centre{26, 54, -17}, maxillary_sinus_radii{11, 13, 12};

// The frontal sinus behind the brow, either side of a septum.
constexpr vec3 frontal_sinus_centre{9, 77.5, 34}, frontal_sinus_radii{7.5, 3, 9};

// The sphenoid sinus in the body of the sphenoid, under the sella.
constexpr vec3 sphenoid_sinus_centre{9, 24, -3}, sphenoid_sinus_radii{8, 9, 8};

// The ethmoid air cells between the orbits, above the nasal cavity.
double ethmoid_cells(vec3 p, double orbit_cavity)
{
    const double box = rounded_box(p, {6.5, 56, 8}, {4.5, 15, 9}, 2);
    return smax(smax(box, 2.5 - orbit_cavity, 1), 1.2 - p.x, 1);
}

// ---- what the cavities hold ------------------------------------------------

// The septum down the middle of the nose, bone behind and cartilage in
// front; the turbinates on the lateral walls, mucosa over a thin scroll of
// bone.
void paint_nasal_contents(tissue& t, vec3 p, double cavity)
{
    paint(t, cavity, mucosa);
    paint_air(t, cavity + 1.5);
    if (p.x < 3) {
        const double septum = std::fmax(p.x - 1.2, cavity);
        paint(t, septum - 1, mucosa);
        paint(t, septum, {p.y < 66 ? 1500.0 : cartilage, cortical_texture});
    }
    if (p.x > 2.5) {
        const double turbinates =
            std::fmin(std::fmin(ellipsoid(p, {11.5, 55, -22}, {3.5, 21, 5}), ellipsoid(p, {9.5, 55, -5}, {3, 17, 4.5})),
                      ellipsoid(p, {6, 50, 7}, {2.2, 10, 3}));
        paint(t, turbinates, mucosa);
        paint(t, turbinates + 1.6, {1500, cortical_texture});
    }
}

// Air cells about 4 mm across inside a cavity at distance cavity, with thin
// walls of bone between them where the noise crosses zero.
double air_cells(double cavity, vec3 p, std::uint32_t seed)
{
    if (cavity >= 0.5 * edge_mm) return cavity;
    return std::fmax(cavity, 0.6 - 4 * std::fabs(value_noise(p, 4.0, seed)));
}

// ---- assembly --------------------------------------------------------------

// Bone surfaces are not smooth: a relief of about half a millimetre, a few
// centimetres and a few millimetres across, breaks up the terraces that a
// smooth surface shades into.
double relief(vec3 p) { return 0.4 * value_noise(p, 12, 31) + 0.12 * value_noise(p, 3, 32); }

// The whole solid of the cranium before its cavities are cut.
double cranium_solid(vec3 p, double floor)
{
    const double ax = p.x;
    double d = smax(vault_outer(p), floor - base_thickness(ax, p.y) - p.z, 3);
    if (near(p, {0, 20, -8}, {26, 18, 26}, d + 3)) d = smin(d, sphenoid(p), 3);
    if (near_capsule(p, petrous_apex, petrous_base, 10, d + 3)) d = smin(d, petrous(p), 3);
    if (near(p, {51, -12, -12}, {14, 16, 17}, d + 4)) d = smin(d, mastoid(p), 4);
    if (near(p, condyle_centre, condyle_radii, d + 2)) d = smin(d, ellipsoid(p, condyle_centre, condyle_radii), 2);
    if (p.y > 30) {
        if (near(p, {20, 59, -7}, {22, 24, 31}, d + 6)) d = smin(d, maxillae(p), 6);
        if (near(p, {0, 60, -40}, {34, 22, 12}, d + 3)) d = smin(d, upper_alveolus(p), 3);
        if (near(p, {0, 70, 31}, {54, 16, 10}, d + 8)) d = smin(d, brow(p), 8);
        if (near(p, {34, 66, 16}, {31, 15, 30}, d + 6)) d = smin(d, orbit_rim(p), 6);
        if (near(p, {0, 86, 7}, {14, 8, 14}, d + 2)) d = smin(d, nasal_bones(p), 2);
    }
    if (near(p, {53, 35, 6}, {14, 29, 29}, d + 6)) d = smin(d, cheekbone(p), 6);
    return d;
}

}  // namespace

void paint_skull(tissue& t, vec3 p)
{
    // Nothing of the cranium lies below the condyles, the mastoids and the teeth.
    if (p.z < -55 || (p.z < -40 && p.y < 30)) return;
    const double ax = p.x;
    const double floor = cranial_floor(ax, p.y);
    double bone = cranium_solid(p, floor);

    // The ear canal's air, and its bony part through the tympanic bone, lined
    // with skin and closed by the eardrum.
    const double canal = ear_canal(p);
    if (canal < 0.5 * edge_mm) paint_air(t, canal);
    if (bone > 12) return;
    if (near_capsule(p, bony_canal_outer, bony_canal_inner, 3.5, edge_mm))
        bone = smax(bone, -capsule(p, bony_canal_outer, bony_canal_inner, 3.5, 3.5), 1);

    const double cavity = cranial_cavity(p, floor);
    if (cavity < 0.5 * edge_mm) paint_brain(t, p, cavity);
    bone = smax(bone, -cavity, 1.5);
    if (near(p, {0, -17, -26}, {15, 17.5, 19}, edge_mm)) bone = smax(bone, -foramen_magnum(p), 1);

    // The jaw joint's pit.
    if (near(p, glenoid_centre, glenoid_radii, edge_mm))
        bone = smax(bone, -ellipsoid(p, glenoid_centre, glenoid_radii), 2);

    // Mastoid air cells inside the process, under a cortex.
    if (near_capsule(p, mastoid_top, mastoid_tip, 11, edge_mm)) {
        const double cells = air_cells(capsule(p, mastoid_top, mastoid_tip, 11, 5) + 2.5, p, 21);
        paint_air(t, cells);
        bone = smax(bone, -cells, 0.5);
    }

    // The face's cavities.
    double orbit_cavity = 1e9;
    if (p.y > 12 && p.z > -35) {
        if (near(p, {29, 60, 15}, {25, 30, 24}, edge_mm + 3)) {
            orbit_cavity = orbit(p);
            if (orbit_cavity < 0.5 * edge_mm) paint_orbit(t, p, orbit_cavity, orbit_opening(p));
            bone = smax(bone, -orbit_cavity, 4);
        }
        if (near(p, {8, 59, -6}, {16, 30, 26}, edge_mm)) {
            const double nasal = nasal_cavity(p);
            if (nasal < 0.5 * edge_mm) paint_nasal_contents(t, p, nasal);
            bone = smax(bone, -nasal, 1);
        }
        if (near(p, {6.5, 56, 8}, {4.5, 15, 9}, edge_mm)) {
            const double cells = air_cells(ethmoid_cells(p, orbit_cavity), p, 22);
            paint_air(t, cells);
            bone = smax(bone, -cells, 0.5);
        }
        if (near(p, maxillary_sinus_centre, maxillary_sinus_radii, edge_mm)) {
            const double sinus = ellipsoid(p, maxillary_sinus_centre, maxillary_sinus_radii);
            paint_air(t, sinus);
            bone = smax(bone, -sinus, 1);
        }
        if (near(p, frontal_sinus_centre, frontal_sinus_radii, edge_mm)) {
            const double sinus = std::fmax(ellipsoid(p, frontal_sinus_centre, frontal_sinus_radii), 1 - p.x);
            paint_air(t, sinus);
            bone = smax(bone, -sinus, 1);
        }
        if (near(p, sphenoid_sinus_centre, sphenoid_sinus_radii, edge_mm)) {
            const double sinus = std::fmax(ellipsoid(p, sphenoid_sinus_centre, sphenoid_sinus_radii), 1 - p.x);
            paint_air(t, sinus);
            bone = smax(bone, -sinus, 1);
        }
        if (orbit_cavity < 8) bone = smin(bone, orbit_walls(p, orbit_cavity), 1);
        if (near_capsule(p, optic_canal_outer, optic_canal_inner, 2.5, edge_mm))
            bone = smax(bone, -capsule(p, optic_canal_outer, optic_canal_inner, 2.5, 2.5), 1);
        if (near(p, {28, 44, 14}, {11, 10, 15}, edge_mm)) bone = smax(bone, -orbital_fissures(p), 1);
        if (orbit_cavity < edge_mm) bone = smax(bone, -orbit_cavity, 0.5);
        if (near_capsule(p, nasal_spine_root, nasal_spine_tip, 2.5, edge_mm))
            bone = smin(bone, capsule(p, nasal_spine_root, nasal_spine_tip, 2.5, 1), 1.5);
    }

    if (std::fabs(bone) < 2) bone += relief(p);

    // Facial bones are thinner-walled than the vault; the petrous bone is
    // dense throughout.
    const double facial = smoothstep(25, 35, p.y) * smoothstep(30, 20, p.z);
    paint_bone(t, bone,
               {mix(vault_bone.cortical, face_bone.cortical, facial),
                mix(vault_bone.cancellous, face_bone.cancellous, facial),
                mix(vault_bone.cortex_mm, face_bone.cortex_mm, facial)});
    if (near_capsule(p, petrous_apex, petrous_base, 10, edge_mm))
        paint(t, std::fmax(bone, petrous(p) + 1.5), {petrous_bone, cortical_texture});
}

}  // namespace phantom
