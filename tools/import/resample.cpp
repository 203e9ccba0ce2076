// From a stack of planes to the viewer's grid: a cube field of view, so
// that the square window shows the head in its true proportions.
#include "scan_stack.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>

namespace {

bool finite(Vec3 v) { return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]); }

// Lengths without overflow: a spacing of 1e200 mm must reach the extent
// check, not become infinite on the way.
double norm(Vec3 v) { return std::hypot(v[0], v[1], v[2]); }

Vec3 unit(Vec3 v) { return (1.0 / norm(v)) * v; }

// The planes' normal, pointing from the first plane to the last.
Vec3 plane_normal(const ScanStack& s)
{
    Vec3 n = unit(cross(s.column_step, s.row_step));
    const Vec3 along = s.origins.size() > 1 ? s.origins.back() - s.origins.front() : s.plane_step;
    return dot(along, n) < 0 ? -1.0 * n : n;
}

// In-plane coordinates: u = U.(p - origin), v = V.(p - origin) for any
// point p, even where the column and row steps are not perpendicular.
struct PlaneAxes {
    Vec3 u, v;
};

PlaneAxes plane_axes(const ScanStack& s)
{
    const Vec3 a = s.column_step, b = s.row_step;
    const double aa = dot(a, a), ab = dot(a, b), bb = dot(b, b), det = aa * bb - ab * ab;
    return {(1.0 / det) * (bb * a - ab * b), (1.0 / det) * (aa * b - ab * a)};
}

struct Box {
    Vec3 lo, hi;
};

// The stack's bounding box at the outer faces of its samples.
Box bounding_box(const ScanStack& s)
{
    Box box{{INFINITY, INFINITY, INFINITY}, {-INFINITY, -INFINITY, -INFINITY}};
    for (const Vec3& o : {s.origins.front(), s.origins.back()})
        for (int corner = 0; corner < 8; ++corner) {
            const double i = corner & 1 ? s.columns - 0.5 : -0.5;
            const double j = corner & 2 ? s.rows - 0.5 : -0.5;
            const double k = corner & 4 ? 0.5 : -0.5;
            const Vec3 p = o + i * s.column_step + j * s.row_step + k * s.plane_step;
            for (int d = 0; d < 3; ++d) box.lo[d] = std::min(box.lo[d], p[d]), box.hi[d] = std::max(box.hi[d], p[d]);
        }
    return box;
}

class StackSampler {
public:
    StackSampler(const ScanStack& s, float air)
        : s_(s), air_(air), normal_(plane_normal(s)), axes_(plane_axes(s)),
          half_border_(0.5 * std::abs(dot(s.plane_step, normal_)))
    {
        for (const Vec3& o : s.origins) {
            depth_.push_back(dot(o - s.origins.front(), normal_));
            u0_.push_back(dot(axes_.u, o));
            v0_.push_back(dot(axes_.v, o));
        }
    }

    float at(Vec3 p) const
    {
        const double t = dot(p - s_.origins.front(), normal_);
        if (t < -half_border_ || t > depth_.back() + half_border_) return air_;
        const double u = dot(axes_.u, p), v = dot(axes_.v, p);
        const std::size_t last = depth_.size() - 1;
        if (t <= 0) return plane(0, u, v).value_or(air_);
        if (t >= depth_[last]) return plane(last, u, v).value_or(air_);
        const std::size_t k = std::size_t(std::upper_bound(depth_.begin(), depth_.end(), t) - depth_.begin()) - 1;
        const double w = (t - depth_[k]) / (depth_[k + 1] - depth_[k]);
        const auto a = plane(k, u, v), b = plane(k + 1, u, v);
        if (a && b) return float((1 - w) * *a + w * *b);
        return a ? *a : b ? *b : air_;
    }

private:
    // Bilinear sample of plane k, or nothing outside it.
    std::optional<double> plane(std::size_t k, double u_abs, double v_abs) const
    {
        const double u = u_abs - u0_[k], v = v_abs - v0_[k];
        if (!(u >= -0.5 && u <= s_.columns - 0.5 && v >= -0.5 && v <= s_.rows - 0.5)) return std::nullopt;
        const double uc = std::clamp(u, 0.0, double(s_.columns - 1)), vc = std::clamp(v, 0.0, double(s_.rows - 1));
        const int i = std::min(int(uc), s_.columns - 2 < 0 ? 0 : s_.columns - 2);
        const int j = std::min(int(vc), s_.rows - 2 < 0 ? 0 : s_.rows - 2);
        const double fu = uc - i, fv = vc - j;
        const std::size_t plane_size = std::size_t(s_.columns) * std::size_t(s_.rows);
        const float* p = s_.values.data() + k * plane_size + std::size_t(j) * std::size_t(s_.columns) + std::size_t(i);
        const int di = s_.columns > 1 ? 1 : 0;
        const std::size_t dj = s_.rows > 1 ? std::size_t(s_.columns) : 0;
        const double top = (1 - fu) * p[0] + fu * p[di], bottom = (1 - fu) * p[dj] + fu * p[dj + di];
        return (1 - fv) * top + fv * bottom;
    }

