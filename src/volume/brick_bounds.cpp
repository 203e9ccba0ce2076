// Density bounds of the source and of the turned volume, brick by brick.
#include "volume/brick_bounds.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "volume/rotation_kernels.h"

alignas(64) std::uint64_t run_bricks[bricks_per_side * bricks_per_side * runs_per_column];

namespace {

// Bricks of volume_source: voxels 4 b .. 4 b + 4 on each axis.
density_bounds source_bricks[bricks_per_side * bricks_per_side * bricks_per_side];
int source_high = 0, source_low = 0;

// Bit bz of (bx, by): the source brick (bx, by, bz) holds zeros only.
std::uint64_t zero_bricks[bricks_per_side][bricks_per_side];
bool any_zero_brick = false;

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
    // For the whole bricks: the source point of voxel (0, 0, 0), and how
    // far it moves per brick along x and y and per run along z.
    double origin[3], brick_step[3][3];
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
    brick_map m{r, {{cb, 0, -sb}, {(-sa) * sb, ca, -(sa * cb)}, {ca * sb, sa, ca * cb}}, {}, {}, {}, {}};
    const int whole[3] = {brick_side, brick_side, run_length - 1};
    reach(m.linear, whole, m.whole_below, m.whole_above);
    source_point(r, 0, 0, 0, m.origin);
    for (int a = 0; a < 3; ++a) {
        m.brick_step[a][0] = m.linear[a][0] * brick_side;
        m.brick_step[a][1] = m.linear[a][1] * brick_side;
        m.brick_step[a][2] = m.linear[a][2] * run_length;
    }
    return m;
}

// floor(v) for a finite v well inside the range of int.
int floor_of(double v)
{
    const int t = int(v);
    return t - (double(t) > v);
}

// How far a turned brick's box reaches beyond the images of its corners.
constexpr double box_margin = 1.0 / 64;

// The cells of one source axis that hold the points from lo to hi, those
// inside the extent; cut when the points reach outside it.
struct cell_range {
    int first, last;
    bool cut;
};

cell_range cells_between(double lo, double hi, int extent)
{
    // Clamped first, so that the integer parts fit an int.
    return {std::max(0, floor_of(std::max(lo, -1.0))), std::min(extent - 2, floor_of(std::min(hi, double(extent)))),
            lo < 0 || hi >= extent - 1};
}

// The map of the turn volume stands for, once prepare_run_bricks has run
// since the turn.
brick_map turn_map;
bool turn_prepared = false;
bool turn_finite = false;  // no NaN in the map

// The bricks of one axis that hold a whole brick's box lo .. hi, clamped
// to the cells inside the extent; cut when the box reaches outside them,
// empty when it lies wholly outside. turned_brick's cells, with the
// clamping done before the truncations, which then round down.
struct brick_range {
    int first, last;
    bool cut, empty;
};

inline brick_range whole_brick_range(const brick_map& m, int a, int extent, int bx, int by, int rr)
{
    const double corner = ((m.origin[a] + bx * m.brick_step[a][0]) + by * m.brick_step[a][1]) + rr * m.brick_step[a][2];
    const double lo = corner + m.whole_below[a] - box_margin, hi = corner + m.whole_above[a] + box_margin;
    if (hi < 0 || lo >= extent - 1) return {0, 0, true, true};
    return {int(std::max(lo, 0.0)) / brick_side, int(std::min(hi, double(extent - 2))) / brick_side,
            lo < 0 || hi >= extent - 1, false};
}

// The bounds of a whole brick of a finite turn, the common case, in fewer
// steps than turned_brick.
density_bounds whole_turned_brick(const brick_map& m, int bx, int by, int rr)
{
    const brick_range x = whole_brick_range(m, 0, dim_x, bx, by, rr), y = whole_brick_range(m, 1, dim_y, bx, by, rr),
                      z = whole_brick_range(m, 2, dim_z, bx, by, rr);
    if (x.empty || y.empty || z.empty) return {0, 0};  // every point outside
    density_bounds b = source_box(x.first, x.last, y.first, y.last, z.first, z.last);
    b = {b.low - 1, b.high + 1};
    if (x.cut || y.cut || z.cut) widen(b, {0, 0});
    return b;
}

