// The render driver and the pixel-to-volume mapping shared by all renderers.
#include "render/render.h"

#include <cstdio>

#include "app/view_state.h"
#include "render/rays.h"
#include "volume/volume.h"

std::vector<std::uint8_t> image;
int win_width = 256, win_height = 256;

void fit_image_to_window()
{
    const std::size_t w = win_width > 0 ? std::size_t(win_width) : 0;
    const std::size_t h = win_height > 0 ? std::size_t(win_height) : 0;
    image.resize(w * h * 3);
}

void pixel_to_voxel(int col, int row, int* x_out, int* y_out, double* fx_out, double* fy_out)
{
    const int x = (dim_x * col) / win_width;
    const int y = (dim_y * row) / win_height;
    *x_out = x;
    *y_out = y;
    *fx_out = double(dim_x * col) / win_width - x;
    *fy_out = double(dim_y * row) / win_height - y;
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

void compute_image()
{
    fit_image_to_window();
    if (render_mode == 3) {
        render_slice(slice_index);
    } else if (render_mode == 2) {
        render_surface(0, win_width / 2, 0, win_height, start_layer, surface_level);
        render_accumulation(win_width / 2, win_width, 0, win_height, start_layer, density_threshold);
    } else if (render_mode == 1) {
        render_accumulation(0, win_width, 0, win_height, start_layer, density_threshold);
    } else if (render_mode == 0) {
        render_surface(0, win_width, 0, win_height, start_layer, surface_level);
    }
    std::fprintf(stderr, "\nCalcul d'image fini\n");
}
