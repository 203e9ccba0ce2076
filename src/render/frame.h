// The frame the renderers fill and the mapping from its pixels to the
// volume. Plain global state, defined in frame.cpp.
#pragma once

#include <cstdint>
#include <vector>

#include "volume/voxel_store.h"

// win_width x win_height RGB pixels, bottom row first, no gap between rows:
// pixel (col, row) starts at byte (row * win_width + col) * 3. The window
// (or the snapshot tool) shows it as it is.
extern std::vector<std::uint8_t> image;
extern int win_width, win_height;  // 256 x 256 at start

// Grows or shrinks image to hold exactly win_width x win_height pixels.
void fit_image_to_window();

// Back to the state at program start: 256 x 256, no pixels yet.
void reset_frame();

// Maps a pixel to the voxel column it shows: the whole x-y extent of the
// volume is stretched over the window. fx, fy are the fractions in [0, 1).
void pixel_to_voxel(int col, int row, int* x_out, int* y_out, double* fx_out, double* fy_out);

// The voxel x of a pixel column (the x of pixel_to_voxel); win_width > 0.
inline int voxel_x_of_column(int col) { return (dim_x * col) / win_width; }

// Image rows that map to the same voxel row y differ only in their weight
// fy, so the ray kernels take them in batches of up to batch_rows such rows.
constexpr int batch_rows = 16;
struct row_batch {
    int row0, row1;  // row0 <= row < row1, all on one voxel row
};

// The batches that cover the rows y0 <= row < y1, in order.
std::vector<row_batch> row_batches(int y0, int y1);

// The batches of one voxel row: batches[first] .. batches[first + count - 1].
struct batch_group {
    std::size_t first, count;
};

// Whether the frame being drawn is the first since volume was turned, so
// that its rays resample most of the runs they reach. render_frame sets it.
extern bool frame_after_turn;

// Of the traced rays of the last accumulation image, the share that ran to
// the last layer without passing the threshold; 0 before the first.
extern double accumulation_share_through;

// The batches of the first frame after a turn, grouped by voxel row: the
// groups of even voxel rows, then those of odd ones.
struct row_parity_groups {
    std::vector<batch_group> even, odd;
};
row_parity_groups groups_by_row_parity(const std::vector<row_batch>& batches);

// Calls draw(batch) once for every batch, on every core.
//
// In the first frame after a turn, two passes: the groups of even voxel
// rows, then those of odd ones. The rays of voxel row y read the voxel rows
// y and y + 1, so no two groups of one pass read a voxel column in common:
// no thread waits while another resamples a run it needs, and the odd rows
// find their columns ready. Each pass hands its groups out in guided
// shares, so that every thread starts on a long stretch of rows of its own:
// threads working side by side fetched the same source lines into both
// their caches, and the turn cost 15 % more.
//
// Otherwise one batch at a time in row order, so that the columns one batch
// reads are still in cache for the next; small dynamic shares balance rows
// that miss the head (full-length rays) against rows that meet it early.
template <typename Draw>
void draw_batches(const std::vector<row_batch>& batches, Draw draw)
{
    if (!frame_after_turn) {
#pragma omp parallel for schedule(dynamic, 1)
        for (std::size_t i = 0; i < batches.size(); ++i) draw(batches[i]);
        return;
    }
    const row_parity_groups groups = groups_by_row_parity(batches);
    const auto draw_group = [&](const batch_group& g) {
        for (std::size_t i = g.first; i < g.first + g.count; ++i) draw(batches[i]);
    };
#pragma omp parallel
    {
#pragma omp for schedule(guided)
        for (std::size_t g = 0; g < groups.even.size(); ++g) draw_group(groups.even[g]);
#pragma omp for schedule(guided)
        for (std::size_t g = 0; g < groups.odd.size(); ++g) draw_group(groups.odd[g]);
    }
}
