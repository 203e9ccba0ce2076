#include "keys_case.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "app/controls.h"
#include "app/view_state.h"
#include "app/viewer.h"
#include "render/frame.h"
#include "volume/rotation.h"
#include "volume/volume_runs.h"
#include "volume/voxel_store.h"

namespace {

constexpr int largest_extent = 32;
constexpr int most_keys = 200;

struct byte_reader {
    const std::uint8_t* data;
    std::size_t size, at = 0;
    std::uint8_t next() { return at < size ? data[at++] : 0; }
};

// Everything a key may change.
struct view {
    int render_mode, start_layer, slice_index, win_width, win_height;
    double surface_level, density_threshold;
    float angle_a, angle_b;
    std::vector<std::uint8_t> image;
    bool operator==(const view&) const = default;
};

view view_now()
{
    return {render_mode,   start_layer,       slice_index, win_width, win_height,
            surface_level, density_threshold, angle_a,     angle_b,   image};
}

void zero_corner()
{
    for (int x = 0; x <= largest_extent; ++x)
        for (int y = 0; y <= largest_extent; ++y) {
            std::memset(&volume[voxel_index(x, y, 0)], 0, (largest_extent + 1) * sizeof(stored_density));
            std::memset(&volume_source[voxel_index(x, y, 0)], 0, (largest_extent + 1) * sizeof(stored_density));
        }
}

std::string at(int x, int y, int z)
{
    return "(" + std::to_string(x) + ", " + std::to_string(y) + ", " + std::to_string(z) + ")";
}

bool rotation_key(unsigned char key) { return key == 'k' || key == 'l' || key == 'm' || key == 'o'; }

std::string check_view(int width, int height, unsigned char key)
{
    const std::string after = " after key " + std::to_string(key);
    if (win_width != width || win_height != height)
        return "window " + std::to_string(win_width) + " x " + std::to_string(win_height) + after + ", set to " +
               std::to_string(width) + " x " + std::to_string(height);
    if (image.size() != std::size_t(width) * std::size_t(height) * 3)
        return "image of " + std::to_string(image.size()) + " bytes for a " + std::to_string(width) + " x " +
               std::to_string(height) + " window" + after;
    if (render_mode < 0 || render_mode > 3) return "render_mode " + std::to_string(render_mode) + after;
    if (start_layer < -1 || start_layer > std::max(dim_z - 1, 0))
        return "start_layer " + std::to_string(start_layer) + " with dim_z " + std::to_string(dim_z) + after;
    // The runs the image resampled (only those its rays reached) hold
    // densities; check_grids checks the whole turned volume at the end.
    if (rotation_key(key))
        for (int x = 0; x < dim_x; ++x)
            for (int y = 0; y < dim_y; ++y)
                for (int z = 0; z < dim_z; ++z) {
                    if (run_state[run_index(x, y, run_of(z))] != run_ready) continue;
                    const int v = volume[voxel_index(x, y, z)];
                    if (v < 0 || v > 4095) return "volume" + at(x, y, z) + " = " + std::to_string(v) + after;
                }
    return {};
}

// The source as filled, for the check after the keys: [x][y][z].
stored_density filled[largest_extent + 1][largest_extent + 1][largest_extent + 1];

// The rotation writes densities inside the extents only, and never the
// source.
std::string check_grids()
{
    complete_volume();
    for (int x = 0; x <= largest_extent; ++x)
        for (int y = 0; y <= largest_extent; ++y)
            for (int z = 0; z <= largest_extent; ++z) {
                const std::size_t i = voxel_index(x, y, z);
                const bool inside = x < dim_x && y < dim_y && z < dim_z;
                const int source = inside ? filled[x][y][z] : 0;
                if (volume_source[i] != source)
                    return "volume_source" + at(x, y, z) + " = " + std::to_string(volume_source[i]) +
                           " after the keys, was " + std::to_string(source);
                if (inside ? volume[i] < 0 || volume[i] > 4095 : volume[i] != 0)
                    return "volume" + at(x, y, z) + " = " + std::to_string(volume[i]) +
                           (inside ? " after the keys" : " outside the extents");
            }
    return {};
}

std::string replay(byte_reader& in)
{
    // The viewer's path from a key to a picture, without its console lines.
    const int width = in.next() % 33, height = in.next() % 33;
    win_width = width;
    win_height = height;
    render_view();
    if (std::string broken = check_view(width, height, 0); !broken.empty()) return broken + " (the reshape)";
    for (int n = 0; n < most_keys && in.at < in.size; ++n) {
        const unsigned char key = in.next();
        // Only Escape is checked against the view before it: a copy of the
        // image at every key would cost more than the key.
        const view before = key == 27 ? view_now() : view{};
        const bool go_on = apply_key(key) != key_effect::quit;
        if (go_on != (key != 27)) return "apply_key(" + std::to_string(key) + ") " + (go_on ? "went on" : "quit");
        if (!go_on) {
            if (!(view_now() == before)) return "Escape changed the view";
            break;
        }
        render_view();
        if (std::string broken = check_view(width, height, key); !broken.empty()) return broken;
    }
    return check_grids();
}

}  // namespace

int small_head_density(int x, int y, int z, int nx, int ny, int nz)
{
    if (x == nx / 2 && y == ny / 2 && z == nz / 2) return 4095;
    const double u = 2.0 * (x + 0.5) / nx - 1, v = 2.0 * (y + 0.5) / ny - 1, w = 2.0 * (z + 0.5) / nz - 1;
    const double r2 = u * u + v * v + w * w;
    if (r2 > 1.0) return (x * 3 + y * 5 + z * 7) % 40;
    if (r2 > 0.8) return 1000 + (x * 7 + y * 3 + z) % 60;
    if (r2 > 0.6) return 2000 + (x * 7 + y * 11 + z * 13) % 300;
    return 1050 + (x * 5 + y * 3 + z * 2) % 100;
}

std::string run_keys_case(const std::uint8_t* data, std::size_t size)
{
    byte_reader in{data, size};
    dim_x = in.next() % (largest_extent + 1);
    dim_y = in.next() % (largest_extent + 1);
    dim_z = in.next() % (largest_extent + 1);
    for (int x = 0; x < dim_x; ++x)
        for (int y = 0; y < dim_y; ++y)
            for (int z = 0; z < dim_z; ++z)
                volume[voxel_index(x, y, z)] = volume_source[voxel_index(x, y, z)] = filled[x][y][z] =
                    stored_density(small_head_density(x, y, z, dim_x, dim_y, dim_z));
    max_density = 4095;
    grids_written();  // no turn; the density bounds of these samples

    // As the viewer starts: the first image was made at 256 x 256.
    reset_view_state();
    win_width = win_height = 256;
    fit_image_to_window();

    const std::string broken = replay(in);
    zero_corner();
    dim_x = dim_y = dim_z = 0;
    max_density = 0;
    return broken;
}
