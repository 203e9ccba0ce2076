// Lazy turning: an image drawn after a turn resamples only the runs of
// volume its rays reach, yet shows exactly what the volume turned whole
// shows, in every mode, after any mix of keys, for any number of threads,
// with the instruction set that CRANE_SIMD asks for (ctest runs this
// program once per set). Each run is filled once per turn, and only the
// runs the rays reach are.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "app/controls.h"
#include "app/view_state.h"
#include "app/viewer.h"
#include "render/frame.h"
#include "render/rays.h"
#include "render/render.h"
#include "test_support.h"
#include "volume/brick_bounds.h"
#include "volume/lanes.h"
#include "volume/rotation.h"
#include "volume/volume_runs.h"
#include "volume/voxel_store.h"

namespace {

// A head: an ellipsoid of skin, a bone shell and brain, in air that is
// never exactly zero, as in a scan.
int head_density(int x, int y, int z, int nx, int ny, int nz)
{
    const double dx = (x - nx * 0.5) / (nx * 0.4), dy = (y - ny * 0.5) / (ny * 0.44),
                 dz = (z - nz * 0.52) / (nz * 0.38);
    const double r = std::sqrt(dx * dx + dy * dy + dz * dz);
    const unsigned h = unsigned(x) * 73856093u ^ unsigned(y) * 19349663u ^ unsigned(z) * 83492791u;
    if (r > 1.0) return int(h % 41);
    if (r > 0.92) return 1040 + int(h % 61) - 30;
    if (r > 0.8) return 2100 + 8 * (int(h % 61) - 30);
    return 1050 + int(h % 41) - 20;
}

void fill_head(int nx, int ny, int nz)
{
    fill_volume(nx, ny, nz, [&](int x, int y, int z) { return head_density(x, y, z, nx, ny, nz); });
}

void set_window(int width, int height)
{
    win_width = width;
    win_height = height;
}

// FNV-1a of the image, so that a long key sequence keeps one number per
// image.
std::uint64_t image_hash()
{
    std::uint64_t h = 14695981039346656037ull;
    for (std::uint8_t b : image) h = (h ^ b) * 1099511628211ull;
    return h;
}

// The steps of a sequence: keys, except '<', '^' and '>', which move the
// slice to the first, the last but one and the last layer.
void apply_step(char step)
{
    if (step == '<')
        slice_index = 0;
    else if (step == '^')
        slice_index = dim_z - 2;
    else if (step == '>')
        slice_index = dim_z - 1;
    else
        apply_key(static_cast<unsigned char>(step));
}

struct sequence {
    int width, height;
    std::string steps;
};

std::string describe(const sequence& s) { return std::to_string(s.width) + "x" + std::to_string(s.height); }
void PrintTo(const sequence& s, std::ostream* os) { *os << describe(s) << " \"" << s.steps << "\""; }

class LazyTurnTest : public testing::TestWithParam<sequence> {
protected:
    void SetUp() override
    {
        REQUIRE_REQUESTED_LANE_SET();
        reset_viewer();
    }
    void TearDown() override { omp_set_num_threads(omp_get_num_procs()); }

