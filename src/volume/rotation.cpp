// Turns the volume by resampling volume_source into volume.
#include "volume/volume.h"

#include <cmath>

namespace {

// Source point of a destination offset (u, v, w) from the centre: the
// expanded product of the two turns, every operation in double precision and
// only the final sums rounded to float.
struct rotation_factors {
    float ca, sa, cb, sb;
    float cx, cy, cz;
};

inline double source(int x, int y, int z)
{
    return volume_source[voxel_index(x, y, z)];
}

// Trilinear sample of volume_source at an inside point, with the blends along
// x, then y, then z each rounded to float.
inline int resample(float sx, float sy, float sz)
{
    const int ix = int(sx), iy = int(sy), iz = int(sz);
    const float tx = sx - float(ix), ty = sy - float(iy), tz = sz - float(iz);
    const double wx = 1.0 - tx, wy = 1.0 - ty, wz = 1.0 - tz;

    const float lx00 = float(wx * source(ix, iy, iz) + source(ix + 1, iy, iz) * tx);
    const float lx10 = float(wx * source(ix, iy + 1, iz) + source(ix + 1, iy + 1, iz) * tx);
    const float lx01 = float(wx * source(ix, iy, iz + 1) + source(ix + 1, iy, iz + 1) * tx);
    const float lx11 = float(wx * source(ix, iy + 1, iz + 1) + source(ix + 1, iy + 1, iz + 1) * tx);
    const float ly0 = float(wy * lx00 + double(ty) * lx10);
    const float ly1 = float(wy * lx01 + double(ty) * lx11);
    const float lz = float(wz * ly0 + double(tz) * ly1);
    return int(lz);
}

// Resamples the voxel column (i, j, 0 .. dim_z - 1) of volume.
void rotate_column(const rotation_factors& f, int i, int j)
{
    const double ca = f.ca, sa = f.sa, cb = f.cb, sb = f.sb;
    const double u = double(i) - f.cx, v = double(j) - f.cy;
    int* out = &volume[voxel_index(i, j, 0)];
    for (int k = 0; k < dim_z; ++k) {
        const double w = double(k) - f.cz;
        const float sx = float(((u * cb) - (w * sb)) + f.cx);
        const float sy = float(((((-sa) * sb) * u + v * ca) - (sa * cb) * w) + f.cy);
        const float sz = float((((ca * sb) * u + v * sa) + (ca * cb) * w) + f.cz);
        // Upper bounds are strict so that the eight corners stay inside the
        // extents; a NaN fails the first test.
        const bool inside = sx >= 0 && sx < float(dim_x - 1) && sy >= 0 && sy < float(dim_y - 1) &&
                            sz >= 0 && sz < float(dim_z - 1);
        out[k] = inside ? resample(sx, sy, sz) : 0;
    }
}

}  // namespace

void rotate_volume(float angle_a, float angle_b)
{
    // The centre is the integer half of each extent, not the middle index.
    const rotation_factors f{float(std::cos(double(angle_a))), float(std::sin(double(angle_a))),
                             float(std::cos(double(angle_b))), float(std::sin(double(angle_b))),
                             float(dim_x / 2),                 float(dim_y / 2),
                             float(dim_z / 2)};
    for (int i = 0; i < dim_x; ++i)
        for (int j = 0; j < dim_y; ++j) rotate_column(f, i, j);
}
