// A synthetic CT head built from smooth analytic shapes.
//
// Every voxel is mapped to millimetres in the anatomy's frame (anatomy.h)
// and its density is painted layer by layer: air, skin, fat and muscle by
// depth below the skin, then the cranium with what its cavities hold, the
// neck, the jaws and teeth. Each boundary blends over about a voxel, and
// each voxel averages three heights through its slice, as a scanner
// averages over a slice's thickness. A fine grain varies the density inside
// tissue and bone, and a scanner's noise lies over everything, air
// included. Only correctly rounded operations (+ - * /, sqrt, floor, min,
// max) decide a density and the noise is an integer hash, so the output is
// the same bit for bit everywhere, whatever the number of threads.
#include "phantom.h"

#include "anatomy.h"
#include "texture.h"
#include "volume/slice_folder.h"
#include "volume/slice_format.h"

namespace {

using namespace phantom;

constexpr int side = slice_side;

// Voxel geometry: 1 mm pixels, and the 94 slices spread over 256 mm, as
// tall as a slice is wide, so that the viewer's square image shows the head
// in its true proportions. Slice 1 lies just above the crown.
constexpr double pixel_mm = phantom_pixel_mm;
constexpr double slice_step_mm = phantom_slice_mm;
static_assert(slice_step_mm * slice_count == slice_side * pixel_mm);
constexpr double top_slice_z = 137;
constexpr double centre_col = 127.5;
constexpr double origin_row = 131;  // the row of y = 0; the face lies at smaller rows

// The skin blends over 2 mm, which the shaded views show as a smooth surface.
constexpr double skin_edge_mm = 2.0;
double skin_cover(double d) { return clamp(0.5 - d / skin_edge_mm, 0.0, 1.0); }

// Heights sampled through each slice.
constexpr int heights = 3;

// A voxel whose middle lies this far outside the skin is air at every
// height through it.
constexpr double air_margin_mm = 0.5 * skin_edge_mm + 0.5 * slice_step_mm + 1;

// Nothing of the head lies outside this box, nor above z = 60 outside the
// scalp.
bool outside_head(vec3 p)
{
    if (p.x > 95 || p.y > 118 || p.y < -110 || p.z > 134) return true;
    return p.z > 60 && braincase(p, scalp_mm + 3) > 0;
}

tissue density_at(vec3 p, const face_shape& face)
{
    if (outside_head(p)) return {air, 0};
    const double surface = head_surface(p, face);
    if (surface >= 0.5 * skin_edge_mm) return {air, 0};
    const double c = skin_cover(surface);
    tissue t{mix(air, soft_tissue(-surface), c), soft_texture * c};
    paint_skull(t, p);
    paint_eye(t, p);
    paint_neck(t, p);
    paint_jaws(t, p);
    return t;
}

// The stored word of a density, with the voxel's grain and noise.
std::uint16_t word(tissue t, vec3 p, int n, int row, int col)
{
    const double grain = t.texture > 0 ? t.texture * tissue_grain(p) : 0.0;
    const int value = int(std::floor(t.density + grain + 0.5)) + voxel_noise(n, row, col);
    return std::uint16_t(value < 0 ? 0 : (value > largest_density ? largest_density : value));
}

}  // namespace

void make_phantom_slice(int n, std::uint16_t* words)
{
    const double z = top_slice_z - (n - 1) * slice_step_mm;
    double zs[heights];
    face_shape faces[heights];
    for (int k = 0; k < heights; ++k) {
        zs[k] = z + (k - (heights - 1) / 2.0) * slice_step_mm / heights;
        faces[k] = face_at(zs[k]);
    }
    // The head is symmetric: the right half is computed and mirrored, and
    // only the grain and noise tell the two halves apart.
#pragma omp parallel for schedule(dynamic, 4)
    for (int row = 0; row < side; ++row) {
        const double y = (origin_row - row) * pixel_mm;
        for (int col = side / 2; col < side; ++col) {
            const double x = (col - centre_col) * pixel_mm;
            tissue sum{0, 0};
            const vec3 middle{x, y, z};
            if (outside_head(middle) || head_surface(middle, faces[heights / 2]) > air_margin_mm) {
                sum = {air * heights, 0};
            } else {
                for (int k = 0; k < heights; ++k) {
                    const tissue t = density_at({x, y, zs[k]}, faces[k]);
                    sum.density += t.density;
                    sum.texture += t.texture;
                }
            }
            const tissue mean{sum.density / heights, sum.texture / heights};
            words[row * side + col] = word(mean, {x, y, z}, n, row, col);
            words[row * side + side - 1 - col] = word(mean, {-x, y, z}, n, row, side - 1 - col);
        }
    }
}

phantom_voxel phantom_voxel_at(double x, double y, double z)
{
    return {1 + int(std::floor((top_slice_z - z) / slice_step_mm + 0.5)),
            int(std::floor(origin_row - y / pixel_mm + 0.5)), int(std::floor(centre_col + x / pixel_mm + 0.5))};
}

std::string write_phantom(const std::string& folder, bool force)
{
    return write_slice_folder(
        folder,
        [](int n, std::uint16_t* words) {
            make_phantom_slice(n, words);
            return true;
        },
        force);
}
