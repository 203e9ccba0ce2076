// The mouse, the wheel, the record of the keys, the help panel's text and
// the replay crane-snapshot makes, without a window.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/controls.h"
#include "app/interaction.h"
#include "app/saving.h"
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

    void expect_as_keys(const std::string& keys)
    {
        const auto [view, picture] = after_keys(keys);
        EXPECT_TRUE(same_view(view_now(), view)) << keys;
        EXPECT_EQ(image, picture) << keys;
    }
};

TEST_F(InteractionTest, EveryTenPixelsOfDragIsOneKeyStep)
{
    start_drag(100, 100);
    move_drag(70, 100);  // leftwards: m
    EXPECT_TRUE(drag_update_pending());
    const console_lines c = console_of([] { drag_update(); });
    EXPECT_EQ(c.out, "1100.000000\n");  // an image's own lines, as for a key
    EXPECT_EQ(c.err, "\nCalcul d'image fini\n");
    EXPECT_EQ(keys_so_far(), "mmm");
    expect_as_keys("mmm");

    move_drag(100, 125);  // back across, 25 pixels down: two o, the rest too short
    console_of([] { drag_update(); });
    EXPECT_EQ(keys_so_far(), "oo");
    expect_as_keys("oo");
    move_drag(129, 81);  // right and up: k and l
    console_of([] { drag_update(); });
    EXPECT_EQ(keys_so_far(), "kkl");
    expect_as_keys("kkl");
}

TEST_F(InteractionTest, DragBackToThePressPointRestoresTheAnglesExactly)
{
    console_of([] { press_key('o'); });  // 0.1: a plain o then l would leave 1.49e-9
    const drawn_view at_press = view_now();
    const std::vector<std::uint8_t> picture = image;
    start_drag(50, 50);
    for (int x : {80, 20, 51}) {
        move_drag(x, 95);
        console_of([] { drag_update(); });
    }
    move_drag(50, 50);
    console_of([] { drag_update(); });
    EXPECT_TRUE(same_view(view_now(), at_press));
    EXPECT_EQ(image, picture);
    console_of([] { end_drag(50, 50); });
    EXPECT_EQ(keys_so_far(), "o");
}

TEST_F(InteractionTest, MotionWithinAStepOrABurstCostsAtMostOneImage)
{
    start_drag(10, 10);
    move_drag(19, 1);  // less than a step either way
    EXPECT_FALSE(drag_update_pending());
    EXPECT_EQ(images_in(console_of([] { drag_update(); }).err), 0);
    for (int x = 11; x <= 210; ++x) move_drag(x, 10);  // 200 events, then the window is idle
    EXPECT_EQ(images_in(console_of([] { drag_update(); }).err), 1);
    EXPECT_FALSE(drag_update_pending());
    EXPECT_EQ(keys_so_far(), std::string(20, 'k'));
    expect_as_keys(std::string(20, 'k'));
}

TEST_F(InteractionTest, ReleaseSettlesTheLatestPointer)
{
    start_drag(0, 0);
    move_drag(-20, 0);
    const console_lines c = console_of([] { end_drag(-41, 0); });
    EXPECT_EQ(images_in(c.err), 1);
    EXPECT_EQ(keys_so_far(), "mmmm");
    move_drag(300, 300);  // the button is up: nothing follows
    EXPECT_FALSE(drag_update_pending());
    EXPECT_EQ(images_in(console_of([] { end_drag(300, 300); }).err), 0);
    expect_as_keys("mmmm");
}

TEST_F(InteractionTest, AKeyDuringADragKeepsTheStepsAndTheDragGoesOnFromThere)
{
    start_drag(100, 100);
    move_drag(70, 100);  // not yet shown when the key comes
    const console_lines c = console_of([] { press_key('q'); });
    EXPECT_EQ(images_in(c.err), 1);
    EXPECT_EQ(keys_so_far(), "mmmq");
    expect_as_keys("mmmq");
    // The press point moved with the three steps taken: back at 100 is
    // three steps the other way from the new angles, not the old angles.
    move_drag(100, 100);
    console_of([] { drag_update(); });
    EXPECT_EQ(keys_so_far(), "mmmqkkk");
    expect_as_keys("mmmqkkk");
}

