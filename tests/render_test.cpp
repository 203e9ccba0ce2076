// Pixel mapping, the three renderers and the render driver, on small
// non-cubic volumes built in the test.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "app/view_state.h"
#include "app/viewer.h"
#include "render/render.h"
#include "test_support.h"
#include "volume/voxel_store.h"

namespace {

void set_window(int width, int height)
{
    win_width = width;
    win_height = height;
    fit_image_to_window();
}

struct voxel_position {
    int x, y;
    double fx, fy;
};
voxel_position map(int col, int row)
{
    voxel_position p;
    pixel_to_voxel(col, row, &p.x, &p.y, &p.fx, &p.fy);
    return p;
}

TEST(PixelMapping, StretchesTheExtentOverTheWindow)
{
    reset_viewer();
    dim_x = 256;
    dim_y = 94;
    dim_z = 256;
    set_window(256, 256);
    EXPECT_EQ(map(255, 0).x, 255);
    EXPECT_EQ(map(255, 0).fx, 0.0);
    EXPECT_EQ(map(0, 255).y, 93);
    EXPECT_EQ(map(0, 255).fy, 0.6328125);

    set_window(512, 512);
    EXPECT_EQ(map(20, 0).x, 10);
    EXPECT_EQ(map(21, 0).x, 10);
    EXPECT_EQ(map(20, 0).fx, 0.0);
    EXPECT_EQ(map(21, 0).fx, 0.5);

    // A non-square window: columns and rows scale independently.
    set_window(300, 200);
    const voxel_position p = map(299, 199);
    EXPECT_EQ(p.x, 255);
    EXPECT_EQ(p.y, 93);
    EXPECT_DOUBLE_EQ(p.fx, 256.0 * 299 / 300 - 255);
    EXPECT_DOUBLE_EQ(p.fy, 94.0 * 199 / 200 - 93);
}

// ------------------------------------------------------------------ surface

class SurfaceTest : public testing::Test {
protected:
    void SetUp() override { reset_viewer(); }
    double cast(int x, int y, double level, int start = 0, double fx = 0, double fy = 0)
    {
        return cast_surface_ray(start, x, y, fx, fy, level, &shade);
    }
    double shade = -1;
};

TEST_F(SurfaceTest, BandEndsAreNotHits)
{
    // Along the ray at (3, 2): 700 and 1500 sit exactly on the band's ends
    // around 1100, 699 -> 1501 jumps over it, 1000 is the hit.
    const int layers[] = {0, 700, 1500, 699, 1501, 1000, 1200};
    fill_volume(9, 6, 7, [&](int, int, int z) { return layers[z]; });
    EXPECT_EQ(cast(3, 2, 1100.0), 1000.0);
    EXPECT_EQ(shade, 1.0);  // the density changes along z only
    EXPECT_EQ(cast(3, 2, 1100.0, 6), 1200.0);
    EXPECT_EQ(cast(3, 2, 5000.0), 0.0);  // no layer in the band
    EXPECT_EQ(shade, 0.0);
    EXPECT_EQ(cast(3, 2, 1100.0, 7), 0.0);  // start beyond the last layer
}

TEST_F(SurfaceTest, ColourClassesAroundTheirBounds)
{
    EXPECT_EQ(surface_red(400.0), 0);
    EXPECT_EQ(surface_red(400.5), 255);
    EXPECT_EQ(surface_red(5000.0), 255);
    EXPECT_EQ(surface_green(400.0), 0);
    EXPECT_EQ(surface_green(1099.5), 150);
    EXPECT_EQ(surface_blue(1099.5), 100);
    EXPECT_EQ(surface_green(1100.5), 255);
    EXPECT_EQ(surface_blue(1100.5), 255);
    // Exactly on the high bound neither upper class holds.
    EXPECT_EQ(surface_green(1100.0), 0);
    EXPECT_EQ(surface_blue(1100.0), 0);
    EXPECT_EQ(surface_red(1100.0), 255);
}

// V = 100 x + g(z): the x gradient is 100 everywhere, y has none, and g
// decides the z gradient, so the shade shows which z difference was used.
class ShadingTest : public SurfaceTest {
protected:
    void fill(std::vector<int> g)
    {
        layers = g;
        fill_volume(8, 5, int(g.size()), [&](int x, int, int z) { return 100 * x + layers[std::size_t(z)]; });
    }
    static double expected_shade(double gz) { return gz / std::sqrt(100.0 * 100.0 + gz * gz); }
    std::vector<int> layers;
};

TEST_F(ShadingTest, FirstLayerUsesTheForwardDifferenceNotHalved)
{
    fill({850, 1150, 2000, 2000});
    EXPECT_EQ(cast(2, 2, 1100.0), 1050.0);
    EXPECT_DOUBLE_EQ(shade, expected_shade(300));
}

TEST_F(ShadingTest, LastLayerUsesTheBackwardDifferenceNotHalved)
{
    fill({0, 0, 250, 850});
    EXPECT_EQ(cast(2, 2, 1100.0), 1050.0);
    EXPECT_DOUBLE_EQ(shade, expected_shade(600));
}

TEST_F(ShadingTest, CentralDifferenceReachesBelowTheStartLayer)
{
    // From layer 2 the hit is at once; its gradient still reads layer 1.
    fill({0, 301, 850, 2000, 2000});
    EXPECT_EQ(cast(2, 2, 1100.0, 2), 1050.0);
    EXPECT_DOUBLE_EQ(shade, expected_shade((2000 - 301) / 2.0));
}

TEST_F(ShadingTest, FlatRegionHasNoShade)
{
    fill_volume(8, 5, 4, [](int, int, int) { return 1000; });
    EXPECT_EQ(cast(2, 2, 1100.0), 1000.0);
    EXPECT_EQ(shade, 0.0);
}

TEST_F(ShadingTest, AbsoluteDifferencesAreBlendedAcrossTheCell)
{
    // The x differences at the cell's corners x = 2 and 3 are -100 and +100:
    // signed they would cancel in the blend, absolute they do not.
    const int row[8] = {1000, 1000, 1000, 1200, 800, 800, 800, 800};
    fill_volume(8, 5, 3, [&](int x, int, int z) { return row[x] + 100 * z; });
    EXPECT_DOUBLE_EQ(cast(2, 2, 1100.0, 0, 0.5, 0.0), 1100.0);
    EXPECT_DOUBLE_EQ(shade, 100.0 / std::sqrt(100.0 * 100.0 + 100.0 * 100.0));
}

TEST_F(SurfaceTest, ImageHasABlackGuardBorderAndShadedColours)
{
    // A 10 x 6 volume shown in a 10 x 6 window, one pixel per voxel column.
    // Every column crosses a surface of density 1000 whose only gradient is
    // along z, so every traced pixel is (255, 150, 100) at full shade.
    fill_volume(10, 6, 5, [](int, int, int z) { return z >= 2 ? 1000 : 0; });
    set_window(10, 6);
    render_surface(0, 10, 0, 6, 0, 1100.0);
    for (int row = 0; row < 6; ++row)
        for (int col = 0; col < 10; ++col) {
            const bool traced = col >= 1 && col <= 7 && row >= 1 && row <= 3;
            EXPECT_EQ(pixel_at(col, row), (traced ? rgb{255, 150, 100} : rgb{0, 0, 0})) << col << "," << row;
        }
}

TEST_F(SurfaceTest, ShadeTruncatesEachChannelAndLowHitsAreBlack)
{
    // Shade 300 / sqrt(100^2 + 300^2) = 0.9487: 255 -> 241.9 -> 241.
    fill_volume(8, 5, 4, [](int x, int, int z) { return 100 * x + (z == 0 ? 850 : 1150); });
    set_window(8, 5);
    render_surface(0, 8, 0, 5, 0, 1100.0);
    EXPECT_EQ(pixel_at(2, 2), (rgb{241, 142, 94}));
    // A hit of exactly 400 (level 700, band 300 .. 1100) is black.
    fill_volume(8, 5, 2, [](int, int, int z) { return z == 0 ? 400 : 900; });
    render_surface(0, 8, 0, 5, 0, 700.0);
    EXPECT_EQ(pixel_at(2, 2), (rgb{0, 0, 0}));
}

TEST_F(SurfaceTest, ReversedRectangleFillsTheSamePixelsAndAnEmptyOneNone)
{
    fill_volume(10, 6, 5, [](int, int, int z) { return z >= 2 ? 1000 : 0; });
    set_window(10, 6);
    image.assign(image.size(), 7);
    render_surface(6, 2, 4, 1, 0, 1100.0);
    for (int row = 0; row < 6; ++row)
        for (int col = 0; col < 10; ++col) {
            const bool inside = col >= 2 && col < 6 && row >= 1 && row < 4;
            EXPECT_EQ(pixel_at(col, row), (inside ? rgb{255, 150, 100} : rgb{7, 7, 7}));
        }
    image.assign(image.size(), 7);
    render_surface(3, 3, 0, 6, 0, 1100.0);
    EXPECT_EQ(pixel_at(3, 2), (rgb{7, 7, 7}));
}

// ------------------------------------------------------------- accumulation

TEST(AccumulationColours, ScaleAtTheDefaultThreshold)
{
    const double sums[] = {0, 800, 2000, 2400, 3000, 4000};
    const rgb expected[] = {{0, 0, 0}, {0, 0, 102}, {95, 0, 255}, {127, 0, 204}, {175, 0, 127}, {255, 0, 0}};
    for (int i = 0; i < 6; ++i) {
        const rgb got{accum_red(sums[i], 4000), accum_green(sums[i], 4000), accum_blue(sums[i], 4000)};
        EXPECT_EQ(got, expected[i]) << sums[i];
    }
}

class AccumulationTest : public testing::Test {
protected:
    void SetUp() override { reset_viewer(); }
};

TEST_F(AccumulationTest, RayStopsAtTheThresholdButNotOnIt)
{
    // Each layer adds exactly 40 at fx = fy = 0.
    fill_volume(6, 5, 4, [](int, int, int) { return 4000; });
    EXPECT_EQ(accumulate_ray(0, 2, 2, 0, 0, 160), 160.0);  // ends exactly on it
    EXPECT_EQ(accumulate_ray(0, 2, 2, 0, 0, 140), 140.0);  // passes it: the threshold
    EXPECT_EQ(accumulate_ray(1, 2, 2, 0, 0, 160), 120.0);
    EXPECT_EQ(accumulate_ray(4, 2, 2, 0, 0, 160), 0.0);  // no layer left
    EXPECT_EQ(accumulate_ray(0, 3, 3, 0, 0, 160), 0.0);  // y = dim_y - 2 is refused
    EXPECT_EQ(accumulate_ray(0, 4, 2, 0, 0, 160), 0.0);  // x = dim_x - 2 too
    EXPECT_EQ(accumulate_ray(0, 0, 2, 0, 0, 160), 0.0);  // and x = 0
}

TEST_F(AccumulationTest, BlendWeighsTheFarCornersByTheFractions)
{
    fill_volume(6, 5, 1, [](int x, int y, int) { return x * 1000 + y * 100; });
    // At (2, 1) with fx 0.25, fy 0.5: 2250 + 150 = 2400, / 100 = 24.
    EXPECT_DOUBLE_EQ(accumulate_ray(0, 2, 1, 0.25, 0.5, 4000), 24.0);
}

TEST_F(AccumulationTest, ThresholdZeroIsBlackAndNegativeIsViolet)
{
    fill_volume(10, 6, 5, [](int, int, int) { return 500; });
    set_window(10, 6);
    render_accumulation(0, 10, 0, 6, 0, 0.0);
    for (int row = 0; row < 6; ++row)
        for (int col = 0; col < 10; ++col) ASSERT_EQ(pixel_at(col, row), (rgb{0, 0, 0}));

    render_accumulation(0, 10, 0, 6, 0, -100.0);
    EXPECT_EQ(pixel_at(3, 2), (rgb{0, 0, 254}));
    EXPECT_EQ(pixel_at(0, 2), (rgb{193, 0, 254}));  // guard border
    EXPECT_EQ(pixel_at(3, 5), (rgb{193, 0, 254}));
    // A traced ray that takes no step yields 0 like the border.
    render_accumulation(0, 10, 0, 6, 5, -100.0);
    EXPECT_EQ(pixel_at(3, 2), (rgb{193, 0, 254}));
}

TEST_F(AccumulationTest, ExtremeThresholdsGiveDefinedColours)
{
    // Out-of-range quotients, infinities and NaN never reach an undefined
    // conversion: the sanitizer build checks that every byte is defined.
    const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
    for (double t : {1e300, -1e300, 1e308, -1e308, inf, -inf, nan, 5e-324})
        for (double sum : {0.0, 1.0, 1e10, t}) {
            accum_red(sum, t);
            accum_blue(sum, t);
        }
    EXPECT_EQ(accum_red(0.0, -1e300), 193);
    EXPECT_EQ(accum_blue(-100, -100), 254);
    EXPECT_EQ(accum_red(1.0, nan), 0);
    EXPECT_EQ(accum_blue(1.0, inf), 0);
    fill_volume(6, 5, 3, [](int, int, int) { return 4095; });
    EXPECT_EQ(accumulate_ray(0, 2, 2, 0, 0, nan), 0.0 + 40.95 + 40.95 + 40.95);  // nothing passes NaN
    double shade;
    EXPECT_EQ(cast_surface_ray(0, 2, 2, 0, 0, nan, &shade), 0.0);
    EXPECT_EQ(cast_surface_ray(0, 2, 2, 0, 0, inf, &shade), 0.0);
}

// -------------------------------------------------------------------- slice

class SliceTest : public testing::Test {
protected:
    void SetUp() override
    {
        reset_viewer();
        // Plane z = 1 of a 4 x 3 x 2 volume; its largest sample is 1000.
        fill_volume(4, 3, 2, [](int x, int y, int z) {
            if (z == 0) return 4000;
            const int plane[3][4] = {{0, 1000, 500, 200}, {100, 300, 700, 900}, {50, 60, 70, 800}};
            return plane[y][x];
        });
    }
};

TEST_F(SliceTest, ScalesToTheBrightestSampleOfThePlane)
{
    set_window(4, 3);  // one pixel per sample, no blending
    render_slice(1);
    EXPECT_EQ(pixel_at(1, 0), (rgb{255, 255, 255}));
    EXPECT_EQ(pixel_at(2, 0), (rgb{127, 127, 127}));  // 127.5 truncated
    EXPECT_EQ(pixel_at(3, 1), (rgb{229, 229, 229}));  // 900 -> 229.5
}

TEST_F(SliceTest, LastColumnAndRowAreNotInterpolated)
{
    set_window(8, 6);  // fx, fy = 0.5 at odd columns and rows
    render_slice(1);
    // (col 1, row 0): x 0, y 0, blended along x only: 500 -> 127.
    EXPECT_EQ(pixel_at(1, 0).r, 127);
    // (col 1, row 1): both directions: 0.5 * 500 + 0.5 * 200 = 350 -> 89.
    EXPECT_EQ(pixel_at(1, 1).r, 89);
    // Column 7 lies in the last voxel column x = 3: its own sample, not a
    // blend along y either (row 1 would otherwise mix 200 and 900).
    EXPECT_EQ(pixel_at(7, 1).r, 51);
    // Row 5 lies in the last voxel row y = 2: the sample 60 at x = 1.
    EXPECT_EQ(pixel_at(3, 5).r, 15);
}

TEST_F(SliceTest, IndexOutsideThePlanesDrawsNothing)
{
    set_window(4, 3);
    image.assign(image.size(), 9);
    render_slice(-1);
    render_slice(2);
    EXPECT_EQ(pixel_at(0, 0), (rgb{9, 9, 9}));
    EXPECT_EQ(pixel_at(3, 2), (rgb{9, 9, 9}));

    fill_volume(4, 3, 2, [](int, int, int z) { return z == 0 ? 0 : 9; });
    render_slice(0);  // an all-zero plane is black
    EXPECT_EQ(pixel_at(2, 1), (rgb{0, 0, 0}));
}

// ------------------------------------------------------------------- driver

TEST(RenderDriver, SplitViewAtAnOddWidthGivesTheRightHalfTheExtraColumn)
{
    // Empty volume: the surface half is black, the accumulation half at a
    // negative threshold is the border colour (193, 0, 254).
    reset_viewer();
    render_mode = 2;
    density_threshold = -100.0;
    set_window(257, 3);
    std::string err;
    const std::string out = capture_stdout([&] { err = capture_stderr([] { compute_image(); }); });
    EXPECT_EQ(out, "1100.000000\n");
    EXPECT_EQ(err, "\nCalcul d'image fini\n");
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(pixel_at(127, row), (rgb{0, 0, 0}));
        EXPECT_EQ(pixel_at(128, row), (rgb{193, 0, 254}));
        EXPECT_EQ(pixel_at(256, row), (rgb{193, 0, 254}));
    }
}

