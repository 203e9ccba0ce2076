// Boxes and bitmap text painted in software, rounding as Mesa does.
#include "overlay/raster.h"

#include <algorithm>
#include <cmath>

#include "overlay/font.h"

namespace {

struct frame_view {
    std::uint8_t* rgb;
    int width, height;
};

void put_pixel(const frame_view& frame, int col, int row, colour paint)
{
    if (col < 0 || row < 0 || col >= frame.width || row >= frame.height) return;
    std::uint8_t* p = frame.rgb + (std::size_t(row) * std::size_t(frame.width) + std::size_t(col)) * 3;
    p[0] = paint.r;
    p[1] = paint.g;
    p[2] = paint.b;
}

void paint_box(const frame_view& frame, const overlay_item& box)
{
    const int col0 = std::max(box.x, 0), col1 = std::min(box.x + box.width, frame.width);
    const int row0 = std::max(box.y, 0), row1 = std::min(box.y + box.height, frame.height);
    for (int row = row0; row < row1; ++row)
        for (int col = col0; col < col1; ++col) put_pixel(frame, col, row, box.paint);
}

// glBitmap at a valid raster position: the bitmap's bottom-left pixel goes
// to the floor of the position, nudged by Mesa's 0.0001, less the origin.
void paint_glyph(const frame_view& frame, const glyph& g, float window_x, float window_y, colour paint)
{
    const float epsilon = 0.0001f;
    const int left = int(std::floor(window_x + epsilon - 0.0f));
    const int bottom = int(std::floor(window_y + epsilon - float(font_descent)));
    const int row_bytes = (g.width + 7) / 8;
    for (int r = 0; r < font_height; ++r)
        for (int i = 0; i < g.width; ++i)
            if (g.rows[r * row_bytes + i / 8] & (0x80 >> (i % 8))) put_pixel(frame, left + i, bottom + r, paint);
}

void paint_text(const frame_view& frame, const overlay_item& text)
{
    int x = text.x;
    for (const char c : text.characters) {
        const glyph g = font_glyph(static_cast<unsigned char>(c));
        float window_x, window_y;
        if (g.rows && raster_position(x, text.y, frame.width, frame.height, &window_x, &window_y))
            paint_glyph(frame, g, window_x, window_y, text.paint);
        x += g.width;
    }
}

// One coordinate through glOrtho's matrix (scale 2 / extent, offset -1),
// the clip test, and the viewport's scale and offset, each operation
// rounded to float as Mesa's fixed-function raster position is.
bool map_coordinate(int v, int extent, float* window)
{
    const float scale = 2.0f / float(extent);
    const float offset = -(float(extent) + 0.0f) / float(extent);
    const float clip = scale * float(v) + offset;
    if (clip > 1.0f || clip < -1.0f) return false;
    const float half = float(extent) * 0.5f;
    *window = clip * half + (half + 0.0f);
    return true;
}

}  // namespace

bool raster_position(int x, int y, int width, int height, float* window_x, float* window_y)
{
    return map_coordinate(x, width, window_x) && map_coordinate(y, height, window_y);
}

void paint_scene(const overlay_scene& scene, std::uint8_t* rgb, int width, int height)
{
    if (width <= 0 || height <= 0) return;
    const frame_view frame{rgb, width, height};
    for (const overlay_item& item : scene) {
        if (item.what == overlay_item::box)
            paint_box(frame, item);
        else
            paint_text(frame, item);
    }
}
