// Density bounds of the source and of the turned volume, brick by brick.
#include "volume/brick_bounds.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "volume/rotation_kernels.h"

density_bounds run_bricks[bricks_per_side * bricks_per_side * runs_per_column];

namespace {

// Bricks of volume_source: voxels 4 b .. 4 b + 4 on each axis.
density_bounds source_bricks[bricks_per_side * bricks_per_side * bricks_per_side];
// Per slab of bricks (one bx), whether its bricks are bounded for the turn.
bool slab_ready[bricks_per_side];
int source_high = 0;

constexpr density_bounds no_voxel = {INT_MAX, INT_MIN};
constexpr density_bounds any_density = {INT_MIN / 2, INT_MAX / 2};

std::size_t source_brick_index(int bx, int by, int bz)
{
    return (std::size_t(bx) * bricks_per_side + std::size_t(by)) * bricks_per_side + std::size_t(bz);
}

density_bounds& source_brick(int bx, int by, int bz) { return source_bricks[source_brick_index(bx, by, bz)]; }

// The source bricks a turned brick's box covers, some 4 x 3 x 6 of them, in
// blocks of 2 along y by 4 along z: a box then takes a quarter of the
// lookups. Densities are 16-bit, so are their bounds: the table stays
// small. Block (bx, by, bz) bounds the source bricks by .. by + 1 by
// bz .. bz + 3 that lie inside the extents.
struct short_bounds {
    stored_density low, high;
};
constexpr int block_y = 2, block_z = 4;
short_bounds source_blocks[bricks_per_side * bricks_per_side * bricks_per_side];

void widen(density_bounds& b, const density_bounds& other)
{
    if (other.low < b.low) b.low = other.low;
    if (other.high > b.high) b.high = other.high;
}

void widen_by_block(density_bounds& b, const short_bounds& other)
{
    if (other.low < b.low) b.low = other.low;
    if (other.high > b.high) b.high = other.high;
}

int bricks_along(int extent) { return (extent + brick_side - 1) / brick_side; }

// Eight densities at once (GCC's vector extensions).
typedef stored_density densities8 __attribute__((vector_size(16)));

// The smallest and largest density of every layer over the columns
// x0 .. x1 by y0 .. y1. The bounds of 32 layers stay in registers while
// every column passes, so that each sample costs one load.
void layer_bounds(int x0, int x1, int y0, int y1, stored_density* low, stored_density* high)
{
    constexpr int vectors = 4, chunk = vectors * 8;
    int z = 0;
    for (; z + chunk <= dim_z; z += chunk) {
        densities8 l[vectors], h[vectors];
        for (int i = 0; i < vectors; ++i) {
            l[i] = densities8{} + INT16_MAX;
            h[i] = densities8{} + INT16_MIN;
        }
        for (int x = x0; x <= x1; ++x)
            for (int y = y0; y <= y1; ++y) {
                const stored_density* column = &volume_source[voxel_index(x, y, z)];
                for (int i = 0; i < vectors; ++i) {
                    densities8 v;
                    std::memcpy(&v, column + 8 * i, sizeof v);
                    l[i] = v < l[i] ? v : l[i];
                    h[i] = v > h[i] ? v : h[i];
                }
            }
        std::memcpy(low + z, l, sizeof l);
        std::memcpy(high + z, h, sizeof h);
    }
    for (; z < dim_z; ++z) {
        low[z] = INT16_MAX;
        high[z] = INT16_MIN;
        for (int x = x0; x <= x1; ++x)
            for (int y = y0; y <= y1; ++y) {
                const stored_density v = volume_source[voxel_index(x, y, z)];
                low[z] = std::min(low[z], v);
                high[z] = std::max(high[z], v);
            }
    }
}

// The source bricks of the slab bx: the smallest and largest density of
// every layer over the 5 x 5 columns of each brick, then over its 5 layers.
void measure_slab(int bx)
{
    stored_density low[volume_side], high[volume_side];
    const int x0 = bx * brick_side, x1 = std::min(x0 + brick_side, dim_x - 1);
    for (int by = 0; by < bricks_along(dim_y); ++by) {
        const int y0 = by * brick_side, y1 = std::min(y0 + brick_side, dim_y - 1);
        layer_bounds(x0, x1, y0, y1, low, high);
        const int bricks_z = bricks_along(dim_z), last_layer = dim_z - 1;
        for (int bz = 0; bz < bricks_z; ++bz) {
            density_bounds b = no_voxel;
            const int z0 = bz * brick_side, z1 = z0 + brick_side < last_layer ? z0 + brick_side : last_layer;
            for (int z = z0; z <= z1; ++z) widen(b, {low[z], high[z]});
            source_brick(bx, by, bz) = b;
        }
    }
}

// The blocks of the slab bx, from its measured source bricks.
void block_slab(int bx)
{
    const int ny = bricks_along(dim_y), nz = bricks_along(dim_z);
    for (int by = 0; by < ny; ++by)
        for (int bz = 0; bz < nz; ++bz) {
            density_bounds b = no_voxel;
            for (int y = by; y < std::min(by + block_y, ny); ++y)
                for (int z = bz; z < std::min(bz + block_z, nz); ++z) widen(b, source_brick(bx, y, z));
            source_blocks[source_brick_index(bx, by, bz)] = {stored_density(b.low), stored_density(b.high)};
        }
}

// The starts of the blocks of length span that cover first .. last
// exactly, the last one flush with last (it may overlap the one before:
// a bound taken twice is the same bound); last - first + 1 >= span.
template <typename Visit>
void cover(int first, int last, int span, Visit visit)
{
    for (int a = first;; a += span) {
        if (a + span > last) {
            visit(last - span + 1);
            return;
        }
        visit(a);
    }
}

// The bounds of the source bricks x0 .. x1 by y0 .. y1 by z0 .. z1.
density_bounds source_box(int x0, int x1, int y0, int y1, int z0, int z1)
{
    density_bounds b = no_voxel;
    if (y1 - y0 + 1 >= block_y && z1 - z0 + 1 >= block_z) {
        for (int sx = x0; sx <= x1; ++sx)
            cover(y0, y1, block_y, [&](int sy) {
                cover(z0, z1, block_z,
                      [&](int sz) { widen_by_block(b, source_blocks[source_brick_index(sx, sy, sz)]); });
            });
        return b;
    }
    for (int sx = x0; sx <= x1; ++sx)
        for (int sy = y0; sy <= y1; ++sy)
            for (int sz = z0; sz <= z1; ++sz) widen(b, source_brick(sx, sy, sz));
    return b;
}

// The brick of the volume as loaded: its source bricks themselves.
density_bounds loaded_brick(int bx, int by, int r)
{
    density_bounds b = no_voxel;
    const int z0 = r * run_length, z1 = std::min(z0 + run_length - 1, dim_z - 1);
    for (int bz = z0 / brick_side; bz <= z1 / brick_side && bz < bricks_per_side; ++bz)
        widen(b, source_brick(bx, by, bz));
    return b;
}

// The source point of voxel (i, j, k) before the rounding to float, in
// rotated_voxel's grouping.
void source_point(const rotation& r, double i, double j, double k, double s[3])
{
    const double ca = r.ca, sa = r.sa, cb = r.cb, sb = r.sb;
    const double u = i - r.cx, v = j - r.cy, w = k - r.cz;
    s[0] = ((u * cb) - (w * sb)) + r.cx;
    s[1] = ((((-sa) * sb) * u + v * ca) - (sa * cb) * w) + r.cy;
    s[2] = (((ca * sb) * u + v * sa) + (ca * cb) * w) + r.cz;
}

// The map of a turn, once per turn: its linear part, and how far the
// source points of a whole brick reach below and above those of its first
// corner on each source axis (the products of the map's coefficients with
// the brick's extents, taken where they lower or raise that axis).
struct brick_map {
    rotation r;
    double linear[3][3];
    double whole_below[3], whole_above[3];
};

void reach(const double linear[3][3], const int size[3], double below[3], double above[3])
{
    for (int a = 0; a < 3; ++a) {
        below[a] = above[a] = 0;
        for (int d = 0; d < 3; ++d) {
            const double step = linear[a][d] * size[d];
            (step < 0 ? below[a] : above[a]) += step;
        }
    }
}

brick_map brick_map_for(const rotation& r)
{
    const double ca = r.ca, sa = r.sa, cb = r.cb, sb = r.sb;
    brick_map m{r, {{cb, 0, -sb}, {(-sa) * sb, ca, -(sa * cb)}, {ca * sb, sa, ca * cb}}, {}, {}};
    const int whole[3] = {brick_side, brick_side, run_length - 1};
    reach(m.linear, whole, m.whole_below, m.whole_above);
    return m;
}

// floor(v) for a finite v well inside the range of int.
int floor_of(double v)
{
    const int t = int(v);
    return t - (double(t) > v);
}

// The brick of the turned volume. Its voxels' source points lie in the box
// around the images of its corners (the map is affine); the float rounding,
// and the box's sums grouped otherwise than rotated_voxel's, move them by
// far less than the margin. An inside point blends the eight corners of the
// cell at its integer part, all in the source brick of that cell, and the
// blend, rounded and truncated, lies within one of their smallest and
// largest values. A point outside the extents gives 0.
density_bounds turned_brick(const brick_map& m, int bx, int by, int rr)
{
    const int corner_lo[3] = {bx * brick_side, by * brick_side, rr * run_length};
    const int size[3] = {std::min(brick_side, dim_x - 1 - corner_lo[0]), std::min(brick_side, dim_y - 1 - corner_lo[1]),
                         std::min(run_length - 1, dim_z - 1 - corner_lo[2])};
    double corner[3], below[3], above[3];
    source_point(m.r, corner_lo[0], corner_lo[1], corner_lo[2], corner);
    if (size[0] == brick_side && size[1] == brick_side && size[2] == run_length - 1) {
        std::memcpy(below, m.whole_below, sizeof below);
        std::memcpy(above, m.whole_above, sizeof above);
    } else {
        reach(m.linear, size, below, above);
    }
    constexpr double margin = 1.0 / 64;
    double lo[3], hi[3];
    for (int a = 0; a < 3; ++a) {
        lo[a] = corner[a] + below[a] - margin;
        hi[a] = corner[a] + above[a] + margin;
        if (std::isnan(lo[a]) || std::isnan(hi[a])) return any_density;
    }
    const int extent[3] = {dim_x, dim_y, dim_z};
    bool partly_outside = false;
    int first_cell[3], last_cell[3];
    for (int a = 0; a < 3; ++a) {
        partly_outside |= lo[a] < 0 || hi[a] >= extent[a] - 1;
        // Clamped first, so that the integer parts fit an int.
        first_cell[a] = std::max(0, floor_of(std::max(lo[a], -1.0)));
        last_cell[a] = std::min(extent[a] - 2, floor_of(std::min(hi[a], double(extent[a]))));
        if (first_cell[a] > last_cell[a]) return {0, 0};  // every point outside
    }
    density_bounds b = source_box(first_cell[0] / brick_side, last_cell[0] / brick_side, first_cell[1] / brick_side,
                                  last_cell[1] / brick_side, first_cell[2] / brick_side, last_cell[2] / brick_side);
    b = {b.low - 1, b.high + 1};
    if (partly_outside) widen(b, {0, 0});
    return b;
}

}  // namespace

