// The upper neck: the cervical spine from the atlas down, the spinal canal
// with the cord, the hyoid and the airway.
#include "anatomy.h"

namespace phantom {

namespace {

constexpr bone vertebra_bone{1950, 1350, 1.2};
constexpr bone hyoid_bone{1900, 1450, 1.0};

// The spinal canal's centre line, drifting forwards with the lordosis of
// the neck, and the dural sac and cord in it.
double canal_y(double z) { return mix(-16, -12.5, smoothstep(-50, -95, z)); }
constexpr double dura_rx = 8, dura_ry = 6.5, cord_rx = 5, cord_ry = 4;

// A cervical vertebra below the atlas: its body (top and bottom heights,
// centre of the body front to back), the ring of pedicles and laminae round
// the canal, the spinous process behind, the transverse processes with
// their foramina, and the articular pillars at the sides.
struct vertebra {
    double top, bottom, body_y, spine_length;
};
constexpr vertebra vertebrae[] = {{-48, -62, 0, 34},     // C2, the axis, with its long bifid spine
                                  {-66, -79, 2, 26},     // C3
                                  {-83, -96, 3, 27},     // C4
                                  {-100, -113, 3, 28},   // C5
                                  {-117, -130, 3, 29}};  // C6
constexpr double body_rx = 8.5, body_ry = 7.5;
constexpr double canal_rx = 12, canal_ry = 8, ring_mm = 4.5;

double vertebra_distance(vec3 p, const vertebra& v)
{
    const double mid = (v.top + v.bottom) / 2, half = (v.top - v.bottom) / 2;
    const double canal_c = v.body_y - body_ry - canal_ry;
    const double body = smax(ellipse(p.x, p.y, 0, v.body_y, body_rx, body_ry), std::fabs(p.z - mid) - half, 2);
    double arch = shell(ellipse(p.x, p.y, 0, canal_c, canal_rx, canal_ry), ring_mm);
    arch = smax(smax(arch, std::fabs(p.z - mid) - (half - 2.5), 1.5), p.y - (v.body_y - 3), 2);
    double d = smin(body, arch, 2);
    d = smin(d, capsule(p, {0, canal_c - canal_ry - 2, mid}, {0, canal_c - v.spine_length, mid - 7}, 3.5, 2.5), 3);
    const double pillar = capsule(p, {17, canal_c + 3, v.top - 1}, {17, canal_c + 3, v.bottom + 1}, 5, 5);
    double transverse = capsule(p, {9, v.body_y - 3, mid}, {25, v.body_y - 4, mid - 1}, 3.4, 2.8);
    transverse = smax(transverse, 2.2 - length(p.x - 17, p.y - v.body_y + 3.5), 1);
    return smin(d, smin(pillar, transverse, 2), 2);
}

// The atlas: a ring without a body, its anterior arch in front of the dens,
// the lateral masses under the occipital condyles and the transverse
// processes wide to the sides.
constexpr double atlas_z = -41;
double atlas(vec3 p)
{
    double ring = shell(ellipse(p.x, p.y, 0, -11, 13, 19), 4);
    ring = smax(ring, std::fabs(p.z - atlas_z) - 4, 1.5);
    const double masses = ellipsoid(p, {17, -3, atlas_z}, {7, 9, 6.5});
    const double transverse = capsule(p, {20, -4, atlas_z}, {36, -5, atlas_z}, 4, 3.5);
    return smin(smin(ring, masses, 3), transverse, 3);
}

// The dens of the axis rises through the atlas to a few millimetres under
// the foramen magnum.
double dens(vec3 p) { return capsule(p, {0, 2, -50}, {0, 2, -31}, 5, 4.6); }

// The hyoid: a bar in the front of the neck with its greater horns running
// back, at the level of the third vertebra.
double hyoid(vec3 p)
{
    const double body = capsule(p, {0, 38, -82}, {11, 35, -82}, 3, 3);
    return smin(body, capsule(p, {11, 35, -82}, {21, 16, -78}, 2.2, 1.6), 2);
}

// An airway tube from a to b, rx wide and ry deep.
double tube(vec3 p, vec3 a, vec3 b, double rx, double ry)
{
    const double s = rx / ry;
    return capsule({p.x, p.y * s, p.z}, {a.x, a.y * s, a.z}, {b.x, b.y * s, b.z}, rx, rx);
}

// The pharynx: from the nasopharynx behind the nose down behind the tongue
// to the larynx.
double airway(vec3 p)
{
    double d = ellipsoid(p, {0, 24, -24}, {11, 8, 8});
    d = smin(d, tube(p, {0, 19, -30}, {0, 18, -72}, 8, 4.5), 4);
    return smin(d, tube(p, {0, 18, -72}, {0, 24, -125}, 7, 5), 4);
}

}  // namespace

void paint_neck(tissue& t, vec3 p)
{
    if (p.z > -12 || p.x > 45 || p.y > 45 || p.y < -55) return;

    if (p.x < 14 && p.y > 8) paint_air(t, airway(p));
    if (near(p, {10, 28, -81}, {13, 13, 6}, bone_edge_mm)) paint_bone(t, hyoid(p), hyoid_bone);
    if (p.z > -22) return;

    // The dural sac and the cord, continuing the brainstem.
    const double cy = canal_y(p.z);
    paint(t, ellipse(p.x, p.y, 0, cy, dura_rx, dura_ry), csf);
    paint(t, ellipse(p.x, p.y, 0, cy, cord_rx, cord_ry), white_matter);

    // The disc under each body, then the vertebrae.
    double spine = 1e9;
    if (p.z < -30 && p.z > -50) spine = std::fmin(atlas(p), dens(p));
    for (const vertebra& v : vertebrae) {
        if (p.z > v.top + 10 || p.z < v.bottom - 10) continue;
        paint(t, std::fmax(ellipse(p.x, p.y, 0, v.body_y, body_rx - 1, body_ry - 1), slab(p.z, v.bottom - 5, v.top)),
              disc);
        spine = std::fmin(spine, vertebra_distance(p, v));
    }
    paint_bone(t, spine, vertebra_bone);
}

}  // namespace phantom
