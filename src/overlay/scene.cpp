// The legend, the help panel and the legend's tag as scenes.
#include "overlay/scene.h"

#include <algorithm>

#include "overlay/font.h"

namespace {

const colour low_density_colour{0, 0, 255};
const colour high_density_colour{255, 0, 0};
const colour text_colour{255, 255, 255};
const colour panel_colour{0, 0, 0};
const colour panel_edge_colour{128, 128, 128};

// The legend's captions start here; their baselines lie 15 and 30 rows
// below the top edge.
constexpr int caption_x = 30;
constexpr int high_caption_drop = 30;
const char* const high_caption = "densite elevee";

// The panel: a margin from the window's corner, a padding inside the box,
// and one line every 14 rows, which holds the font's accents and descenders.
constexpr int panel_margin = 4;
constexpr int panel_padding = 5;
constexpr int line_step = 14;
constexpr int descender_rows = 3;

overlay_item make_box(int x, int y, int width, int height, colour paint)
{
    return {overlay_item::box, x, y, width, height, paint, {}};
}

overlay_item make_text(int x, int y, const std::string& characters)
{
    return {overlay_item::text, x, y, 0, 0, text_colour, characters};
}

// An opaque box with a grey edge one pixel wide.
void add_framed_box(overlay_scene& scene, const overlay_item& outer)
{
    scene.push_back(outer);
    scene.push_back(make_box(outer.x + 1, outer.y + 1, outer.width - 2, outer.height - 2, panel_colour));
}

}  // namespace

void add_legend(overlay_scene& scene, int height)
{
    // Swatches 15 x 7 whose top edges lie 8 and 23 rows below the window's.
    scene.push_back(make_box(10, height - 15, 15, 7, low_density_colour));
    scene.push_back(make_text(caption_x, height - 15, "densite faible"));
    scene.push_back(make_box(10, height - 30, 15, 7, high_density_colour));
    scene.push_back(make_text(caption_x, height - high_caption_drop, high_caption));
}

overlay_item panel_box(const std::vector<std::string>& lines)
{
    int widest = 0;
    for (const auto& line : lines) widest = std::max(widest, text_width(line));
    const int rows = int(lines.size()) * line_step + 2 * panel_padding;
    overlay_item box = make_box(panel_margin, panel_margin, widest + 2 * panel_padding, rows, panel_edge_colour);
    return box;
}

void add_panel(overlay_scene& scene, const std::vector<std::string>& lines)
{
    const overlay_item box = panel_box(lines);
    add_framed_box(scene, box);
    const int last = int(lines.size()) - 1;
    for (int i = 0; i <= last; ++i) {
        const int baseline = box.y + panel_padding + descender_rows + (last - i) * line_step;
        scene.push_back(make_text(box.x + panel_padding, baseline, lines[std::size_t(i)]));
    }
}

overlay_item legend_tag_box(const std::string& label, int height)
{
    const int baseline = height - high_caption_drop;
    const int x = caption_x + text_width(high_caption) + 4;
    return make_box(x, baseline - font_descent, text_width(label) + 6, font_height, panel_edge_colour);
}

void add_legend_tag(overlay_scene& scene, const std::string& label, int height)
{
    const overlay_item box = legend_tag_box(label, height);
    add_framed_box(scene, box);
    scene.push_back(make_text(box.x + 3, height - high_caption_drop, label));
}
