// The voxel store's state.
#include "volume/voxel_store.h"

#include <cstdint>
#include <cstring>

#include <sys/mman.h>
#include <unistd.h>

#include "volume/rotation.h"

// Page-aligned, so that whole pages go back to the system on a reset.
alignas(4096) stored_density volume_source[volume_elements];
alignas(4096) stored_density volume[volume_elements];
int dim_x = 0, dim_y = 0, dim_z = 0;
int max_density = 0;
float volume_angle_a = 0.0f, volume_angle_b = 0.0f;

namespace {

// Zeroes a grid by handing its whole pages back to the system, which maps
// them again as zero pages when next touched: quick, and it returns the
// memory. The partial pages at either end are cleared by hand.
void zero_grid(stored_density* grid)
{
    const std::uintptr_t page = std::uintptr_t(::sysconf(_SC_PAGESIZE));
    const std::uintptr_t begin = std::uintptr_t(grid), end = begin + sizeof(stored_density) * volume_elements;
    const std::uintptr_t first = (begin + page - 1) / page * page, last = end / page * page;
    if (first >= last || ::madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED) != 0) {
        std::memset(grid, 0, sizeof(stored_density) * volume_elements);
        return;
    }
    std::memset(grid, 0, first - begin);
    std::memset(reinterpret_cast<void*>(last), 0, end - last);
}

}  // namespace

void reset_voxel_store()
{
    zero_grid(volume_source);
    zero_grid(volume);
    dim_x = dim_y = dim_z = 0;
    max_density = 0;
    volume_angle_a = volume_angle_b = 0.0f;
    grids_written();
}
