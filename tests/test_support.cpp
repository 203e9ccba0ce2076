#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>

#include "render/frame.h"
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

rgb pixel_at(int col, int row)
{
    const std::size_t at = (std::size_t(row) * win_width + col) * 3;
    return {image[at], image[at + 1], image[at + 2]};
}