    const ScanStack& s_;
    float air_;
    Vec3 normal_;
    PlaneAxes axes_;
    double half_border_;
    std::vector<double> depth_, u0_, v0_;
};

}  // namespace

std::string check_stack(const ScanStack& s)
{
    if (s.columns < 1 || s.rows < 1 || s.origins.size() < 2) return "fewer than two planes of samples";
    if (s.values.size() != std::size_t(s.columns) * std::size_t(s.rows) * s.origins.size())
        return "the samples do not fill the planes";
    if (!finite(s.column_step) || !finite(s.row_step) || !finite(s.plane_step))
        return "a pixel spacing or orientation is not a finite number";
    for (const Vec3& o : s.origins)
        if (!finite(o)) return "a slice position is not a finite number";
    const Vec3 n = cross(s.column_step, s.row_step);
    const double area = norm(s.column_step) * norm(s.row_step);
    if (!(area > 0) || !(norm(n) > 1e-6 * area))
        return "the pixel spacing is zero or the axes are parallel";
    if (!(std::abs(dot(s.plane_step, unit(n))) > 0)) return "the planes have no spacing between them";
    const Vec3 normal = plane_normal(s);
    for (std::size_t k = 1; k < s.origins.size(); ++k)
        if (!(dot(s.origins[k] - s.origins[k - 1], normal) > 0)) return "the planes are not ordered along their normal";
    const Box box = bounding_box(s);
    for (int d = 0; d < 3; ++d)
        if (!std::isfinite(box.lo[d]) || !std::isfinite(box.hi[d]) || box.hi[d] - box.lo[d] > 1e6)
            return "the scan's extent is not finite or over a kilometre";
    return {};
}

void resample_stack(const ScanStack& s, float air, GridSize grid, SlicedScan& scan, const ImportProgress& progress)
{
    const Box box = bounding_box(s);
    const Vec3 extent = box.hi - box.lo, centre = 0.5 * (box.lo + box.hi);
    const double side = std::max({extent[0], extent[1], extent[2]});
    const double in_plane = side / grid.columns, between = side / grid.slices;
    // Columns run along +x, rows along +y, slices along -z (the top first).
    const Vec3 first = {centre[0] - 0.5 * (grid.columns - 1) * in_plane, centre[1] - 0.5 * (grid.rows - 1) * in_plane,
                        centre[2] + 0.5 * (grid.slices - 1) * between};
    const StackSampler sampler(s, air);
    scan.values.assign(grid.words(), air);
    std::size_t i = 0;
    for (int k = 0; k < grid.slices; ++k) {
        if (progress) progress("resampling", double(k) / grid.slices);
        for (int r = 0; r < grid.rows; ++r)
            for (int c = 0; c < grid.columns; ++c)
                scan.values[i++] =
                    sampler.at({first[0] + c * in_plane, first[1] + r * in_plane, first[2] - k * between});
    }
    if (progress) progress("resampling", 1.0);
    scan.spacing_in_plane = in_plane;
    scan.spacing_between_slices = between;
    scan.extent = extent;
}

std::string brief_number(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.4g", value);
    return text;
}
