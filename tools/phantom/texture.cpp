#include "texture.h"

namespace phantom {

std::uint32_t hash3(std::int32_t a, std::int32_t b, std::int32_t c, std::uint32_t seed)
{
    std::uint32_t h = seed ^ 0x2545F491u;
    h ^= std::uint32_t(a) * 0x9E3779B1u;
    h ^= std::uint32_t(b) * 0x85EBCA77u + (h << 6) + (h >> 2);
    h ^= std::uint32_t(c) * 0xC2B2AE3Du + (h << 6) + (h >> 2);
    h ^= h >> 16;
    h *= 0x7FEB352Du;
    h ^= h >> 15;
    h *= 0x846CA68Bu;
    h ^= h >> 16;
    return h;
}

namespace {

// -1..1 at a lattice corner.
double corner(std::int32_t i, std::int32_t j, std::int32_t k, std::uint32_t seed)
{
    return double(hash3(i, j, k, seed) >> 8) * (2.0 / 16777215.0) - 1;
}

double fade(double t) { return t * t * (3 - 2 * t); }

}  // namespace

double value_noise(vec3 p, double cell_mm, std::uint32_t seed)
{
    const double u = p.x / cell_mm, v = p.y / cell_mm, w = p.z / cell_mm;
    const double fu = std::floor(u), fv = std::floor(v), fw = std::floor(w);
    const auto i = std::int32_t(fu), j = std::int32_t(fv), k = std::int32_t(fw);
    const double a = fade(u - fu), b = fade(v - fv), c = fade(w - fw);
    auto row = [&](std::int32_t jj, std::int32_t kk) {
        return mix(corner(i, jj, kk, seed), corner(i + 1, jj, kk, seed), a);
    };
    return mix(mix(row(j, k), row(j + 1, k), b), mix(row(j, k + 1), row(j + 1, k + 1), b), c);
}

double tissue_grain(vec3 p) { return 0.6 * value_noise(p, 3.2, 11) + 0.4 * value_noise(p, 1.6, 12); }

int voxel_noise(int n, int row, int col)
{
    const std::uint32_t h = hash3(n, row, col, 0);
    return int(h % 17) + int((h >> 16) % 17) - 16;
}

}  // namespace phantom