// A brick of the turned volume. Its voxels' source points lie in the box
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
    const int extent[3] = {dim_x, dim_y, dim_z};
    cell_range cells[3];
    for (int a = 0; a < 3; ++a) {
        const double lo = corner[a] + below[a] - box_margin, hi = corner[a] + above[a] + box_margin;
        if (std::isnan(lo) || std::isnan(hi)) return any_density;
        cells[a] = cells_between(lo, hi, extent[a]);
        if (cells[a].first > cells[a].last) return {0, 0};  // every point outside
    }
    const int first[3] = {cells[0].first / brick_side, cells[1].first / brick_side, cells[2].first / brick_side};
    const int last[3] = {cells[0].last / brick_side, cells[1].last / brick_side, cells[2].last / brick_side};
    density_bounds b = source_box(first[0], last[0], first[1], last[1], first[2], last[2]);
    b = {b.low - 1, b.high + 1};
    if (cells[0].cut || cells[1].cut || cells[2].cut) widen(b, {0, 0});
    return b;
}

}  // namespace

void measure_source_bricks()
{
    source_high = source_low = 0;
    std::memset(zero_bricks, 0, sizeof zero_bricks);
    any_zero_brick = false;
    // Only the bricks inside the extents are ever read.
    if (dim_x == 0 || dim_y == 0 || dim_z == 0) return;
#pragma omp parallel for schedule(dynamic, 1)
    for (int bx = 0; bx < bricks_along(dim_x); ++bx) measure_slab(bx);
#pragma omp parallel for schedule(dynamic, 1)
    for (int bx = 0; bx < bricks_along(dim_x); ++bx) block_slab(bx);
    int high = INT_MIN, low = INT_MAX;
    for (int bx = 0; bx < bricks_along(dim_x); ++bx)
        for (int by = 0; by < bricks_along(dim_y); ++by)
            for (int bz = 0; bz < bricks_along(dim_z); ++bz) {
                const density_bounds b = source_brick(bx, by, bz);
                high = std::max(high, b.high);
                low = std::min(low, b.low);
                if (b.low == 0 && b.high == 0) {
                    zero_bricks[bx][by] |= std::uint64_t{1} << bz;
                    any_zero_brick = true;
                }
            }
    source_high = high;
    source_low = low;
}

int source_density_high() { return source_high; }

bool source_has_zero_bricks() { return any_zero_brick; }

bool source_cells_zero(int x0, int x1, int y0, int y1, int z0, int z1)
{
    if (!any_zero_brick) return false;
    const int bz0 = z0 / brick_side, bz1 = z1 / brick_side;
    const std::uint64_t layers = bz1 - bz0 + 1 == 64 ? ~std::uint64_t{0} : ((std::uint64_t{1} << (bz1 - bz0 + 1)) - 1) << bz0;
    for (int bx = x0 / brick_side; bx <= x1 / brick_side; ++bx)
        for (int by = y0 / brick_side; by <= y1 / brick_side; ++by)
            if ((zero_bricks[bx][by] & layers) != layers) return false;
    return true;
}
int source_density_low() { return source_low; }

density_bounds bound_run_brick(std::size_t i)
{
    const int rr = int(i % runs_per_column), by = int(i / runs_per_column % bricks_per_side),
              bx = int(i / runs_per_column / bricks_per_side);
    // A whole brick: 4 x 4 columns and 16 layers, all inside the extents.
    const bool whole = (bx + 1) * brick_side < dim_x && (by + 1) * brick_side < dim_y && (rr + 1) * run_length <= dim_z;
    density_bounds b;
    if (volume_turn.as_loaded)
        b = loaded_brick(bx, by, rr);
    else if (!turn_prepared)  // a reader other than the surface rays
        b = turned_brick(brick_map_for(volume_turn.r), bx, by, rr);
    else if (whole && turn_finite)
        b = whole_turned_brick(turn_map, bx, by, rr);
    else
        b = turned_brick(turn_map, bx, by, rr);
    const std::uint64_t word = std::uint64_t(std::uint32_t(b.low)) | std::uint64_t(std::uint32_t(b.high)) << 32;
    std::atomic_ref<std::uint64_t>(run_bricks[i]).store(word, std::memory_order_relaxed);
    return b;
}

void prepare_run_bricks()
{
    if (turn_prepared || volume_turn.as_loaded) return;
    turn_map = brick_map_for(volume_turn.r);
    turn_finite = true;
    for (int a = 0; a < 3; ++a) {
        turn_finite &= !std::isnan(turn_map.origin[a]);
        for (int d = 0; d < 3; ++d) turn_finite &= !std::isnan(turn_map.brick_step[a][d]);
    }
    turn_prepared = true;
}

void forget_run_bricks()
{
    // Only the bricks inside the extents are ever asked for.
    for (int bx = 0; bx < bricks_along(dim_x); ++bx) {
        std::uint64_t* slab = &run_bricks[std::size_t(bx) * bricks_per_side * runs_per_column];
        std::fill(slab, slab + std::size_t(bricks_along(dim_y)) * runs_per_column, unbounded_brick);
    }
    turn_prepared = false;
}
