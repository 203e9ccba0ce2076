// The mandible, the teeth of both arcades, and the air in the mouth.
//
// The lower jaw is modelled closed, its teeth meeting the upper ones on the
// occlusal plane, and then opened a little, so that the two arcades stand a
// few millimetres apart as in a mouth at rest.
#include "anatomy.h"

namespace phantom {

namespace {

constexpr bone mandible_bone{2300, 1550, 2.2};

// The jaw opens by 0.1 rad about the condyles, which glide 2.5 mm down the
// slope in front of their pits: the molars part by about 5.5 mm and the
// incisors by 9.5. These are the cosine and sine of the turn.
constexpr double opening_cos = 0.99500416527803, opening_sin = 0.09983341664683;
constexpr double glide_y = 1, glide_z = -2.5;

// A point of the opened jaw in the frame of the closed one.
vec3 closed_jaw(vec3 p)
{
    const double y = p.y - glide_y - condyle_axis_y, z = p.z - glide_z - condyle_axis_z;
    return {p.x, condyle_axis_y + y * opening_cos - z * opening_sin,
            condyle_axis_z + y * opening_sin + z * opening_cos};
}

// ---- the mandible (closed frame) --------------------------------------------

// The body follows the lower arch round the chin and runs straight back,
// flaring out behind the molars, to the angle.
constexpr double chin_arc_cy = 44, chin_arc_rx = 26, chin_arc_ry = 34;
constexpr vec3 body_bend{24, 54, 0}, gonion{43, 16, 0};
double body_line(double x, double y)
{
    const double arc = std::fmax(std::fabs(ellipse(x, y, 0, chin_arc_cy, chin_arc_rx, chin_arc_ry)), body_bend.y - y);
    const double bx = gonion.x - body_bend.x, by = gonion.y - body_bend.y;
    const double h = clamp(((x - body_bend.x) * bx + (y - body_bend.y) * by) / (bx * bx + by * by), 0.0, 1.0);
    const double back = length(x - body_bend.x - bx * h, y - body_bend.y - by * h);
    return smin(arc, back, 4);
}

// Lower border from the menton (z = -93 under the chin) up to the angle;
// the alveolar crest 1.5 mm under the necks of the lower teeth.
double lower_border_z(double y) { return -93 + 0.47 * (78 - y); }
double lower_crest_z(double y) { return occlusal_z(y) - mix(9, 7.5, smoothstep(70, 50, y)) - 1.5; }

double mandible_body(vec3 q)
{
    const double half_width = 6.5 + 1.5 * smoothstep(70, 45, q.y) - 3 * smoothstep(32, 14, q.y);
    const double low = lower_border_z(q.y), top = lower_crest_z(q.y);
    const double d = rounded_rect(body_line(q.x, q.y), q.z - (low + top) / 2, half_width, (top - low) / 2, 3.5);
    return smax(d, gonion.y - 3 - q.y, 3);
}

// The ramus: a plate 6 mm thick rising from the angle to the condyle
// behind and the coronoid process in front, with the sigmoid notch between,
// leaning out towards the condyle. Outline in (y, z), 2 mm inside the
// bone's rounded edge.
constexpr double ramus_outline[][2] = {{5, -20},  {12, -19}, {21, -28}, {31, -15}, {35, -9}, {38, -12}, {38, -30},
                                       {42, -50}, {40, -60}, {24, -64}, {14, -61}, {9, -52}, {6, -36}};
double ramus(vec3 q)
{
    const double d = polygon(ramus_outline, 13, q.y, q.z) - 2;
    const double mid_x = 45 + 2 * smoothstep(-66, -20, q.z) - 0.08 * (q.y - 10);
    return smax(d, std::fabs(q.x - mid_x) - 3, 1.5);
}

// The condyle, 18 mm across and 10 deep, on its neck.
constexpr vec3 condyle_head{50, condyle_axis_y, condyle_axis_z};
double condyle(vec3 q)
{
    return smin(ellipsoid(q, condyle_head, {9, 5, 5}), capsule(q, {48, 9, -14}, {47, 8, -26}, 4, 4), 3);
}

double mandible(vec3 q)
{
    double d = mandible_body(q);
    if (q.x > 36) d = smin(d, ramus(q), 4);
    if (q.x > 36 && q.z > -32) d = smin(d, condyle(q), 2);
    if (q.x < 18) d = smin(d, ellipsoid(q, {0, 81, -86}, {14, 5, 8}), 4);  // the mental protuberance
    return d;
}

// ---- the teeth ----------------------------------------------------------

// One tooth: where its crown meets the occlusal plane (x, y), its widths
// along the arch (mesiodistal) and across it (buccolingual), the heights of
// crown and root, how far its root leans in behind the crown, the thickness
// of its biting edge as a share of its width across, and its number of
// roots.
struct tooth {
    double x, y, along, across, crown, root, lean, edge;
    int roots;
};

// The halves of the arcades at x > 0, from the central incisor back to the
// second molar.
constexpr tooth upper_teeth[] = {
    {4.5, 81.0, 8.5, 7.0, 10.5, 11.5, 8, 0.3, 1}, {11.6, 78.3, 6.5, 6.0, 9.0, 11.5, 7, 0.3, 1},
    {17.3, 73.6, 7.5, 8.0, 10.0, 17, 5, 0.45, 1}, {20.6, 67.3, 7.0, 9.0, 8.5, 14, 3, 0.8, 1},
    {22.6, 60.6, 6.5, 9.0, 8.0, 14, 2, 0.8, 1},   {24.6, 52.4, 10.0, 11.0, 7.5, 13, 0, 0.9, 2},
    {26.0, 42.9, 9.0, 11.0, 7.0, 13, 0, 0.9, 2}};
constexpr tooth lower_teeth[] = {
    {2.9, 76.0, 5.4, 6.0, 9.0, 12.5, 4, 0.3, 1},  {8.4, 74.6, 5.9, 6.4, 9.5, 14, 4, 0.3, 1},
    {13.6, 71.2, 7.0, 7.5, 11.0, 16, 3, 0.45, 1}, {17.6, 65.7, 7.0, 7.7, 8.5, 14, 2, 0.8, 1},
    {20.4, 59.4, 7.2, 8.2, 8.0, 14.5, 1, 0.8, 1}, {23.0, 50.6, 11.2, 10.5, 7.5, 14, 0, 0.9, 2},
    {24.8, 39.9, 10.5, 10.2, 7.0, 13, 0, 0.9, 2}};
constexpr int teeth_per_side = 7;

// The arches whose normals orient the teeth.
struct arch {
    double cy, rx, ry;
};
constexpr arch upper_arch{40, 27, 41}, lower_arch{38, 25, 38};

// Distances to a tooth's whole outline, to its crown alone and to its pulp
// chamber. rising is +1 for an upper tooth, whose roots rise from the
// occlusal plane, and -1 for a lower one.
struct tooth_distances {
    double whole, crown, pulp;
};
tooth_distances tooth_at(vec3 q, const tooth& k, const arch& a, double rising)
{
    // Across the arch (outwards) and along it.
    const double gx = k.x / (a.rx * a.rx), gy = (k.y - a.cy) / (a.ry * a.ry), g = length(gx, gy);
    const double nx = gx / g, ny = gy / g;
    const double dx = q.x - k.x, dy = q.y - k.y;
    const double along = dx * ny - dy * nx;
    const double height = rising * (q.z - occlusal_z(k.y));  // into the tooth from its biting surface
    const double total = k.crown + k.root;
    const double across = dx * nx + dy * ny + k.lean * clamp(height / total, 0.0, 1.0);

    // The crown narrows to its neck and, for incisors and canines, to its edge.
    const double s = height;
    const double half_along =
        0.37 * k.along * mix(0.9, 1, smoothstep(0, 2.5, s)) * mix(1, 0.78, smoothstep(0.6 * k.crown, k.crown, s));
    const double half_across = 0.5 * k.across * mix(k.edge, 1, smoothstep(0, 0.7 * k.crown, s)) *
                               mix(1, 0.85, smoothstep(0.7 * k.crown, k.crown, s));
    const double section =
        rounded_rect(along, across, half_along, half_across, 0.7 * std::fmin(half_along, half_across));
    const double crown = smax(section, slab(s, 0, k.crown), 1.2);

    // Roots taper from the neck to a rounded apex.
    const double neck = std::fmin(0.37 * k.along * 0.78, 0.5 * k.across * 0.85);
    double root;
    if (k.roots == 1) {
        root = capsule({along, across, s}, {0, 0, k.crown - 1}, {0, 0, total - 1}, neck, 1.1);
    } else {
        const double spread = 0.22 * k.along;
        const vec3 p{std::fabs(along), across, s};
        root = capsule(p, {0.3 * spread, 0, k.crown - 1}, {spread, 0, total - 1}, 0.6 * neck + 0.6, 1.0);
    }
    const double chamber = 0.12 * std::fmin(k.along, k.across);
    const double pulp = capsule({along, across, s}, {0, 0, 0.4 * k.crown}, {0, 0, 0.75 * k.crown}, chamber, chamber);
    return {smin(crown, root, 1.5), crown, pulp};
}

// Teeth blend over a slightly wider edge than other tissue, so that a ray
// looking for bone finds a sample on the way up to enamel.
constexpr double tooth_edge = 1.3;

void paint_teeth(tissue& t, vec3 q, const tooth* teeth, const arch& a, double rising)
{
    for (int i = 0; i < teeth_per_side; ++i) {
        const tooth& k = teeth[i];
        const double reach = 0.6 * std::fmax(k.along, k.across) + k.lean + 2;
        const double mid = occlusal_z(k.y) + rising * (k.crown + k.root) / 2;
        if (!near(q, {k.x, k.y, mid}, {reach, reach, (k.crown + k.root) / 2 + 2}, 0)) continue;
        const tooth_distances d = tooth_at(q, k, a, rising);
        paint(t, d.whole, {dentine, soft_texture}, tooth_edge);
        paint(t, d.crown, {enamel, soft_texture}, tooth_edge);
        paint(t, d.crown + 1.6, {dentine, soft_texture}, tooth_edge);
        paint(t, d.pulp, pulp);
    }
}

}  // namespace

void paint_jaws(tissue& t, vec3 p)
{
    if (p.z > 0 || p.z < -105 || p.y < -5 || p.y > 95 || p.x > 62) return;

    // A film of air between the tongue and the palate.
    if (near(p, {0, 54, -38}, {15, 14, 1.6}, edge_mm)) paint_air(t, ellipsoid(p, {0, 54, -38}, {15, 14, 1.6}));

    if (p.y > 28 && p.z < -28 && p.z > -80) paint_teeth(t, p, upper_teeth, upper_arch, 1);

    const vec3 q = closed_jaw(p);
    const double jaw = mandible(q);
    paint_bone(t, jaw, mandible_bone);
    if (q.y > 28 && q.z < -45) paint_teeth(t, q, lower_teeth, lower_arch, -1);
}

}  // namespace phantom
