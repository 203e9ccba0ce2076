// What the fuzz targets (fuzz/) found, kept found: each fault as a test of
// its own, and every committed fuzz input, seeds and the inputs that once
// broke something, replayed through the targets' own checks.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/view_state.h"
#include "app/viewer.h"
#include "fuzz_inputs.h"
#include "keys_case.h"
#include "loader_case.h"
#include "render/frame.h"
#include "test_support.h"

namespace fs = std::filesystem;

// A window 0 pixels wide but some rows high: the surface and accumulation
// batches mapped each row through pixel column 0, dividing by the width of
// 0 (SIGFPE on x86, in the viewer and in crane-snapshot --size 0xH).
TEST(fuzz_regressions, WindowWithNoColumnsDrawsNothingInEveryMode)
{
    reset_viewer();
    fill_volume(24, 13, 31, [](int x, int y, int z) { return small_head_density(x, y, z, 24, 13, 31); });
    capture_stderr([] {
        capture_stdout([] {
            resize_view(0, 17);
            EXPECT_TRUE(image.empty());
            for (int mode = 1; mode <= 4; ++mode) {
                SCOPED_TRACE("after " + std::to_string(mode) + " presses of r");
                EXPECT_TRUE(handle_key('r'));
                EXPECT_TRUE(handle_key('o'));
                EXPECT_TRUE(image.empty());
            }
            // One column is enough for every renderer.
            resize_view(1, 17);
            EXPECT_EQ(image.size(), std::size_t(17) * 3);
        });
    });
    EXPECT_EQ(render_mode, 0);
}

TEST(fuzz_regressions, LoaderInputsKeepTheLoadersPromises)
{
    reset_viewer();
    const temp_folder scratch;
    const std::vector<fs::path> files = fuzz_inputs_of("loader");
    ASSERT_FALSE(files.empty());
    for (const auto& file : files) {
        const std::vector<std::uint8_t> input = bytes_of(file);
        std::string broken;
        broken = run_loader_case(input.data(), input.size(), scratch.path.string());
        EXPECT_EQ(broken, "") << file;
    }
}

TEST(fuzz_regressions, KeyInputsKeepTheViewConsistent)
{
    reset_viewer();
    const std::vector<fs::path> files = fuzz_inputs_of("keys");
    ASSERT_FALSE(files.empty());
    for (const auto& file : files) {
        const std::vector<std::uint8_t> input = bytes_of(file);
        std::string broken;
        broken = run_keys_case(input.data(), input.size());
        EXPECT_EQ(broken, "") << file;
    }
}
