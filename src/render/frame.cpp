// The frame and the pixel-to-volume mapping shared by all renderers.
#include "render/frame.h"

#include "volume/voxel_store.h"

namespace {
constexpr int initial_side = 256;
}

std::vector<std::uint8_t> image;
int win_width = initial_side, win_height = initial_side;

void fit_image_to_window()
{
    const std::size_t w = win_width > 0 ? std::size_t(win_width) : 0;
    const std::size_t h = win_height > 0 ? std::size_t(win_height) : 0;
    image.resize(w * h * 3);
}

void reset_frame()
{
    win_width = win_height = initial_side;
    image.clear();
    frame_after_turn = false;
    accumulation_share_through = 0;
}

void pixel_to_voxel(int col, int row, int* x_out, int* y_out, double* fx_out, double* fy_out)
{
    const int x = voxel_x_of_column(col);
    const int y = (dim_y * row) / win_height;
    *x_out = x;
    *y_out = y;
    *fx_out = double(dim_x * col) / win_width - x;
    *fy_out = double(dim_y * row) / win_height - y;
}

bool frame_after_turn = false;
double accumulation_share_through = 0;

row_parity_groups groups_by_row_parity(const std::vector<row_batch>& batches)
{
    row_parity_groups groups;
    int previous_y = -1;
    for (std::size_t i = 0; i < batches.size(); ++i) {
        const int y = (dim_y * batches[i].row0) / win_height;
        std::vector<batch_group>& parity = y % 2 == 0 ? groups.even : groups.odd;
        if (i > 0 && y == previous_y)
            ++parity.back().count;
        else
            parity.push_back({i, 1});
        previous_y = y;
    }
    return groups;
}

std::vector<row_batch> row_batches(int y0, int y1)
{
    std::vector<row_batch> batches;
    int previous_y = -1;
    for (int row = y0; row < y1; ++row) {
        const int y = (dim_y * row) / win_height;
        if (batches.empty() || y != previous_y || row - batches.back().row0 == batch_rows)
            batches.push_back({row, row + 1});
        else
            batches.back().row1 = row + 1;
        previous_y = y;
    }
    return batches;
}
