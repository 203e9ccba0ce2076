#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>

#include "app/view_state.h"
#include "render/frame.h"
#include "render/render.h"
#include "volume/rotation.h"
#include "volume/slice_format.h"
#include "volume/voxel_store.h"

namespace fs = std::filesystem;

temp_folder::temp_folder()
{
    std::random_device seed;
    for (;;) {
        path = fs::temp_directory_path() / ("crane-test-" + std::to_string(seed()));
        if (fs::create_directory(path)) break;
    }
}

temp_folder::~temp_folder()
{
    std::error_code ignored;
    fs::remove_all(path, ignored);
}

void write_file(const fs::path& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

void write_slices(const fs::path& folder, int first, int last, const std::function<std::uint16_t(int, int, int)>& word)
{
    fs::create_directories(folder);
    std::vector<std::uint8_t> bytes(slice_bytes);
    for (int n = first; n <= last; ++n) {
        for (int row = 0; row < slice_side; ++row)
            for (int col = 0; col < slice_side; ++col)
                encode_word(word(n, row, col), &bytes[(row * slice_side + col) * 2]);
        write_file(slice_path(folder.string(), n), bytes);
    }
}

void fill_volume(int nx, int ny, int nz, const std::function<int(int, int, int)>& value)
{
    dim_x = nx;
    dim_y = ny;
    dim_z = nz;
    for (int x = 0; x < nx; ++x)
        for (int y = 0; y < ny; ++y)
            for (int z = 0; z < nz; ++z)
                volume[voxel_index(x, y, z)] = volume_source[voxel_index(x, y, z)] = stored_density(value(x, y, z));
    grids_written();
}

std::string capture_stdout(const std::function<void()>& f)
{
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    f();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

std::string capture_stderr(const std::function<void()>& f)
{
    testing::internal::CaptureStderr();
    f();
    return testing::internal::GetCapturedStderr();
}

namespace {

void plain_surface(std::vector<std::uint8_t>& frame, int x0, int x1)
{
    for (int row = 0; row < win_height; ++row)
        for (int col = x0; col < x1; ++col) {
            int x, y;
            double fx, fy, shade;
            pixel_to_voxel(col, row, &x, &y, &fx, &fy);
            const double d = cast_surface_ray(start_layer, x, y, fx, fy, surface_level, &shade);
            std::uint8_t* p = &frame[(std::size_t(row) * win_width + col) * 3];
            p[0] = std::uint8_t(int(unsigned(surface_red(d)) * shade));
            p[1] = std::uint8_t(int(unsigned(surface_green(d)) * shade));
            p[2] = std::uint8_t(int(unsigned(surface_blue(d)) * shade));
        }
}

void plain_accumulation(std::vector<std::uint8_t>& frame, int x0, int x1)
{
    for (int row = 0; row < win_height; ++row)
        for (int col = x0; col < x1; ++col) {
            int x, y;
            double fx, fy;
            pixel_to_voxel(col, row, &x, &y, &fx, &fy);
            const double sum = accumulate_ray(start_layer, x, y, fx, fy, density_threshold);
            std::uint8_t* p = &frame[(std::size_t(row) * win_width + col) * 3];
            p[0] = accum_red(sum, density_threshold);
            p[1] = accum_green(sum, density_threshold);
            p[2] = accum_blue(sum, density_threshold);
        }
}

}  // namespace

std::vector<std::uint8_t> plain_frame()
{
    std::vector<std::uint8_t> frame(std::size_t(win_width) * win_height * 3);
    if (render_mode == 0) plain_surface(frame, 0, win_width);
    if (render_mode == 1) plain_accumulation(frame, 0, win_width);
    if (render_mode == 2) {
        plain_surface(frame, 0, win_width / 2);
        plain_accumulation(frame, win_width / 2, win_width);
    }
    return frame;
}

rgb pixel_at(int col, int row)
{
    const std::size_t at = (std::size_t(row) * win_width + col) * 3;
    return {image[at], image[at + 1], image[at + 2]};
}
