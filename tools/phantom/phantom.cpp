// A synthetic CT head built from smooth analytic shapes.
//
// Every voxel is mapped to millimetres (x to the head's left-right, y towards
// the face, z up) and its density is painted layer by layer: air, skin, fat
// and muscle by depth below the skin, then bone, brain, cavities, eyes, jaw
// and neck, each blended in over a millimetre or so (the skin over two) so
// that shaded surfaces come out smooth. Only correctly rounded operations
// (+ - * /, sqrt, floor, min, max) decide a density, and the noise is an
// integer hash, so the output is the same bit for bit everywhere.
#include "phantom.h"

#include "volume/slice_folder.h"
#include "volume/slice_format.h"

#include <cmath>
#include <cstdint>

namespace {

constexpr int side = slice_side;

// Voxel geometry. Slices are 2 mm apart and pixels 0.94 mm, but a whole head
// from the crown to the neck does not fit in 94 slices of 2 mm; the anatomy
// is squeezed vertically to 68 %, which the viewer's square image, 94 slices
// tall and 256 pixels wide, stretches back out to nearly its true shape.
constexpr double pixel_mm = 0.94;
constexpr double slice_mm = 2.0;
constexpr double height_scale = 0.68;
constexpr double centre_col = 127.5;
constexpr double origin_row = 133.0;  // the row of y = 0; the face lies at smaller rows
constexpr double origin_slice = 45.5;

// Densities on the 12-bit scale (air 0, water 1024).
constexpr double skin = 1075, fat = 945, muscle = 1058;
constexpr double csf = 1026, grey_matter = 1064, white_matter = 1050;
constexpr double vitreous = 1030, lens = 1130, disc = 1088;
constexpr double enamel = 3000, dentine = 2450;

constexpr double edge_mm = 1.1;       // width of the blend at inner boundaries
constexpr double skin_edge_mm = 2.0;  // and at the skin, which shaded views show

struct vec3 {
    double x, y, z;
};

vec3 operator-(vec3 a, vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
double dot(vec3 a, vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
double length(vec3 a) { return std::sqrt(dot(a, a)); }

double clamp(double v, double lo, double hi) { return v < lo ? lo : (v > hi ? hi : v); }
double mix(double a, double b, double t) { return a + (b - a) * t; }
double smoothstep(double e0, double e1, double v)
{
    const double t = clamp((v - e0) / (e1 - e0), 0.0, 1.0);
    return t * t * (3 - 2 * t);
}

// Polynomial smooth union and intersection of two distances, blending over k mm.
double smin(double a, double b, double k)
{
    const double h = clamp(0.5 + 0.5 * (b - a) / k, 0.0, 1.0);
    return mix(b, a, h) - k * h * (1 - h);
}
double smax(double a, double b, double k) { return -smin(-a, -b, k); }

// Signed distances (negative inside), exact or close to it near the surface,
// which is all the blends and layer depths need.

double ellipsoid(vec3 p, vec3 c, vec3 r)
{
    const vec3 u{(p.x - c.x) / r.x, (p.y - c.y) / r.y, (p.z - c.z) / r.z};
    const vec3 g{u.x / r.x, u.y / r.y, u.z / r.z};
    const double k0 = length(u), k1 = length(g);
    if (k1 < 1e-12) return -std::fmin(r.x, std::fmin(r.y, r.z));
    return k0 * (k0 - 1) / k1;
}

double ellipse(double x, double y, double cx, double cy, double rx, double ry)
{
    const double ux = (x - cx) / rx, uy = (y - cy) / ry;
    const double gx = ux / rx, gy = uy / ry;
    const double k0 = std::sqrt(ux * ux + uy * uy), k1 = std::sqrt(gx * gx + gy * gy);
    if (k1 < 1e-12) return -std::fmin(rx, ry);
    return k0 * (k0 - 1) / k1;
}

// A superellipsoid that is squarish across (power 4 in x and y) and round in
// z: the flat front of a face, the broad lower jaw.
double block(vec3 p, vec3 c, vec3 r)
{
    const double u = (p.x - c.x) / r.x, v = (p.y - c.y) / r.y, w = (p.z - c.z) / r.z;
    const double q4 = u * u * u * u + v * v * v * v;
    const double q2 = std::sqrt(q4);
    const double f = std::sqrt(q2 + w * w);
    if (f < 1e-9) return -std::fmin(r.x, std::fmin(r.y, r.z));
    // gradient of f = sqrt(sqrt(u^4 + v^4) + w^2)
    const double gq = q2 > 1e-12 ? 1 / (f * q2) : 0.0;
    const double gx = u * u * u * gq / r.x, gy = v * v * v * gq / r.y, gz = w / (f * r.z);
    const double g = std::sqrt(gx * gx + gy * gy + gz * gz);
    return g > 1e-12 ? (f - 1) / g : -std::fmin(r.x, r.y);
}

// A segment a..b thickened by a radius that runs from ra to rb.
double capsule(vec3 p, vec3 a, vec3 b, double ra, double rb)
{
    const vec3 pa = p - a, ba = b - a;
    const double h = clamp(dot(pa, ba) / dot(ba, ba), 0.0, 1.0);
    const vec3 off{pa.x - ba.x * h, pa.y - ba.y * h, pa.z - ba.z * h};
    return length(off) - mix(ra, rb, h);
}

// Distance to the slab lo <= v <= hi.
double slab(double v, double lo, double hi) { return std::fmax(lo - v, v - hi); }

// Whether p lies within margin of the box c +- r. A shape inside that box
// can only be nearer than margin (or deeper than -margin) where this holds,
// which lets most shapes be skipped for most voxels.
bool near(vec3 p, vec3 c, vec3 r, double margin)
{
    return std::fabs(p.x - c.x) < r.x + margin && std::fabs(p.y - c.y) < r.y + margin &&
           std::fabs(p.z - c.z) < r.z + margin;
}

// The box around a capsule.
bool near_capsule(vec3 p, vec3 a, vec3 b, double radius, double margin)
{
    const vec3 c{(a.x + b.x) / 2, (a.y + b.y) / 2, (a.z + b.z) / 2};
    const vec3 r{std::fabs(b.x - a.x) / 2 + radius, std::fabs(b.y - a.y) / 2 + radius,
                 std::fabs(b.z - a.z) / 2 + radius};
    return near(p, c, r, margin);
}

// Smooth union with, and smooth cut of, a shape; skipped where it cannot
// change d.
void join_ellipsoid(double& d, vec3 p, vec3 c, vec3 r, double k)
{
    if (near(p, c, r, d + k)) d = smin(d, ellipsoid(p, c, r), k);
}
void cut_ellipsoid(double& d, vec3 p, vec3 c, vec3 r, double k)
{
    if (near(p, c, r, k - d)) d = smax(d, -ellipsoid(p, c, r), k);
}

// How much of a voxel lies inside a surface at distance d.
double cover(double d) { return clamp(0.5 - d / edge_mm, 0.0, 1.0); }
double skin_cover(double d) { return clamp(0.5 - d / skin_edge_mm, 0.0, 1.0); }

// Blends value into v where d is inside.
void paint(double& v, double d, double value)
{
    if (d < 0.5 * edge_mm) v = mix(v, value, cover(d));
}
void paint_ellipsoid(double& v, vec3 p, vec3 c, vec3 r, double value)
{
    if (near(p, c, r, edge_mm)) paint(v, ellipsoid(p, c, r), value);
}
void paint_capsule(double& v, vec3 p, vec3 a, vec3 b, double ra, double rb, double value)
{
    if (near_capsule(p, a, b, std::fmax(ra, rb), edge_mm)) paint(v, capsule(p, a, b, ra, rb), value);
}

// Bone is dense in a cortex about 2 mm deep and lighter inside.
void paint_bone(double& v, double d, double cortical, double cancellous)
{
    paint(v, d, mix(cortical, cancellous, smoothstep(1.5, 3.0, -d)));
}

// Skin over subcutaneous fat over muscle, by depth below the skin surface.
double soft_tissue(double depth)
{
    return mix(mix(skin, fat, smoothstep(1.5, 2.5, depth)), muscle, smoothstep(4.5, 5.5, depth));
}

// Height of the floor of the cranial cavity: high over the orbits, dropping
// behind the sphenoid ridges (which sweep forwards to the sides) into the
// middle fossa, and deepest behind the petrous ridges (which sweep
// backwards to the sides) under the cerebellum. Behind the orbits the floor
// is a bowl, deeper to the sides than at the midline.
double skull_base(double x, double y)
{
    const double ax = std::fabs(x);
    const double front = smoothstep(25, 50, y - 0.3 * ax);
    return -16 + 34 * front - 6 * (1 - smoothstep(-15, 25, y)) - 18 * (1 - smoothstep(-60, -15, y + 0.6 * ax)) -
           0.005 * x * x * (1 - front);
}

// The braincase, a little narrower at the forehead than at the back.
double cranium(vec3 p)
{
    const double w = 1 - 0.07 * clamp((p.y + 6) / 94, -1.0, 1.0);
    return ellipsoid({p.x / w, p.y, p.z}, {0, -6, 25}, {76, 94, 94});
}

// Paired structures are modelled on the right (x > 0) and mirrored.
vec3 mirrored(vec3 p) { return {std::fabs(p.x), p.y, p.z}; }

// Eyeball centre and radius.
constexpr vec3 eye_centre{31, 70, -2};
constexpr double eye_radius = 12;

// The ear: a thin oval of cartilage standing 30 degrees off the side of the
// head, with a bowl on its outer face. Local axes: across, forwards, up.
constexpr vec3 ear_centre{79, -6, -6};
constexpr double ear_cos = 0.8660254037844386, ear_sin = 0.5;
vec3 ear_local(vec3 m)
{
    const vec3 d = m - ear_centre;
    return {d.x * ear_cos + d.y * ear_sin, -d.x * ear_sin + d.y * ear_cos, d.z};
}

// The face below the forehead as a stack of horizontal sections, each
// an oval from y = face_back to its front and as wide as its half width,
// square at the back and at the cheeks (power 4) and rounding to a U at the
// chin (power 2). Listed from the top down; heights in between are
// interpolated smoothly.
struct face_section {
    double z, half_width, front, square;
};
constexpr face_section face_sections[] = {
    {30, 44, 70, 1},    {16, 56, 82, 1},    {4, 60, 85, 1},     {-12, 62, 83, 1},   {-35, 62, 85, 1},
    {-50, 60, 90, 0.8}, {-62, 59, 92, 0.7}, {-76, 58, 91, 0.6}, {-90, 58, 89, 0.3}, {-104, 50, 94, 0},
    {-116, 46, 86, 0},  {-125, 34, 62, 0},  {-135, 20, 40, 0}};
constexpr int face_section_count = int(sizeof face_sections / sizeof face_sections[0]);
constexpr double face_back = -30;

// Cubic Hermite interpolation of the face sections at height z: the three
// parameters and the slope of width and front with height.
struct face_shape {
    double half_width, front, square, width_slope, front_slope;
    bool present;  // false above and below the stack
};
face_shape face_shape_at(double z)
{
    const face_section* s = face_sections;
    if (z > s[0].z + 10 || z < s[face_section_count - 1].z) return {0, 0, 0, 0, 0, false};
    z = clamp(z, s[face_section_count - 1].z, s[0].z);
    int i = 0;
    while (i + 2 < face_section_count && z < s[i + 1].z) ++i;
    // tangents (per mm downwards) from the neighbouring sections
    auto tangent = [&](int k, double face_section::*field) {
        const int lo = k > 0 ? k - 1 : k, hi = k + 1 < face_section_count ? k + 1 : k;
        return (s[hi].*field - s[lo].*field) / (s[lo].z - s[hi].z);
    };
    const double h = s[i].z - s[i + 1].z;
    const double t = clamp((s[i].z - z) / h, 0.0, 1.0);
    const double t2 = t * t, t3 = t2 * t;
    const double h00 = 2 * t3 - 3 * t2 + 1, h10 = t3 - 2 * t2 + t, h01 = 3 * t2 - 2 * t3, h11 = t3 - t2;
    const double d00 = 6 * t2 - 6 * t, d10 = 3 * t2 - 4 * t + 1, d01 = 6 * t - 6 * t2, d11 = 3 * t2 - 2 * t;
    auto value = [&](double face_section::*field) {
        return h00 * s[i].*field + h10 * h * tangent(i, field) + h01 * s[i + 1].*field +
               h11 * h * tangent(i + 1, field);
    };
    auto slope = [&](double face_section::*field) {  // d/dz, upwards
        return -(d00 * s[i].*field + d10 * h * tangent(i, field) + d01 * s[i + 1].*field +
                 d11 * h * tangent(i + 1, field)) /
               h;
    };
    return {
        value(&face_section::half_width), value(&face_section::front), clamp(value(&face_section::square), 0.0, 1.0),
        slope(&face_section::half_width), slope(&face_section::front), true};
}

// Distance to the face stack at p, whose height's section is f: the
// distance within the section, shortened by how steeply the surface slopes
// there.
double face_mass(vec3 p, const face_shape& f)
{
    const double cy = (f.front + face_back) / 2, ry = (f.front - face_back) / 2, rx = f.half_width;
    const double u = p.x / rx, v = (p.y - cy) / ry;
    const double round = ellipse(p.x, p.y, 0, cy, rx, ry);
    const double square = block({p.x, p.y, 0}, {0, cy, 0}, {rx, ry, 1});
    const double d = v < 0 ? square : mix(round, square, f.square);
    // in-plane outward direction, for the slope of the surface there
    const double gx = u / rx, gy = v / ry, g = std::sqrt(gx * gx + gy * gy) + 1e-12;
    const double rise = std::fabs(gx) / g * f.width_slope + (gy > 0 ? gy / g * f.front_slope : 0.0);
    return std::fmax(d / std::sqrt(1 + rise * rise), p.z - face_sections[0].z);
}

// Whether the face stack can come within margin of p: outside the section's
// bounding box by more than margin times the steepest slope it cannot.
bool near_face(vec3 p, const face_shape& f, double margin)
{
    if (!f.present) return false;
    const double out = std::fmax(std::fabs(p.x) - f.half_width, std::fmax(p.y - f.front, face_back - p.y));
    const double steep = std::fabs(f.width_slope) + std::fabs(f.front_slope);
    return out < margin * std::sqrt(1 + steep * steep) || out < margin;
}

// The nose: a wedge whose rounded ridge runs from the root between the eyes
// down to the tip, widening towards the face, with a round tip and wings
// around the nostrils.
double nose(vec3 p)
{
    constexpr double root_y = 86, root_z = 6, tip_y = 112, tip_z = -38;
    const double ty = tip_y - root_y, tz = tip_z - root_z;
    const double ridge = std::sqrt(ty * ty + tz * tz);
    const double dy = p.y - root_y, dz = p.z - root_z;
    const double along = (dy * ty + dz * tz) / ridge;     // from the root down the ridge
    const double ahead = (dy * -tz + dz * ty) / ridge;    // in front of the ridge line
    constexpr double cos_half = 0.788, sin_half = 0.616;  // half angle 38 degrees
    double d = smax(p.x * cos_half + ahead * sin_half, -p.x * cos_half + ahead * sin_half, 4);
    d = smax(d, std::fmax(along - ridge, -ahead - 25), 5);
    constexpr double tip_radius = 8.5;
    const vec3 tip{0, tip_y + tip_radius * tz / ridge, tip_z - tip_radius * ty / ridge};
    d = smin(d, length(p - tip) - tip_radius, 5);
    return smin(d, ellipsoid(p, {0, 95, -45}, {15, 10, 7}), 6);
}

// The outer skin surface of the whole head; face is the face stack's
// section at p's height.
double head_surface(vec3 p, const face_shape& face)
{
    const vec3 m = mirrored(p);
    double d = cranium(p);
    if (near_face(p, face, d + 12)) d = smin(d, face_mass(p, face), 12);
    join_ellipsoid(d, p, {0, 78, 14}, {42, 12, 12}, 10);                                  // brow ridge
    join_ellipsoid(d, m, {40, 64, -30}, {18, 18, 20}, 10);                                // cheeks
    if (p.z < 0) d = smin(d, smax(ellipse(p.x, p.y, 0, -14, 47, 51), p.z + 40, 10), 18);  // neck

    // Lips, and the line where they meet.
    join_ellipsoid(d, p, {0, 87, -63}, {24, 9, 9}, 6);
    join_ellipsoid(d, p, {0, 87, -80}, {21, 9, 6}, 5);
    cut_ellipsoid(d, p, {0, 99, -72}, {20, 5, 1.3}, 1.5);

    // Nose, with the nostrils opening downwards.
    if (near(p, {0, 86, -20}, {22, 30, 32}, d + 5)) d = smin(d, nose(p), 4);
    cut_ellipsoid(d, m, {7, 99, -51}, {4, 6.5, 3.5}, 1.5);

    // Eye sockets: a hollow under the brow, the lids over each eyeball and
    // the slit between them, where the eyeball shows.
    cut_ellipsoid(d, m, {31, 90, -2}, {17, 8, 11}, 4);
    join_ellipsoid(d, m, eye_centre, {eye_radius + 2, eye_radius + 2, eye_radius + 2}, 2);
    cut_ellipsoid(d, m, {31, 84.5, -2}, {12, 3.5, 2.8}, 1);
    join_ellipsoid(d, m, eye_centre, {eye_radius, eye_radius, eye_radius}, 0.5);

    // Ears, each with a canal into the head.
    if (near(m, ear_centre, {32, 32, 32}, d + 3)) {
        const vec3 e = ear_local(m);
        double ear = ellipsoid(e, {0, 0, 0}, {4.5, 16, 30});
        ear = smax(ear, -ellipsoid(e, {6, 3, -5}, {5.5, 9, 12}), 2);
        d = smin(d, ear, 3);
    }
    // The canal ends in soft tissue short of the skull.
    if (near_capsule(m, {84, -4, -8}, {71, -4, -8}, 3, 1 - d))
        d = smax(d, -capsule(m, {84, -4, -8}, {71, -4, -8}, 3, 3), 1);
    return d;
}

// Brain inside the cranial cavity: cortex over white matter, deep grey
// nuclei, the ventricles and the fissure between the hemispheres.
void paint_brain(double& v, vec3 p, double depth_in_cranium, double base)
{
    const vec3 m = mirrored(p);
    paint(v, std::fmax(12 - depth_in_cranium, base - p.z), csf);
    const double brain = std::fmax(13.2 - depth_in_cranium, base + 1.2 - p.z);
    if (brain >= 0.5 * edge_mm) return;
    paint(v, brain, mix(grey_matter, white_matter, smoothstep(3, 4.5, -brain)));
    paint_ellipsoid(v, m, {16, 8, 22}, {9, 16, 10}, grey_matter);
    if (near(m, {15, 0, 20}, {16, 40, 24}, edge_mm)) {
        double ventricles = capsule(m, {9, 38, 36}, {11, -8, 40}, 4, 4.5);
        ventricles = smin(ventricles, capsule(m, {11, -8, 40}, {20, -38, 28}, 4.5, 5.5), 3);
        ventricles = smin(ventricles, capsule(m, {20, -34, 28}, {30, 12, 0}, 2.5, 2), 2);
        ventricles = std::fmin(ventricles, ellipsoid(p, {0, 8, 20}, {2, 14, 9}));
        paint(v, ventricles, csf);
    }
    paint_ellipsoid(v, p, {0, -30, -20}, {5, 4, 6}, csf);
    if (p.z > 45) paint(v, std::fmax(std::fabs(p.x) - 1.2, 46 - p.z), csf);
}

// A wall of the given thickness just outside a cavity at distance d.
double wall(double d, double thickness) { return std::fabs(d - thickness / 2) - thickness / 2; }

// The facial skeleton: thin walls of bone under the front and sides of a
// block behind the face and around the orbits, the nasal cavity and the
// maxillary sinuses inside it, plus cheekbones, arches, the bridge of the
// nose and the other sinuses.
void paint_face_bones(double& v, vec3 p, double base)
{
    const vec3 m = mirrored(p);
    const double block_d = block(p, {0, 44, -22}, {47, 36, 38});
    const double cuts = std::fmax(std::fmax(14 - p.y, p.z - (base - 1)), -58 - p.z);
    const double frame = std::fmax(block_d, cuts);
    paint_bone(v, std::fmax(std::fabs(block_d + 1.5) - 1.5, cuts), 2100, 1500);
    if (near(m, {44, 62, -16}, {8, 11, 9}, edge_mm)) paint_bone(v, ellipsoid(m, {44, 62, -16}, {8, 11, 9}), 2200, 1550);
    if (near_capsule(m, {48, 56, -16}, {60, 6, -12}, 3.5, edge_mm))
        paint_bone(v, capsule(m, {48, 56, -16}, {60, 6, -12}, 3.5, 3.5), 2200, 1550);
    if (near_capsule(p, {0, 78, 4}, {0, 88, -14}, 3, edge_mm))
        paint_bone(v, capsule(p, {0, 78, 4}, {0, 88, -14}, 3, 3), 2200, 1550);
    if (frame > 4) return;

    // Each cavity inside the block gets a wall, then is hollowed out.
    const double in_frame = frame + 0.5;
    if (near(m, {30, 62, -2}, {21, 31, 17}, edge_mm)) {
        const double orbit = ellipsoid(m, {30, 62, -2}, {18, 28, 14});
        paint_bone(v, std::fmax(wall(orbit, 2.5), frame), 2000, 1500);
        paint(v, std::fmax(orbit, in_frame), fat);
    }
    if (near(p, {0, 50, -26}, {15, 35, 27}, edge_mm)) {
        const double nasal = ellipsoid(p, {0, 50, -26}, {12, 32, 24});
        paint_bone(v, std::fmax(wall(nasal, 2.5), frame), 2000, 1500);
        paint(v, std::fmax(nasal, in_frame - 4), 0);
        // septum and turbinates
        paint(v, std::fmax(std::fabs(p.x) - 1, nasal), 1300);
        paint(v, std::fmax(ellipsoid(m, {10, 48, -18}, {3.5, 22, 4}), nasal), muscle);
        paint(v, std::fmax(ellipsoid(m, {10, 48, -33}, {3.5, 24, 4.5}), nasal), muscle);
    }
    if (near(m, {26, 55, -31}, {15, 19, 16}, edge_mm)) {
        const double sinus = ellipsoid(m, {26, 55, -31}, {12, 16, 13});
        paint_bone(v, std::fmax(wall(sinus, 2.5), frame), 2000, 1500);
        paint(v, std::fmax(sinus, in_frame), 0);
    }
    paint_ellipsoid(v, p, {0, 58, 2}, {10, 18, 9}, 0);  // ethmoid cells
    paint_ellipsoid(v, p, {0, 28, -4}, {9, 9, 8}, 0);   // sphenoid sinus
}

// Eyes in their orbits: optic nerve, sclera, vitreous and lens.
void paint_eyes(double& v, vec3 p)
{
    const vec3 m = mirrored(p);
    if (!near(m, {31, 55, -2}, {20, 30, 15}, edge_mm)) return;
    paint_capsule(v, m, {31, 58, -2}, {14, 30, 2}, 2.2, 2.2, muscle);
    const double globe = length(m - eye_centre) - eye_radius;
    paint(v, globe, skin);
    paint(v, globe + 1, vitreous);
    paint_ellipsoid(v, m, {31, 79.5, -2}, {4.5, 2, 4.5}, lens);
}

// Ellipse through the teeth, which the jaw bone follows.
constexpr double arch_cy = 47, arch_rx = 27, arch_ry = 34;

// Teeth between heights lo and hi: a U of 8 a side with a narrow gap
// between neighbours. Teeth are spaced evenly in the sine of the angle
// around the arch, so the front teeth come out narrower than the molars.
double teeth(vec3 p, double lo, double hi)
{
    const double band = std::fabs(ellipse(p.x, p.y, 0, arch_cy, arch_rx, arch_ry)) - 4.5;
    const double u = p.x / arch_rx, w = (p.y - arch_cy) / arch_ry;
    const double s = std::fabs(u) / std::sqrt(u * u + w * w + 1e-12) * 8;
    const double f = s - std::floor(s);
    const double gap = (0.07 - std::fmin(f, 1 - f)) * 15;
    return std::fmax(std::fmax(band, slab(p.z, lo, hi)), std::fmax(gap, 40 - p.y));
}

// Upper and lower jaw bone, palate, the air over the tongue and the teeth.
void paint_jaws(double& v, vec3 p)
{
    if (p.z > -8 || p.z < -125) return;
    const vec3 m = mirrored(p);
    double ramus = ellipsoid(m, {43, 4, -58}, {3, 13, 48});
    if (p.z > -46) {
        paint_bone(v, ramus, 2200, 1600);
        return;
    }
    const double arch = ellipse(p.x, p.y, 0, arch_cy, arch_rx, arch_ry);
    const double behind = 38 - p.y;
    paint_bone(v, std::fmax(std::fabs(arch) - 6, std::fmax(slab(p.z, -64, -48), behind)), 2000, 1500);
    paint_bone(v, std::fmax(arch, slab(p.z, -57, -51)), 2100, 1600);
    double mandible =
        std::fmax(std::fabs(ellipse(p.x, p.y, 0, 0, 42, 80)) - 4.5, std::fmax(slab(p.z, -110, -90), -2 - p.y));
    mandible = smin(mandible, std::fmax(std::fabs(arch) - 6.5, std::fmax(slab(p.z, -96, -76), behind)), 3);
    mandible = smin(mandible, ramus, 5);
    paint_bone(v, mandible, 2200, 1600);
    paint_ellipsoid(v, p, {0, 50, -62}, {18, 22, 2.5}, 0);
    if (p.y > 30 && p.z > -90 && p.z < -45) {
        paint(v, teeth(p, -71, -50), p.z < -63 ? enamel : dentine);
        paint(v, teeth(p, -85, -73), p.z > -81 ? enamel : dentine);
    }
}

// Airway, cervical spine with discs, canal and cord, and the brainstem that
// leaves the skull through the foramen magnum.
void paint_neck(double& v, vec3 p)
{
    if (p.z > 22 || std::fabs(p.x) > 30 || p.y > 40 || p.y < -50) return;
    paint_capsule(v, p, {0, -8, 12}, {0, -14, -40}, 9, 7, white_matter);
    if (p.z > -16) return;
    const vec3 m = mirrored(p);
    paint_capsule(v, p, {0, 18, -20}, {0, 20, -95}, 6, 6.5, 0);
    paint_capsule(v, p, {0, 20, -95}, {0, 24, -150}, 6.5, 7, 0);
    if (p.z > -34) return;
    // vertebrae every 17.5 mm: a 13 mm body above a disc
    const double period = 17.5;
    const double top = -36 - std::floor((-36 - p.z) / period) * period;
    const double height = slab(p.z, top - 13, top);
    const double body = ellipse(p.x, p.y, 0, 2, 10, 8);
    paint(v, std::fmax(body, slab(p.z, top - period, top)), disc);
    paint_bone(v, std::fmax(body, height), 1950, 1500);
    double arch = std::fabs(ellipse(p.x, p.y, 0, -14, 10, 10)) - 3;
    arch = std::fmin(arch, capsule(p, {0, -20, top - 5}, {0, -38, top - 10}, 3.5, 3));
    arch = std::fmin(arch, capsule(m, {8, -4, top - 6}, {22, -6, top - 6}, 3.5, 3));
    paint_bone(v, std::fmax(arch, height), 1950, 1500);
    paint(v, ellipse(p.x, p.y, 0, -14, 7, 7), csf);
    paint(v, ellipse(p.x, p.y, 0, -14, 4.5, 4.5), white_matter);
}

// The face stack's sections at a slice's height and a third of a slice
// above and below it.
constexpr double sub_mm = slice_mm / height_scale / 3;
struct slice_faces {
    face_shape centre, below, above;
};

// Density of the head at p, in millimetres. The skin is sampled at three
// heights across the slice, as a scanner averages over the slice
// thickness, so that gently sloping skin steps smoothly from slice to slice.
double density_at(vec3 p, const slice_faces& faces)
{
    if (std::fabs(p.x) > 100 || p.y > 125 || p.y < -112 || p.z > 125) return 0;
    const double surface = head_surface(p, faces.centre);
    constexpr double reach = 0.5 * skin_edge_mm + sub_mm + 0.5;
    if (surface >= reach) return 0;
    double inside = skin_cover(surface);
    if (surface > -reach) {
        inside = (inside + skin_cover(head_surface({p.x, p.y, p.z - sub_mm}, faces.below)) +
                  skin_cover(head_surface({p.x, p.y, p.z + sub_mm}, faces.above))) /
                 3;
    }
    double v = soft_tissue(-surface) * inside;

    // Vault: outer table, diploe and inner table under 5 mm of scalp, down
    // to the skull base, which closes it from below.
    const double depth = -cranium(p);
    const double base = skull_base(p.x, p.y);
    if (depth > 4) {
        paint_bone(v, std::fmax(slab(depth, 5, 12), base - 5 - p.z), 2300, 1550);
        paint_bone(v, std::fmax(5 - depth, slab(p.z, base - 5, base)), 2200, 1550);
        if (depth > 11) paint_brain(v, p, depth, base);
        paint_ellipsoid(v, p, {0, 79, 22}, {12, 2, 8}, 0);  // frontal sinus
    }
    if (p.y > 10 && p.z < 20 && p.z > -62) paint_face_bones(v, p, base);
    paint_eyes(v, p);
    paint_jaws(v, p);
    paint_neck(v, p);

    // The dense petrous bone around the inner ear.
    const vec3 m = mirrored(p);
    if (m.x > 18 && std::fabs(p.z + 10) < 16) paint_bone(v, capsule(m, {54, -8, -12}, {24, 12, -14}, 6, 5), 2500, 2300);
    return v;
}

// Fixed-seed hash of a voxel, for the noise.
std::uint32_t voxel_hash(int n, int row, int col)
{
    std::uint32_t h = 0x2545F491u;
    h ^= std::uint32_t(n) * 0x9E3779B1u;
    h ^= std::uint32_t(row) * 0x85EBCA77u + (h << 6) + (h >> 2);
    h ^= std::uint32_t(col) * 0xC2B2AE3Du + (h << 6) + (h >> 2);
    h ^= h >> 16;
    h *= 0x7FEB352Du;
    h ^= h >> 15;
    h *= 0x846CA68Bu;
    h ^= h >> 16;
    return h;
}

// Noise of -12..12 with a triangular spread, like a mild scanner noise.
int noise(int n, int row, int col)
{
    const std::uint32_t h = voxel_hash(n, row, col);
    return int(h % 13) + int((h >> 16) % 13) - 12;
}

}  // namespace

void make_phantom_slice(int n, std::uint16_t* words)
{
    const double z = (origin_slice - n) * slice_mm / height_scale;
    const slice_faces faces{face_shape_at(z), face_shape_at(z - sub_mm), face_shape_at(z + sub_mm)};
    // The head is symmetric: the right half is computed and mirrored, and
    // only the noise tells the two halves apart.
    for (int row = 0; row < side; ++row) {
        const double y = (origin_row - row) * pixel_mm;
        for (int col = side / 2; col < side; ++col) {
            const double x = (col - centre_col) * pixel_mm;
            const int density = int(density_at({x, y, z}, faces) + 0.5);
            for (int c : {col, side - 1 - col}) {
                const int value = density + noise(n, row, c);
                words[row * side + c] = std::uint16_t(value < 0 ? 0 : (value > 4095 ? 4095 : value));
            }
        }
    }
}

std::string write_phantom(const std::string& folder, bool force)
{
    return write_slice_folder(
        folder,
        [](int n, std::uint16_t* words) {
            make_phantom_slice(n, words);
            return true;
        },
        force);
}