TEST(RenderDriver, OneImageWritesTheLevelOnlyWhenItDrawsASurface)
{
    reset_viewer();
    set_window(12, 5);
    for (int mode : {0, 1, 2, 3}) {
        render_mode = mode;
        std::string err;
        const std::string out = capture_stdout([&] { err = capture_stderr([] { compute_image(); }); });
        EXPECT_EQ(out, mode == 0 || mode == 2 ? "1100.000000\n" : "") << mode;
        EXPECT_EQ(err, "\nCalcul d'image fini\n") << mode;
    }
}

TEST(RenderDriver, ReshapeRecomputesAtTheNewSize)
{
    reset_viewer();
    render_mode = 1;
    density_threshold = -100.0;
    const std::string err = capture_stderr([] { resize_view(300, 7); });
    EXPECT_EQ(err, "\nCalcul d'image fini\n");
    ASSERT_EQ(image.size(), std::size_t(300) * 7 * 3);
    EXPECT_EQ(pixel_at(299, 6), (rgb{193, 0, 254}));
    // The same size again still recomputes; a zero size empties the frame.
    EXPECT_EQ(capture_stderr([] { resize_view(300, 7); }), "\nCalcul d'image fini\n");
    EXPECT_EQ(capture_stderr([] { resize_view(0, 0); }), "\nCalcul d'image fini\n");
    EXPECT_TRUE(image.empty());
}

}  // namespace
