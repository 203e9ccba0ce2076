// CT slice loader.
#include "volume/slice_loader.h"

#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "volume/slice_format.h"
#include "volume/voxel_store.h"

namespace {

// One slice file's bytes, reused for every slice.
unsigned char slice_buffer[slice_bytes];

// Opens a slice file for reading without ever blocking: a FIFO without a
// writer would otherwise hang start-up. Returns nullptr when it cannot be
// opened at all; anything that is not a regular file is opened and then fails
// the read, so that it is reported as unreadable rather than missing.
std::FILE* open_slice(const char* path, bool& regular)
{
    int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat info {};
    regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    std::FILE* file = ::fdopen(fd, "rb");
    if (!file) ::close(fd);
    return file;
}

// Reads exactly one slice into slice_buffer; false on a short file or an error.
bool read_slice(std::FILE* file, bool regular)
{
    return regular && std::fread(slice_buffer, 1, slice_bytes, file) == slice_bytes;
}

// Stores slice number n (1-based) into both grids at the plane y = 94 - n.
void store_slice(int n)
{
    const int y = slice_count - n;
    for (int row = 0; row < slice_side; ++row) {
        for (int col = 0; col < slice_side; ++col) {
            const unsigned word = decode_word(&slice_buffer[(std::size_t(row) * slice_side + col) * 2]);
            const int density = int(word & density_mask);
            const std::size_t index = voxel_index(col, y, row);
            volume[index] = density;
            volume_source[index] = density;
            if (density > max_density) max_density = density;
        }
    }
}

}  // namespace

load_outcome read_head_slices(const std::string& folder, const std::function<void(int n)>& slice_stored)
{
    // While loading, dim_z counts the slices; the axes take their final
    // meaning (slices along y, file rows along z) only once all are read.
    max_density = 0;
    dim_z = slice_count;
    dim_x = slice_side;
    dim_y = slice_side;

    for (int i = 0; i < dim_z; ++i) {
        const std::string path = slice_path(folder, i + 1);
        bool regular = false;
        std::FILE* file = open_slice(path.c_str(), regular);
        if (!file) return {slice_error::cannot_open, path};
        // A short slice must not be stored: its missing words would silently
        // keep the previous slice's data.
        const bool complete = read_slice(file, regular);
        std::fclose(file);
        if (!complete) return {slice_error::cannot_read, path};
        store_slice(i + 1);
        slice_stored(i + 1);
    }

    dim_y = slice_count;
    dim_x = slice_side;
    dim_z = slice_side;
    volume_angle_a = volume_angle_b = 0.0f;  // volume holds the slices as loaded
    return {};
}

void make_sphere_volume() {}
