// The replay crane-snapshot makes and the help panel's text, without a
// window.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/status.h"
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

// ------------------------------------------------------------- the panel

TEST(StatusText, AnglesInDegreesWithADecimalComma)
{
    EXPECT_EQ(degrees_text(0.0f), "0,0\xB0");
    EXPECT_EQ(degrees_text(0.1f), "5,7\xB0");
    EXPECT_EQ(degrees_text(-0.1f), "-5,7\xB0");
    EXPECT_EQ(degrees_text(1.4901161e-9f), "0,0\xB0");
    EXPECT_EQ(degrees_text(-1e-4f), "0,0\xB0");  // never "-0,0"
    EXPECT_EQ(degrees_text(6.3f), "361,0\xB0");  // the angles are never wrapped
}

TEST(StatusText, ThePanelShowsTheWholeViewState)
{
    reset_viewer();
    render_mode = 1;
    start_layer = 30;
    surface_level = 1300;
    density_threshold = -56000;
    slice_index = 88;
    angle_a = 0.2f;
    angle_b = -0.1f;
    const std::vector<std::string> lines = status_lines();
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(lines[0], "Vue : densit\xE9 cumul\xE9"
                        "e (mode 1)");
    EXPECT_EQ(lines[1], "Niveau 1300, seuil -56000");
    EXPECT_EQ(lines[2], "Couche 88, premi\xE8re couche 30");
    EXPECT_EQ(lines[3], "Angles : a 11,5\xB0, b -5,7\xB0");
    EXPECT_EQ(threshold_label(), "seuil -56000");
    std::string keys;
    for (const auto& line : lines) keys += line + "\n";
    for (const char* named : {"r :", "+/-", "d/c", "q/w", "s/x", "o/l, m/k ou glisser", "molette", "F1", "F12", "chap"})
        EXPECT_NE(keys.find(named), std::string::npos) << named;
}

TEST(StatusText, TheSceneHoldsTheLegendInModeOneAndThePanelWhenAsked)
{
    reset_viewer();
    EXPECT_TRUE(view_scene(100, true, false).empty());
    const std::size_t panel = view_scene(100, true, true).size();
    EXPECT_GT(panel, 0u);
    render_mode = 1;
    EXPECT_EQ(view_scene(100, true, false).size(), 4u);  // two swatches, two captions
    EXPECT_TRUE(view_scene(100, false, false).empty());
    EXPECT_EQ(view_scene(100, true, true).size(), 4u + 3u + panel);  // and the framed threshold label
}

}  // namespace
