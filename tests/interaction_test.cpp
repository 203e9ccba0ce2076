// The replay crane-snapshot makes, without a window.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/view_state.h"
#include "app/viewer.h"
#include "render/frame.h"
#include "test_support.h"
#include "volume/rotation.h"
#include "volume/voxel_store.h"

namespace {

struct console_lines {
    std::string out, err;
};

template <typename F>
console_lines console_of(F f)
{
    console_lines c;
    c.out = capture_stdout([&] { c.err = capture_stderr(f); });
    return c;
}

int images_in(const std::string& err)
{
    int count = 0;
    for (std::size_t at = err.find("Calcul d'image fini"); at != std::string::npos;
         at = err.find("Calcul d'image fini", at + 1))
        ++count;
    return count;
}

class InteractionTest : public testing::Test {
protected:
    void SetUp() override
    {
        reset_viewer();
        fill_volume(16, 9, 20, [](int x, int y, int z) { return (x * 7 + y * 13 + z * 5) % 40 * 60; });
        win_width = 23;
        win_height = 11;
        console_of([] { compute_image(); });
    }

    // The view and picture that pressing keys gives from a fresh start.
    static std::pair<drawn_view, std::vector<std::uint8_t>> after_keys(const std::string& keys)
    {
        const drawn_view saved = view_now();
        const std::vector<std::uint8_t> saved_image = image;
        reset_view_state();
        console_of([&] {
            for (const char key : keys) handle_key(static_cast<unsigned char>(key));
        });
        std::pair<drawn_view, std::vector<std::uint8_t>> result{view_now(), image};
        // Back to the view under test, its volume turned as it was.
        render_mode = saved.view.render_mode;
        start_layer = saved.view.start_layer;
        surface_level = saved.view.surface_level;
        density_threshold = saved.view.density_threshold;
        slice_index = saved.view.slice_index;
        angle_a = saved.angle_a;
        angle_b = saved.angle_b;
        turn_volume(angle_a, angle_b);
        image = saved_image;
        return result;
    }
};

TEST_F(InteractionTest, ReplayKeepsThePictureOfTheLastViewThatFilledTheFrame)
{
    // In the slice view a slice outside the volume draws nothing: the
    // window keeps the last picture, here slice 19 before the turn.
    const std::string keys = "rrr" + std::string(71, 'c') + "dmk" + std::string(20, 'x');
    const auto [view, picture] = after_keys(keys);
    reset_view_state();
    drawn_view shown{};
    const console_lines c = console_of([&] { shown = replay_keys(keys.c_str()); });
    EXPECT_EQ(images_in(c.err), 0);
    EXPECT_NE(c.out.find("numero de couche = 19numero de couche = 20Seuil"), std::string::npos);  // the keys' lines
    EXPECT_EQ(c.out.substr(c.out.size() - 30), "Seuil de densite = 2000.000000");
    EXPECT_TRUE(same_view(view_now(), view));
    EXPECT_EQ(shown.view.slice_index, 19);
    EXPECT_EQ(shown.angle_b, 0.0f);
    render_view_of(shown);
    EXPECT_EQ(image, picture);
    // Escape ends a replay.
    reset_view_state();
    console_of([] { replay_keys("r\x1brr"); });
    EXPECT_EQ(render_mode, 1);
}

}  // namespace
