// The outer surface of the head: the scalp over the braincase, the face
// with nose, lips, eyes and ears, and the neck.
#include "anatomy.h"

namespace phantom {

namespace {

// The braincase narrows a little towards the forehead.
double forehead_taper(double y) { return 1 - 0.06 * smoothstep(-20, 85, y); }

// The face below the forehead as a stack of horizontal sections, each an
// oval from y = face_back to its front and as wide as its half width,
// square at the back and at the cheeks (power 4) and rounding to a U at the
// chin (power 2). Listed from the top down; heights in between are
// interpolated smoothly.
struct face_section {
    double z, half_width, front, square;
};
constexpr face_section face_sections[] = {
    {47, 44, 70, 1},    {33, 57, 82, 1},    {21, 63, 85, 1},    {5, 65, 83, 1},     {-18, 63, 85, 1},
    {-33, 60, 90, 0.8}, {-45, 59, 92, 0.7}, {-59, 58, 91, 0.6}, {-73, 58, 89, 0.3}, {-87, 50, 94, 0},
    {-99, 46, 88, 0},   {-108, 36, 70, 0},  {-118, 22, 45, 0}};
constexpr int face_section_count = int(sizeof face_sections / sizeof face_sections[0]);
constexpr double face_back = -30;

// A superellipse that is squarish across (power 4 in x and y) and round in
// z: the flat front of a face.
double squarish(vec3 p, vec3 c, vec3 r)
{
    const double u = (p.x - c.x) / r.x, v = (p.y - c.y) / r.y, w = (p.z - c.z) / r.z;
    const double q2 = std::sqrt(u * u * u * u + v * v * v * v);
    const double f = std::sqrt(q2 + w * w);
    if (f < 1e-9) return -std::fmin(r.x, std::fmin(r.y, r.z));
    // gradient of f = sqrt(sqrt(u^4 + v^4) + w^2)
    const double gq = q2 > 1e-12 ? 1 / (f * q2) : 0.0;
    const double gx = u * u * u * gq / r.x, gy = v * v * v * gq / r.y, gz = w / (f * r.z);
    const double g = length(vec3{gx, gy, gz});
    return g > 1e-12 ? (f - 1) / g : -std::fmin(r.x, r.y);
}

// Distance to the face stack at p, whose height's section is f: the
// distance within the section, shortened by how steeply the surface slopes
// there.
double face_mass(vec3 p, const face_shape& f)
{
    const double cy = (f.front + face_back) / 2, ry = (f.front - face_back) / 2, rx = f.half_width;
    const double u = p.x / rx, v = (p.y - cy) / ry;
    const double round = ellipse(p.x, p.y, 0, cy, rx, ry);
    const double square = squarish({p.x, p.y, 0}, {0, cy, 0}, {rx, ry, 1});
    const double d = v < 0 ? square : mix(round, square, f.square);
    // in-plane outward direction, for the slope of the surface there
    const double gx = u / rx, gy = v / ry, g = length(gx, gy) + 1e-12;
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
    constexpr double root_y = 86, root_z = 23, tip_y = 112, tip_z = -21;
    const double ty = tip_y - root_y, tz = tip_z - root_z;
    const double ridge = length(ty, tz);
    const double dy = p.y - root_y, dz = p.z - root_z;
    const double along = (dy * ty + dz * tz) / ridge;     // from the root down the ridge
    const double ahead = (dy * -tz + dz * ty) / ridge;    // in front of the ridge line
    constexpr double cos_half = 0.788, sin_half = 0.616;  // half angle 38 degrees
    double d = smax(p.x * cos_half + ahead * sin_half, -p.x * cos_half + ahead * sin_half, 4);
    d = smax(d, std::fmax(along - ridge, -ahead - 25), 5);
    constexpr double tip_radius = 8.5;
    const vec3 tip{0, tip_y + tip_radius * tz / ridge, tip_z - tip_radius * ty / ridge};
    d = smin(d, length(p - tip) - tip_radius, 5);
    return smin(d, ellipsoid(p, {0, 95, -28}, {15, 10, 7}), 6);
}

// The ear: a thin oval of cartilage standing 30 degrees off the side of the
// head, with a bowl on its outer face. Local axes: across, forwards, up. It
// spans the height from the brow to the base of the nose.
constexpr vec3 ear_centre{79, -6, -2};
constexpr double ear_cos = 0.8660254037844386, ear_sin = 0.5;
vec3 ear_local(vec3 p)
{
    const vec3 d = p - ear_centre;
    return {d.x * ear_cos + d.y * ear_sin, -d.x * ear_sin + d.y * ear_cos, d.z};
}

// The canal runs from the concha in to the eardrum, its air 5 mm across
// inside a lining of skin.
constexpr vec3 canal_outer{84, -4, -4}, canal_inner{56, -4, -4};
constexpr double canal_radius = 2.5;

// The scalp over the braincase, tucked in under the occiput into the nape.
double scalp(vec3 p)
{
    const double d = braincase(p, scalp_mm);
    const double under_occiput = (-0.5 * p.y - 75 - p.z) / 1.118;
    return smax(d, under_occiput, 15);
}

// The neck, a rounded column below the skull base.
double neck(vec3 p) { return smax(ellipse(p.x, p.y, 0, -10, 52, 56), p.z + 25, 10); }

// Temporalis and masseter fill out the side of the face over the
// zygomatic arch and the ramus.
constexpr vec3 cheek_muscles_centre{54, 26, -14}, cheek_muscles_radii{15, 34, 25};

}  // namespace

double braincase(vec3 p, double inflate)
{
    const vec3 r{braincase_radii.x + inflate, braincase_radii.y + inflate, braincase_radii.z + inflate};
    return ellipsoid({p.x / forehead_taper(p.y), p.y, p.z}, braincase_centre, r);
}

double soft_tissue(double depth)
{
    return mix(mix(skin, fat, smoothstep(1.5, 2.5, depth)), muscle, smoothstep(4.5, 5.5, depth));
}

double ear_canal(vec3 p)
{
    if (!near_capsule(p, canal_outer, canal_inner, canal_radius, edge_mm)) return 1e9;
    return capsule(p, canal_outer, canal_inner, canal_radius, canal_radius);
}

// Cubic Hermite interpolation of the face sections at height z: the three
// parameters and the slope of width and front with height.
face_shape face_at(double z)
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

double head_surface(vec3 p, const face_shape& face)
{
    double d = scalp(p);
    if (near_face(p, face, d + 12)) d = smin(d, face_mass(p, face), 12);
    if (near(p, cheek_muscles_centre, cheek_muscles_radii, d + 10))
        d = smin(d, ellipsoid(p, cheek_muscles_centre, cheek_muscles_radii), 10);
    if (near(p, {0, 78, 31}, {42, 12, 12}, d + 10)) d = smin(d, ellipsoid(p, {0, 78, 31}, {42, 12, 12}), 10);  // brow
    if (near(p, {40, 64, -13}, {18, 18, 20}, d + 10))
        d = smin(d, ellipsoid(p, {40, 64, -13}, {18, 18, 20}), 10);  // cheek
    if (p.z < -5) d = smin(d, neck(p), 25);

    // Lips, and the line where they meet.
    if (near(p, {0, 87, -55}, {24, 9, 18}, d + 6)) {
        d = smin(d, ellipsoid(p, {0, 87, -46}, {24, 9, 9}), 6);
        d = smin(d, ellipsoid(p, {0, 87, -63}, {21, 9, 6}), 5);
        d = smax(d, -ellipsoid(p, {0, 99, -55}, {20, 5, 1.3}), 1.5);
    }

    // Nose, with the nostrils opening downwards.
    if (near(p, {0, 86, -3}, {22, 30, 32}, d + 5)) d = smin(d, nose(p), 4);
    if (near(p, {7, 99, -34}, {4, 6.5, 3.5}, 1.5 - d)) d = smax(d, -ellipsoid(p, {7, 99, -34}, {4, 6.5, 3.5}), 1.5);

    // Eye sockets: a hollow under the brow, the lids over each eyeball and
    // the slit between them, where the eyeball shows.
    if (near(p, {31, 80, 15}, {17, 18, 14}, std::fabs(d) + 4)) {
        d = smax(d, -ellipsoid(p, {31, 90, 15}, {17, 8, 11}), 4);
        d = smin(d, length(p - eye_centre) - (eye_radius + 2), 2);
        d = smax(d, -ellipsoid(p, {31, 84.5, 15}, {12, 3.5, 2.8}), 1);
        d = smin(d, length(p - eye_centre) - eye_radius, 0.5);
    }

    // Ears, each with its canal.
    if (near(p, ear_centre, {32, 32, 32}, d + 3)) {
        const vec3 e = ear_local(p);
        double ear = ellipsoid(e, {0, 0, 0}, {4.5, 16, 30});
        ear = smax(ear, -ellipsoid(e, {6, 3, -5}, {5.5, 9, 12}), 2);
        d = smin(d, ear, 3);
    }
    return d;
}

}  // namespace phantom