TEST_F(InteractionTest, TheWheelActsAsTheKeyOfTheViewsOwnValue)
{
    const char* up = "qsqd";
    const char* down = "wxwc";
    for (int mode = 0; mode < 4; ++mode) {
        render_mode = mode;
        EXPECT_EQ(wheel_key(1), up[mode]) << mode;
        EXPECT_EQ(wheel_key(-1), down[mode]) << mode;
    }
    // The same console lines and picture as the key.
    render_mode = 1;
    const console_lines wheel = console_of([] { turn_wheel(1); });
    const std::vector<std::uint8_t> wheel_picture = image;
    density_threshold -= 100;
    const console_lines key = console_of([] { handle_key('s'); });
    EXPECT_EQ(wheel.out, "Seuil de densite = 4100.000000");
    EXPECT_EQ(wheel.out, key.out);
    EXPECT_EQ(wheel.err, key.err);
    EXPECT_EQ(image, wheel_picture);
    render_mode = 3;
    EXPECT_EQ(console_of([] { turn_wheel(-1); }).out, "numero de couche = 89");
}

TEST_F(InteractionTest, OnlyKeysThatChangeTheViewAreRemembered)
{
    console_of([] {
        press_key('-');  // already at layer 0
        press_key(' ');
        press_key('r');
        press_key('+');
        press_key('z');
        press_key('s');
    });
    EXPECT_EQ(keys_so_far(), "r+s");
    bool went_on = true;
    const console_lines c = console_of([&] { went_on = press_key(27); });
    EXPECT_FALSE(went_on);
    EXPECT_EQ(c.out + c.err, "");
    EXPECT_EQ(keys_so_far(), "r+s");
}

TEST_F(InteractionTest, AResizeOverASliceOutsideTheVolumeCannotBeReplayed)
{
    console_of([] {
        for (const char key : std::string("rrr")) press_key(static_cast<unsigned char>(key));
        slice_index = dim_z - 1;
        press_key('d');  // outside: the picture stays
    });
    EXPECT_TRUE(image_replayable());
    console_of([] { resize_window(30, 12); });  // the frame holds leftovers
    EXPECT_FALSE(image_replayable());
    console_of([] { press_key('c'); });  // inside again: drawn whole
    EXPECT_TRUE(image_replayable());
}

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

// ----------------------------------------------------- the saved picture

TEST(SnapshotCommand, WordsAreQuotedOnlyWhenTheShellNeedsIt)
{
    EXPECT_EQ(shell_quote("crane-0001.png"), "crane-0001.png");
    EXPECT_EQ(shell_quote("/a/b_c/x=1,y+2:%@"), "/a/b_c/x=1,y+2:%@");
    EXPECT_EQ(shell_quote(""), "''");
    EXPECT_EQ(shell_quote("a b"), "'a b'");
    EXPECT_EQ(shell_quote("it's $HOME"), "'it'\\''s $HOME'");
}

TEST(SnapshotCommand, NamesTheSizeTheKeysAndWhatIsDrawn)
{
    reset_viewer();
    fill_volume(8, 8, 8, [](int, int, int) { return 0; });
    note_program("/opt/crane dir/crane", false);
    win_width = 385;
    win_height = 200;
    console_of([] {
        press_key('r');
        press_key('x');
    });
    EXPECT_EQ(snapshot_command("/tmp/a b", "crane-0007.png").substr(0, 13), "cd '/tmp/a b'");
    // crane-snapshot beside the running program (here the test itself).
    const std::string command = snapshot_command("/tmp", "crane-0007.png");
    EXPECT_EQ(command.substr(0, 8), "cd /tmp ");
    EXPECT_NE(command.find("/crane-snapshot"), std::string::npos) << command;
    EXPECT_NE(command.find(" --size 385x200 --keys rx --legend --out crane-0007.png"), std::string::npos) << command;
    overlay_shown = true;
    note_program("crane", true);
    const std::string with_panel = snapshot_command("/tmp", "x.png");
    EXPECT_NE(with_panel.find("--legend --overlay --sphere --out x.png"), std::string::npos) << with_panel;
    reset_viewer();
}

}  // namespace
