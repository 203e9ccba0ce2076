// Slice viewer: one z plane of the volume in grey over the whole window.
#include <algorithm>

#include "render/render.h"
#include "volume/volume_runs.h"
#include "volume/voxel_store.h"

namespace {

inline double sample(int x, int y, int z) { return volume[voxel_index(x, y, z)]; }

// The largest sample of the plane, so that it shows as white. Each sample
// lies on a cache line of its own, so the columns are shared among the
// cores.
float plane_maximum(int slice)
{
    int slice_max = 0;
#pragma omp parallel for schedule(static) reduction(max : slice_max)
    for (int x = 0; x < dim_x; ++x)
        for (int y = 0; y < dim_y; ++y) slice_max = std::max(slice_max, int(volume[voxel_index(x, y, slice)]));
    return float(slice_max);
}

// The plane's value at a pixel: bilinear inside, the sample itself in the
// last voxel column and row, where there is no neighbour to blend with.
// The two blends along x are rounded to float before the blend along y.
float slice_value(int x, int y, double fx, double fy, int slice)
{
    if (!(x < dim_x - 1 && y < dim_y - 1)) return float(sample(x, y, slice));
    const float lower = float((1 - fx) * sample(x, y, slice) + fx * sample(x + 1, y, slice));
    const float upper = float((1 - fx) * sample(x, y + 1, slice) + fx * sample(x + 1, y + 1, slice));
    return float((1 - fy) * lower + fy * upper);
}

}  // namespace

void render_slice(int slice)
{
    if (slice < 0 || slice >= dim_z) return;
    ensure_plane(slice);
    const float slice_max = plane_maximum(slice);
#pragma omp parallel for schedule(static)
    for (int row = 0; row < win_height; ++row) {
        std::uint8_t* out = &image[std::size_t(row) * win_width * 3];
        for (int col = 0; col < win_width; ++col) {
            int x, y;
            double fx, fy;
            pixel_to_voxel(col, row, &x, &y, &fx, &fy);
            const float value = slice_value(x, y, fx, fy, slice);
            // An all-zero plane stays black without dividing by zero.
            const std::uint8_t grey = slice_max > 0 ? low_byte((255 * double(value)) / slice_max) : 0;
            *out++ = grey;
            *out++ = grey;
            *out++ = grey;
        }
    }
}
