// What is drawn over the image: freeglut's glyphs, the scenes of the
// legend, the panel and the threshold label, and the software painter that
// must give the window's pixels (the end-to-end tests compare the two).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "overlay/font.h"
#include "overlay/raster.h"
#include "overlay/scene.h"

namespace {

struct frame {
    int width, height;
    std::vector<std::uint8_t> rgb;
    frame(int w, int h) : width(w), height(h), rgb(std::size_t(w) * std::size_t(h) * 3, 7) {}
    colour at(int col, int row) const
    {
        const std::uint8_t* p = &rgb[(std::size_t(row) * std::size_t(width) + std::size_t(col)) * 3];
        return {p[0], p[1], p[2]};
    }
    int painted() const
    {
        int count = 0;
        for (int row = 0; row < height; ++row)
            for (int col = 0; col < width; ++col) count += at(col, row).r != 7;
        return count;
    }
};

bool same(colour a, colour b) { return a.r == b.r && a.g == b.g && a.b == b.b; }

TEST(Font, IsFreeglutsHelveticaTwelve)
{
    EXPECT_EQ(font_mismatch(), "");
    EXPECT_EQ(font_glyph('A').width, 9);
    EXPECT_EQ(font_glyph(' ').width, 4);
    EXPECT_EQ(font_glyph(0).width, 0);  // glutBitmapCharacter skips it
    EXPECT_EQ(font_glyph(0xE9).width, font_glyph('e').width);
    EXPECT_EQ(text_width("densite faible"), 74);
    EXPECT_EQ(text_width(""), 0);
}

TEST(RasterPosition, FollowsTheProjectionAndTheClipTest)
{
    float x = -1, y = -1;
    ASSERT_TRUE(raster_position(30, 241, 256, 256, &x, &y));
    EXPECT_EQ(x, 30.0f);
    EXPECT_EQ(y, 241.0f);
    ASSERT_TRUE(raster_position(0, 0, 385, 200, &x, &y));  // the corner itself is inside
    EXPECT_EQ(x, 0.0f);
    EXPECT_EQ(y, 0.0f);
    EXPECT_FALSE(raster_position(5, -1, 385, 200, &x, &y));
    EXPECT_FALSE(raster_position(-1, 5, 385, 200, &x, &y));
    EXPECT_FALSE(raster_position(5, 201, 385, 200, &x, &y));
    EXPECT_FALSE(raster_position(386, 5, 385, 200, &x, &y));
    // Float rounding leaves some positions a hair short of their pixel:
    // Mesa adds 0.0001 before the floor, and the glyph lands on the pixel.
    ASSERT_TRUE(raster_position(30, 9, 100, 39, &x, &y));
    EXPECT_LT(x, 30.0f);
    EXPECT_LT(y, 9.0f);
    frame f(100, 39);
    paint_scene({{overlay_item::text, 30, 9, 0, 0, {255, 255, 255}, "A"}}, f.rgb.data(), f.width, f.height);
    int lowest = f.height, leftmost = f.width;
    for (int row = 0; row < f.height; ++row)
        for (int col = 0; col < f.width; ++col)
            if (f.at(col, row).r == 255) lowest = std::min(lowest, row), leftmost = std::min(leftmost, col);
    EXPECT_EQ(lowest, 9);    // the foot of A stands on the baseline
    EXPECT_EQ(leftmost, 31);  // one column of bearing
}

TEST(PaintScene, BoxesCoverTheirPixelsClippedToTheFrame)
{
    frame f(20, 10);
    overlay_scene scene;
    scene.push_back({overlay_item::box, -3, 8, 6, 5, {1, 2, 3}, {}});    // over the top-left corner
    scene.push_back({overlay_item::box, 18, -4, 10, 6, {4, 5, 6}, {}});  // over the bottom-right corner
    paint_scene(scene, f.rgb.data(), f.width, f.height);
    EXPECT_EQ(f.painted(), 3 * 2 + 2 * 2);
    EXPECT_TRUE(same(f.at(0, 9), {1, 2, 3}));
    EXPECT_TRUE(same(f.at(2, 8), {1, 2, 3}));
    EXPECT_TRUE(same(f.at(19, 0), {4, 5, 6}));
    EXPECT_TRUE(same(f.at(18, 1), {4, 5, 6}));
    paint_scene(scene, nullptr, 0, 5);  // an empty frame: nothing to do
}

TEST(PaintScene, TextIsTheGlyphBitmapAtItsBaseline)
{
    frame f(30, 30);
    paint_scene({{overlay_item::text, 10, 10, 0, 0, {255, 255, 255}, "Ag"}}, f.rgb.data(), f.width, f.height);
    // Every set bit of each glyph, its bottom row 4 rows below the baseline.
    int expected = 0;
    int x = 10;
    for (const char c : std::string("Ag")) {
        const glyph g = font_glyph(static_cast<unsigned char>(c));
        const int row_bytes = (g.width + 7) / 8;
        for (int r = 0; r < font_height; ++r)
            for (int i = 0; i < g.width; ++i) {
                const bool set = g.rows[r * row_bytes + i / 8] & (0x80 >> (i % 8));
                expected += set;
                EXPECT_EQ(f.at(x + i, 10 - font_descent + r).r, set ? 255 : 7) << c << " " << i << " " << r;
            }
        x += g.width;
    }
    EXPECT_EQ(f.painted(), expected);
    EXPECT_GT(expected, 20);
}

TEST(PaintScene, ACharacterWhoseRasterPositionIsOutsideIsSkippedWhole)
{
    // At row -1 the upper rows of the glyph would show, but OpenGL drops
    // the character; at row 0 it draws what falls inside.
    frame below(30, 20), on_edge(30, 20);
    paint_scene({{overlay_item::text, 2, -1, 0, 0, {255, 255, 255}, "AA"}}, below.rgb.data(), 30, 20);
    EXPECT_EQ(below.painted(), 0);
    paint_scene({{overlay_item::text, 2, 0, 0, 0, {255, 255, 255}, "AA"}}, on_edge.rgb.data(), 30, 20);
    EXPECT_GT(on_edge.painted(), 0);
    // Past the right edge: the first character shows, the second does not.
    frame narrow(12, 20);
    paint_scene({{overlay_item::text, 2, 5, 0, 0, {255, 255, 255}, "AA"}}, narrow.rgb.data(), 12, 20);
    frame one(12, 20);
    paint_scene({{overlay_item::text, 2, 5, 0, 0, {255, 255, 255}, "A"}}, one.rgb.data(), 12, 20);
    EXPECT_EQ(narrow.rgb, one.rgb);
}

TEST(Scenes, TheLegendKeepsItsPlaceInTheTopLeftCorner)
{
    frame f(160, 60);
    overlay_scene scene;
    add_legend(scene, f.height);
    paint_scene(scene, f.rgb.data(), f.width, f.height);
    // Swatches: columns 10 to 24, rows 8 to 14 and 23 to 29 below the top edge.
    for (int col = 0; col < 30; ++col)
        for (int down = 0; down < 32; ++down) {
            const colour c = f.at(col, f.height - 1 - down);
            const bool in_columns = col >= 10 && col < 25;
            if (in_columns && down >= 8 && down < 15)
                EXPECT_TRUE(same(c, {0, 0, 255})) << col << " " << down;
            else if (in_columns && down >= 23 && down < 30)
                EXPECT_TRUE(same(c, {255, 0, 0})) << col << " " << down;
            else
                EXPECT_TRUE(same(c, {7, 7, 7})) << col << " " << down;
        }
}

TEST(Scenes, ThePanelAndTheLabelStayInsideTheirBoxes)
{
    const std::vector<std::string> lines = {"Vue : surface (mode 0)", "Angles : a 0,0\xB0", "gjpqy \xC9\xE8"};
    frame f(300, 200);
    overlay_scene scene;
    add_panel(scene, lines);
    add_legend_tag(scene, "seuil 4000", f.height);
    paint_scene(scene, f.rgb.data(), f.width, f.height);
    const overlay_item panel = panel_box(lines), tag = legend_tag_box("seuil 4000", f.height);
    EXPECT_EQ(panel.x, 4);
    EXPECT_EQ(panel.y, 4);
    EXPECT_EQ(panel.height, 3 * 14 + 10);
    auto inside = [](const overlay_item& box, int col, int row) {
        return col >= box.x && col < box.x + box.width && row >= box.y && row < box.y + box.height;
    };
    int white = 0;
    for (int row = 0; row < f.height; ++row)
        for (int col = 0; col < f.width; ++col) {
            const colour c = f.at(col, row);
            if (!inside(panel, col, row) && !inside(tag, col, row)) {
                EXPECT_TRUE(same(c, {7, 7, 7})) << col << " " << row;
            } else if (same(c, {255, 255, 255})) {
                ++white;
                // Text never touches the grey edge.
                for (const overlay_item* box : {&panel, &tag})
                    if (inside(*box, col, row)) {
                        EXPECT_GT(col, box->x);
                        EXPECT_LT(col, box->x + box->width - 1);
                        EXPECT_GT(row, box->y);
                        EXPECT_LT(row, box->y + box->height - 1);
                    }
            }
        }
    EXPECT_GT(white, 100);
    // The label sits right of the red caption, on its baseline's band.
    EXPECT_EQ(tag.x, 30 + text_width("densite elevee") + 4);
    EXPECT_EQ(tag.y, f.height - 30 - font_descent);
}

}  // namespace
