// Helpers shared by the tests: temporary folders, slice files and a clean
// volume store.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "volume/lanes.h"

// A fresh folder under the system's temporary directory, removed with its
// contents when the object goes.
struct temp_folder {
    std::filesystem::path path;
    temp_folder();
    ~temp_folder();
    temp_folder(const temp_folder&) = delete;
    temp_folder& operator=(const temp_folder&) = delete;
};

// Writes raw bytes to a file.
void write_file(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);

// Writes folder/headsq.first .. headsq.last, each word given by
// word(n, row, col) as 16-bit little-endian.
void write_slices(const std::filesystem::path& folder, int first, int last,
                  const std::function<std::uint16_t(int n, int row, int col)>& word);

// Sets the extents and fills the volume (and its source copy) inside them
// with value(x, y, z), which must fit a stored density; then grids_written.
void fill_volume(int nx, int ny, int nz, const std::function<int(int x, int y, int z)>& value);

// Runs f with standard output captured and returns what it printed.
std::string capture_stdout(const std::function<void()>& f);
std::string capture_stderr(const std::function<void()>& f);

// The kernels must run with the set asked for: a silent fall-back would
// leave that set untested. Skips when the processor lacks it.
#define REQUIRE_REQUESTED_LANE_SET()                                                                                   \
    do {                                                                                                               \
        const char* asked = std::getenv("CRANE_SIMD");                                                                 \
        isa wanted = best_isa();                                                                                       \
        ASSERT_TRUE(!asked || parse_isa(asked, wanted)) << "CRANE_SIMD=" << asked << " names no set";                  \
        if (wanted > best_isa())                                                                                       \
            GTEST_SKIP() << "this processor lacks " << isa_name(wanted) << " (best: " << isa_name(best_isa()) << ")";  \
        ASSERT_EQ(lane_isa(), wanted) << "asked for " << isa_name(wanted) << ", ran " << isa_name(lane_isa());         \
    } while (false)

// The frame that the plain per-ray functions (cast_surface_ray,
// accumulate_ray) give for the view state, in modes 0 to 2, on volume as it
// is.
std::vector<std::uint8_t> plain_frame();

// An RGB pixel of the image.
struct rgb {
    int r, g, b;
    bool operator==(const rgb&) const = default;
};
rgb pixel_at(int col, int row);