void measure_source_bricks()
{
    source_high = 0;
    // Only the bricks inside the extents are ever read.
    if (dim_x == 0 || dim_y == 0 || dim_z == 0) return;
#pragma omp parallel for schedule(dynamic, 1)
    for (int bx = 0; bx < bricks_along(dim_x); ++bx) measure_slab(bx);
#pragma omp parallel for schedule(dynamic, 1)
    for (int bx = 0; bx < bricks_along(dim_x); ++bx) block_slab(bx);
    int high = INT_MIN;
    for (int bx = 0; bx < bricks_along(dim_x); ++bx)
        for (int by = 0; by < bricks_along(dim_y); ++by)
            for (int bz = 0; bz < bricks_along(dim_z); ++bz) high = std::max(high, source_brick(bx, by, bz).high);
    source_high = high;
}

int source_density_high() { return source_high; }

void prepare_run_bricks(int x_first, int x_last)
{
    // The slabs asked for and not bounded yet: the split view's surface half
    // needs only the slabs of its columns.
    int slabs[bricks_per_side], count = 0;
    const int first = std::max(x_first, 0) / brick_side, last = std::min(x_last, dim_x - 1) / brick_side;
    for (int bx = first; bx <= last; ++bx)
        if (!slab_ready[bx]) slabs[count++] = bx;
    if (count == 0) return;  // the frames after the first of a turn
    const int ny = bricks_along(dim_y), runs = (dim_z + run_length - 1) / run_length;
    const bool loaded = volume_turn.as_loaded;
    const brick_map m = brick_map_for(volume_turn.r);
#pragma omp parallel for schedule(dynamic, 1)
    for (int i = 0; i < count; ++i) {
        const int bx = slabs[i];
        for (int by = 0; by < ny; ++by)
            for (int rr = 0; rr < runs; ++rr)
                run_bricks[(std::size_t(bx) * bricks_per_side + std::size_t(by)) * runs_per_column + std::size_t(rr)] =
                    loaded ? loaded_brick(bx, by, rr) : turned_brick(m, bx, by, rr);
    }
    for (int i = 0; i < count; ++i) slab_ready[slabs[i]] = true;
}

void forget_run_bricks() { std::memset(slab_ready, 0, sizeof slab_ready); }
