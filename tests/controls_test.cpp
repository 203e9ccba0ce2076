// The keyboard controls, the path from a key to a picture, and the command
// line, without a window.
#include <gtest/gtest.h>

#include <string>

#include "app/controls.h"
#include "app/startup.h"
#include "app/view_state.h"
#include "app/viewer.h"
#include "render/frame.h"
#include "test_support.h"
#include "volume/volume_runs.h"
#include "volume/voxel_store.h"

namespace {

struct key_result {
    bool go_on;
    std::string out, err;
};

key_result press(unsigned char key)
{
    key_result r;
    r.out = capture_stdout([&] { r.err = capture_stderr([&] { r.go_on = handle_key(key); }); });
    return r;
}

class KeysTest : public testing::Test {
protected:
    void SetUp() override
    {
        reset_viewer();
        fill_volume(16, 9, 20, [](int x, int y, int z) { return (x + y + z) * 50; });
        win_width = 24;
        win_height = 10;
    }
};

TEST_F(KeysTest, StartLayerIsClampedToTheVolume)
{
    start_layer = 5;
    press('-');
    EXPECT_EQ(start_layer, 0);
    press('+');
    press('+');
    EXPECT_EQ(start_layer, 19);  // 20 is past the last layer
    dim_z = 0;                   // an empty volume leaves -1
    press('+');
    EXPECT_EQ(start_layer, -1);
}

TEST_F(KeysTest, PrintedMessagesHaveNoNewline)
{
    // In the surface view the renderer's level line follows on the same line.
    EXPECT_EQ(press('s').out, "Seuil de densite = 4100.0000001100.000000\n");
    EXPECT_EQ(press('q').out, "1200.000000\n");  // only the surface renderer reports the level
    EXPECT_EQ(press('w').out, "1100.000000\n");
    render_mode = 1;
    EXPECT_EQ(press('x').out, "Seuil de densite = 4000.000000");
    EXPECT_EQ(press('c').out, "numero de couche = 89");
    EXPECT_EQ(press('d').out, "numero de couche = 90");
    EXPECT_EQ(density_threshold, 4000.0);
}

TEST_F(KeysTest, EveryKeyButEscapeRecomputes)
{
    for (unsigned char key : {'+', 'c', 'o', 'r', ' ', 'Q', 'z', '\x01', '\xFF'}) {
        const key_result r = press(key);
        EXPECT_TRUE(r.go_on);
        EXPECT_EQ(r.err, "\nCalcul d'image fini\n") << int(key);
    }
    const key_result escape = press(27);
    EXPECT_FALSE(escape.go_on);
    EXPECT_EQ(escape.err, "");
    EXPECT_EQ(escape.out, "");
}

TEST_F(KeysTest, ModeCyclesThroughFour)
{
    for (int expected : {1, 2, 3, 0}) {
        press('r');
        EXPECT_EQ(render_mode, expected);
    }
}

TEST_F(KeysTest, AnglesStepInDoubleAndStoreAsFloat)
{
    press('o');
    EXPECT_EQ(angle_a, 0.1f);
    press('l');
    EXPECT_EQ(angle_a, 1.4901161e-9f);
    press('m');
    press('m');
    press('k');
    EXPECT_EQ(angle_b, float(double(float(double(0.1f) + 0.1)) - 0.1));
}

TEST_F(KeysTest, RotationKeysTurnTheVolumeFromItsSource)
{
    // The image resamples only what its rays reach; the whole volume is
    // compared here.
    press('m');
    complete_volume();
    const std::vector<int> turned(volume, volume + volume_elements);
    EXPECT_FALSE(std::equal(turned.begin(), turned.end(), volume_source));
    press('m');
    press('k');  // back to the same angles
    complete_volume();
    EXPECT_TRUE(std::equal(turned.begin(), turned.end(), volume));
    // o then l leave angle_a at 1.4901161e-9, not 0: still a turn.
    press('o');
    press('l');
    EXPECT_EQ(volume_angle_a, 1.4901161e-9f);
}

TEST_F(KeysTest, KeysOnlyChangeTheViewStateTheImageComesAfter)
{
    // apply_key alone neither renders, nor turns the volume, nor prints.
    fit_image_to_window();
    image.assign(image.size(), 7);
    const std::string out = capture_stdout([] {
        EXPECT_EQ(apply_key('m'), key_effect::redraw);
        EXPECT_EQ(apply_key('s'), key_effect::threshold_moved);
        EXPECT_EQ(apply_key('c'), key_effect::slice_moved);
        EXPECT_EQ(apply_key(27), key_effect::quit);
    });
    EXPECT_EQ(out, "");
    EXPECT_EQ(volume_angle_b, 0.0f);
    EXPECT_EQ(pixel_at(10, 5), (rgb{7, 7, 7}));
    // The picture follows the state: the volume is turned, then rendered.
    render_view();
    EXPECT_EQ(volume_angle_b, angle_b);
    EXPECT_NE(pixel_at(10, 5), (rgb{7, 7, 7}));
}

TEST_F(KeysTest, ThresholdAndLevelDrivenFarStayWellDefined)
{
    // 600 presses of x take the threshold to -56000: every traced ray
    // passes it at once, (0, 0, 254), and the guard border is (193, 0, 254).
    render_mode = 1;
    for (int i = 0; i < 600; ++i) press('x');
    EXPECT_EQ(density_threshold, -56000.0);
    EXPECT_EQ(pixel_at(10, 5), (rgb{0, 0, 254}));
    EXPECT_EQ(pixel_at(0, 0), (rgb{193, 0, 254}));
    // Far above any sum the rays yield their sums, low on the blue rise.
    for (int i = 0; i < 1800; ++i) press('s');
    EXPECT_EQ(density_threshold, 124000.0);
    EXPECT_EQ(pixel_at(10, 5).r, 0);
    EXPECT_LT(pixel_at(10, 5).b, 20);
    // A level far from every sample finds no surface: black.
    render_mode = 0;
    for (int i = 0; i < 300; ++i) press('w');
    EXPECT_EQ(surface_level, -28900.0);
    EXPECT_EQ(pixel_at(10, 5), (rgb{0, 0, 0}));
    for (int i = 0; i < 700; ++i) press('q');
    EXPECT_EQ(pixel_at(10, 5), (rgb{0, 0, 0}));
}

// --------------------------------------------------------------- command line

struct parsed {
    data_source source;
    std::string err;
};

parsed parse(std::vector<std::string> args)
{
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    parsed p;
    p.err = capture_stderr([&] { p.source = parse_command_line(int(args.size()), argv.data()); });
    return p;
}

TEST(CommandLine, ChoosesTheDataSourceFromTheFirstArgumentOnly)
{
    const std::string usage = " Utilisation : ./crane [n]\nn = 1 : sphere , defaut : face\n";
    EXPECT_EQ(parse({"./crane"}).source, data_source::head);
    EXPECT_EQ(parse({"./crane", "1"}).source, data_source::sphere);
    EXPECT_EQ(parse({"./crane", "1", "extra"}).source, data_source::sphere);
    for (const char* bad : {"2", "0", "abc", "", "-1"}) {
        const parsed p = parse({"./crane", bad});
        EXPECT_EQ(p.source, data_source::usage) << bad;
        EXPECT_EQ(p.err, usage) << bad;
    }
    EXPECT_EQ(parse({"./crane", "1"}).err, "");
}

}  // namespace