    // The images of the steps, drawn as the viewer draws them: each turn
    // resamples lazily.
    std::vector<std::uint64_t> lazy_images(int threads)
    {
        omp_set_num_threads(threads);
        reset_viewer();
        fill_head(256, 94, 256);
        set_window(GetParam().width, GetParam().height);
        std::vector<std::uint64_t> hashes;
        for (char step : GetParam().steps) {
            apply_step(step);
            render_view();
            hashes.push_back(image_hash());
        }
        return hashes;
    }
};

TEST_P(LazyTurnTest, ImagesEqualThoseOfTheVolumeTurnedWhole)
{
    // The reference: every turn resamples the whole volume first, and the
    // surface and accumulation images are those of the plain rays.
    reset_viewer();
    fill_head(256, 94, 256);
    set_window(GetParam().width, GetParam().height);
    std::vector<std::uint64_t> whole;
    for (char step : GetParam().steps) {
        apply_step(step);
        turn_volume(angle_a, angle_b);
        render_frame(current_view());
        if (render_mode != 3) {
            ASSERT_TRUE(image == plain_frame()) << "step " << whole.size() << " in mode " << render_mode;
        }
        whole.push_back(image_hash());
    }
    for (int threads : {1, 2, 3}) {
        const std::vector<std::uint64_t> lazy = lazy_images(threads);
        for (std::size_t i = 0; i < lazy.size(); ++i)
            EXPECT_EQ(lazy[i], whole[i]) << "step " << i << " ('" << GetParam().steps[i] << "'), " << threads
                                         << " threads";
        // The runs the images left stale, made ready now, complete the turned
        // volume exactly.
        complete_volume();
        const rotation r = rotation_for(angle_a, angle_b);
        int wrong = 0;
        for (int i = 0; i < dim_x; ++i)
            for (int j = 0; j < dim_y; ++j)
                for (int k = 0; k < dim_z; ++k) wrong += volume[voxel_index(i, j, k)] != rotated_voxel(r, i, j, k);
        EXPECT_EQ(wrong, 0) << threads << " threads";
    }
}

// Turns about both axes, with mode changes in between so that a mode reads
// runs another mode left stale; the start layer moved; the slice at planes
// near both ends; the level and threshold moved.
INSTANTIATE_TEST_SUITE_P(Sequences, LazyTurnTest,
                         testing::Values(sequence{256, 256, "mor+mr-or<k>l^rmw"},
                                         sequence{301, 203, "omr++kr<m>r-lrxxo"},
                                         sequence{97, 301, "rrr^o<mr+++kr-lrqm"}),
                         [](const testing::TestParamInfo<sequence>& info) { return describe(info.param); });

// ------------------------------------------------------------ run counts

// A set of runs of volume, one flag per run_index.
using run_set = std::vector<std::uint8_t>;

std::size_t size_of(const run_set& runs) { return std::size_t(std::count(runs.begin(), runs.end(), 1)); }

// The runs of volume whose state is ready.
run_set ready_runs()
{
    run_set runs(std::size(run_state), 0);
    const int per_column = (dim_z + run_length - 1) / run_length;
    for (int x = 0; x < dim_x; ++x)
        for (int y = 0; y < dim_y; ++y)
            for (int r = 0; r < per_column; ++r) runs[run_index(x, y, r)] = run_state[run_index(x, y, r)] == run_ready;
    return runs;
}

// The runs the plain rays of the view read, on the completed volume: those
// of every layer each ray blends, from its start to where it stops; for a
// surface ray that hits, also those of the gradient stencil at the hit.
run_set runs_the_plain_rays_read(bool surface)
{
    run_set runs(std::size(run_state), 0);
    const auto column = [&](int x, int y, int z0, int z1) {
        for (int r = run_of(z0); r <= run_of(z1); ++r) runs[run_index(x, y, r)] = 1;
    };
    for (int row = 0; row < win_height; ++row)
        for (int col = 0; col < win_width; ++col) {
            int x, y;
            double fx, fy;
            pixel_to_voxel(col, row, &x, &y, &fx, &fy);
            if (!traced_column(x, y)) continue;
            const auto at = [&](int dx, int dy, int z) { return double(volume[voxel_index(x + dx, y + dy, z)]); };
            int last = dim_z - 1;
            if (surface) {
                const double low = surface_level - band_half_width, high = surface_level + band_half_width;
                for (int z = start_layer; z < dim_z; ++z) {
                    const double d = surface_blend(at(0, 0, z), at(1, 0, z), at(0, 1, z), at(1, 1, z), fx, fy);
                    if (low < d && d < high) {
                        last = z;
                        for (int i = x - 1; i <= x + 2; ++i) column(i, y, z, z), column(i, y + 1, z, z);
                        for (int i = x; i <= x + 1; ++i) {
                            column(i, y - 1, z, z);
                            column(i, y + 2, z, z);
                            column(i, y, std::max(z - 1, 0), std::min(z + 1, dim_z - 1));
                            column(i, y + 1, std::max(z - 1, 0), std::min(z + 1, dim_z - 1));
                        }
                        break;
                    }
                }
            } else {
                double sum = 0;
                for (int z = start_layer; z < dim_z; ++z) {
                    sum = sum + accumulation_blend(at(0, 0, z), at(1, 0, z), at(0, 1, z), at(1, 1, z), fx, fy) / 100;
                    if (sum > density_threshold) {
                        last = z;
                        break;
                    }
                }
            }
            for (int dx = 0; dx <= 1; ++dx)
                for (int dy = 0; dy <= 1; ++dy) column(x + dx, y + dy, start_layer, last);
        }
    return runs;
}

struct counting_case {
    int mode, start;
    double threshold;
    bool seen = false;  // the view drawn in its own mode before the turn
};
void PrintTo(const counting_case& c, std::ostream* os)
{
    *os << "mode " << c.mode << " from " << c.start << " threshold " << c.threshold << (c.seen ? " seen" : "");
}

class RunCountTest : public testing::TestWithParam<counting_case> {
protected:
    void SetUp() override { REQUIRE_REQUESTED_LANE_SET(); }
    void TearDown() override { omp_set_num_threads(omp_get_num_procs()); }
};

TEST_P(RunCountTest, EachRunIsFilledOnceAndOnlyWhereTheRaysReach)
{
    const counting_case c = GetParam();
    for (int threads : {1, 2, 3}) {
        omp_set_num_threads(threads);
        reset_viewer();
        fill_head(256, 94, 256);
        set_window(200, 150);
        const auto set_view = [&] {
            render_mode = c.mode;
            start_layer = c.start;
            density_threshold = c.threshold;
            slice_index = 97;
        };
        if (c.seen) set_view();
        render_view();  // the volume as loaded
        set_view();
        // Where the accumulation rays of the view as loaded mostly ran
        // through, those after the turn make their columns ready first: still
        // each run once, and only those the rays read.
        if (c.seen) {
            EXPECT_EQ(accumulation_share_through >= 0.75, c.threshold > 2500) << accumulation_share_through;
        }
        apply_key('m');
        apply_key('o');
        const long before = runs_filled();
        render_view();
        const long filled = runs_filled() - before;
        const run_set ready = ready_runs();
        // Every run a turn makes stale that is ready again was filled, and
        // filled once: no two threads filled the same run.
        EXPECT_EQ(filled, long(size_of(ready))) << threads << " threads";

        complete_volume();
        if (c.mode == 3) {
            run_set plane(std::size(run_state), 0);
            for (int x = 0; x < dim_x; ++x)
                for (int y = 0; y < dim_y; ++y) plane[run_index(x, y, run_of(slice_index))] = 1;
            EXPECT_TRUE(ready == plane) << threads << " threads";
            continue;
        }
        const run_set reached = runs_the_plain_rays_read(c.mode == 0);
        if (c.mode == 1 && c.start % lane_count_of(lane_isa()) == 0 && c.threshold > 2000) {
            // Rays that never stop: exactly the runs they cross.
            EXPECT_TRUE(ready == reached)
                << threads << " threads: " << size_of(ready) << " ready, " << size_of(reached) << " reached";
            continue;
        }
        int outside = 0, missing = 0;
        for (std::size_t i = 0; i < ready.size(); ++i) {
            // A ray that stops may have made the next run ready with the
            // layers it read together.
            outside += ready[i] && !reached[i] && !(i % runs_per_column > 0 && reached[i - 1]);
            missing += c.mode == 1 && reached[i] && !ready[i];
        }
        EXPECT_EQ(outside, 0) << threads << " threads";
        EXPECT_EQ(missing, 0) << threads << " threads";
        // A surface view skips most runs its rays cross.
        if (c.mode == 0) {
            EXPECT_LT(size_of(ready) * 2, size_of(reached)) << threads << " threads";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Views, RunCountTest,
                         testing::Values(counting_case{0, 0, 4000}, counting_case{0, 30, 4000},
                                         counting_case{1, 0, 4000}, counting_case{1, 0, 300}, counting_case{1, 37, 900},
                                         counting_case{1, 0, 2500}, counting_case{3, 0, 4000},
                                         counting_case{1, 0, 4000, true}, counting_case{1, 32, 4000, true},
                                         counting_case{1, 0, 300, true}),
                         [](const testing::TestParamInfo<counting_case>& info) {
                             return "mode" + std::to_string(info.param.mode) + "_from" +
                                    std::to_string(info.param.start) + "_threshold" +
                                    std::to_string(int(info.param.threshold)) + (info.param.seen ? "_seen" : "");
                         });

}  // namespace
