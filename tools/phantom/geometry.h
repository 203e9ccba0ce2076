// Signed distances and blends for the phantom's shapes, in millimetres.
//
// Distances are negative inside. Most are exact near the surface and only
// approximate far from it, which is all the blends and layer depths need.
// Only correctly rounded operations (+ - * /, sqrt, floor, min, max) are
// used, so every machine computes the same values.
#pragma once

#include <cmath>

namespace phantom {

struct vec3 {
    double x, y, z;
};

inline vec3 operator+(vec3 a, vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline vec3 operator-(vec3 a, vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline vec3 operator*(vec3 a, double s) { return {a.x * s, a.y * s, a.z * s}; }
inline double dot(vec3 a, vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline double length(vec3 a) { return std::sqrt(dot(a, a)); }
inline double length(double a, double b) { return std::sqrt(a * a + b * b); }

inline double clamp(double v, double lo, double hi) { return v < lo ? lo : (v > hi ? hi : v); }
inline double mix(double a, double b, double t) { return a + (b - a) * t; }

// 0 at e0 rising smoothly to 1 at e1 (falling when e1 < e0).
inline double smoothstep(double e0, double e1, double v)
{
    const double t = clamp((v - e0) / (e1 - e0), 0.0, 1.0);
    return t * t * (3 - 2 * t);
}

// 1 at 0, falling smoothly to 0 at |v| >= r.
inline double bump(double v, double r)
{
    const double t = clamp(1 - (v / r) * (v / r), 0.0, 1.0);
    return t * t;
}

// Polynomial smooth union and intersection of two distances, blending over k mm.
inline double smin(double a, double b, double k)
{
    const double h = clamp(0.5 + 0.5 * (b - a) / k, 0.0, 1.0);
    return mix(b, a, h) - k * h * (1 - h);
}
inline double smax(double a, double b, double k) { return -smin(-a, -b, k); }

// Distance to the slab lo <= v <= hi.
inline double slab(double v, double lo, double hi) { return std::fmax(lo - v, v - hi); }

// A shell of the given thickness just outside the surface at distance d.
inline double shell(double d, double thickness) { return std::fabs(d - thickness / 2) - thickness / 2; }

inline double ellipsoid(vec3 p, vec3 c, vec3 r)
{
    const vec3 u{(p.x - c.x) / r.x, (p.y - c.y) / r.y, (p.z - c.z) / r.z};
    const vec3 g{u.x / r.x, u.y / r.y, u.z / r.z};
    const double k0 = length(u), k1 = length(g);
    if (k1 < 1e-12) return -std::fmin(r.x, std::fmin(r.y, r.z));
    return k0 * (k0 - 1) / k1;
}

inline double ellipse(double x, double y, double cx, double cy, double rx, double ry)
{
    const double ux = (x - cx) / rx, uy = (y - cy) / ry;
    const double gx = ux / rx, gy = uy / ry;
    const double k0 = length(ux, uy), k1 = length(gx, gy);
    if (k1 < 1e-12) return -std::fmin(rx, ry);
    return k0 * (k0 - 1) / k1;
}

// A box c +- r with its edges rounded by radius round.
inline double rounded_box(vec3 p, vec3 c, vec3 r, double round)
{
    const double qx = std::fabs(p.x - c.x) - r.x + round, qy = std::fabs(p.y - c.y) - r.y + round,
                 qz = std::fabs(p.z - c.z) - r.z + round;
    const double outside = length(vec3{std::fmax(qx, 0.0), std::fmax(qy, 0.0), std::fmax(qz, 0.0)});
    return outside + std::fmin(std::fmax(qx, std::fmax(qy, qz)), 0.0) - round;
}

// The rectangle |u| <= hu, |v| <= hv with corners rounded by round.
inline double rounded_rect(double u, double v, double hu, double hv, double round)
{
    const double qu = std::fabs(u) - hu + round, qv = std::fabs(v) - hv + round;
    return length(std::fmax(qu, 0.0), std::fmax(qv, 0.0)) + std::fmin(std::fmax(qu, qv), 0.0) - round;
}

// A segment a..b thickened by a radius that runs from ra to rb.
inline double capsule(vec3 p, vec3 a, vec3 b, double ra, double rb)
{
    const vec3 pa = p - a, ba = b - a;
    const double h = clamp(dot(pa, ba) / dot(ba, ba), 0.0, 1.0);
    return length(pa - ba * h) - mix(ra, rb, h);
}

// A capsule whose section is an ellipse, across by up: z is squeezed so
// that the section is round, which keeps the distance close for the
// mostly horizontal bars it is used for.
inline double flat_bar(vec3 p, vec3 a, vec3 b, double across, double up)
{
    const double s = across / up;
    return capsule({p.x, p.y, p.z * s}, {a.x, a.y, a.z * s}, {b.x, b.y, b.z * s}, across, across);
}

// Exact distance to a convex or concave polygon of n vertices in a plane.
inline double polygon(const double (*v)[2], int n, double px, double py)
{
    double d = (px - v[0][0]) * (px - v[0][0]) + (py - v[0][1]) * (py - v[0][1]);
    double sign = 1;
    for (int i = 0, j = n - 1; i < n; j = i, ++i) {
        const double ex = v[j][0] - v[i][0], ey = v[j][1] - v[i][1];
        const double wx = px - v[i][0], wy = py - v[i][1];
        const double h = clamp((wx * ex + wy * ey) / (ex * ex + ey * ey), 0.0, 1.0);
        const double bx = wx - ex * h, by = wy - ey * h;
        d = std::fmin(d, bx * bx + by * by);
        const bool above = py >= v[i][1], below = py<v[j][1], left = ex * wy> ey * wx;
        if ((above && below && left) || (!above && !below && !left)) sign = -sign;
    }
    return sign * std::sqrt(d);
}

// Whether p lies within margin of the box c +- r. A shape inside that box
// can only be nearer than margin (or deeper than -margin) where this holds,
// which lets most shapes be skipped for most points.
inline bool near(vec3 p, vec3 c, vec3 r, double margin)
{
    return std::fabs(p.x - c.x) < r.x + margin && std::fabs(p.y - c.y) < r.y + margin &&
           std::fabs(p.z - c.z) < r.z + margin;
}

// The box around a capsule.
inline bool near_capsule(vec3 p, vec3 a, vec3 b, double radius, double margin)
{
    const vec3 c{(a.x + b.x) / 2, (a.y + b.y) / 2, (a.z + b.z) / 2};
    const vec3 r{std::fabs(b.x - a.x) / 2 + radius, std::fabs(b.y - a.y) / 2 + radius,
                 std::fabs(b.z - a.z) / 2 + radius};
    return near(p, c, r, margin);
}

}  // namespace phantom
