// CT slice loader.
#include "volume/slice_loader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__x86_64__)
#include <emmintrin.h>
#endif

#include "volume/rotation.h"
#include "volume/slice_format.h"
#include "volume/voxel_store.h"

// Opened non-blocking, so that a FIFO without a writer cannot hang start-up;
// anything that is not a regular file fails the read, so that it is
// reported as unreadable rather than missing.
slice_error read_slice_file(const std::string& path, unsigned char* bytes, const unsigned char** slice)
{
    *slice = bytes;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return slice_error::cannot_open;
    struct stat info {};
    bool complete = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    std::size_t got = 0;
    while (complete && got < slice_bytes) {
        const ssize_t n = ::read(fd, bytes + got, slice_bytes - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            complete = false;  // a short file, or a read error
        else
            got += std::size_t(n);
    }
    ::close(fd);
    return complete ? slice_error::none : slice_error::cannot_read;
}

namespace {

// Slices are read this many at a time, on every core, into one buffer; a
// slice is stored only once every slice before it has been read whole.
constexpr int slices_per_batch = 32;

#if defined(__x86_64__)
// Stores the 8 x 8 words of a file block (8 rows from row, 8 columns from
// col) into volume_source: each file column becomes the run of 8 layers
// z = row .. row + 7 of its voxel column x = col. Returns the lanes'
// largest densities.
inline __m128i store_block(const unsigned char* bytes, int row, int col, int y, __m128i largest)
{
    const __m128i mask = _mm_set1_epi16(short(density_mask));
    __m128i r[8];
    for (int i = 0; i < 8; ++i)
        r[i] = _mm_and_si128(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + ((row + i) * slice_side + col) * 2)), mask);
    // An 8 x 8 transpose of 16-bit words in three rounds of interleaving.
    const __m128i a0 = _mm_unpacklo_epi16(r[0], r[1]), a1 = _mm_unpackhi_epi16(r[0], r[1]);
    const __m128i a2 = _mm_unpacklo_epi16(r[2], r[3]), a3 = _mm_unpackhi_epi16(r[2], r[3]);
    const __m128i a4 = _mm_unpacklo_epi16(r[4], r[5]), a5 = _mm_unpackhi_epi16(r[4], r[5]);
    const __m128i a6 = _mm_unpacklo_epi16(r[6], r[7]), a7 = _mm_unpackhi_epi16(r[6], r[7]);
    const __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
    const __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
    const __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
    const __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
    const __m128i c[8] = {_mm_unpacklo_epi64(b0, b4), _mm_unpackhi_epi64(b0, b4), _mm_unpacklo_epi64(b1, b5),
                          _mm_unpackhi_epi64(b1, b5), _mm_unpacklo_epi64(b2, b6), _mm_unpackhi_epi64(b2, b6),
                          _mm_unpacklo_epi64(b3, b7), _mm_unpackhi_epi64(b3, b7)};
    stored_density* column = &volume_source[voxel_index(col, y, row)];
    for (int i = 0; i < 8; ++i, column += volume_side * volume_side) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(column), c[i]);
        largest = _mm_max_epi16(largest, c[i]);
    }
    return largest;
}

// Stores slice n (1-based) from its file bytes into volume_source at the
// plane y = 94 - n; returns its largest density. The columns of a block lie
// 128 KiB apart, in one set of the level-1 cache: one grid's 8 fit in its
// ways, both grids' 16 would not.
int store_slice(int n, const unsigned char* bytes)
{
    const int y = slice_count - n;
    __m128i largest = _mm_setzero_si128();
    for (int col = 0; col < slice_side; col += 8)
        for (int row = 0; row < slice_side; row += 8) largest = store_block(bytes, row, col, y, largest);
    alignas(16) std::int16_t lanes[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), largest);
    return *std::max_element(lanes, lanes + 8);
}
#else
int store_slice(int n, const unsigned char* bytes)
{
    const int y = slice_count - n;
    int largest = 0;
    for (int col = 0; col < slice_side; ++col)
        for (int row = 0; row < slice_side; ++row) {
            const int density = int(decode_word(&bytes[(std::size_t(row) * slice_side + col) * 2]) & density_mask);
            volume_source[voxel_index(col, y, row)] = stored_density(density);
            largest = std::max(largest, density);
        }
    return largest;
}
#endif

// volume = volume_source on the planes of slices first .. last - 1, whose
// rows lie side by side in each slab x.
void copy_slices(int first, int last)
{
    const int y0 = slice_count - (last - 1), rows = last - first;
#pragma omp parallel for schedule(static)
    for (int x = 0; x < slice_side; ++x)
        std::memcpy(&volume[voxel_index(x, y0, 0)], &volume_source[voxel_index(x, y0, 0)],
                    std::size_t(rows) * slice_side * sizeof(stored_density));
}

}  // namespace

load_outcome read_head_slices(const std::string& folder, const std::function<void(int n)>& slice_stored,
                              slice_reader read_slice)
{
    // While loading, dim_z counts the slices; the axes take their final
    // meaning (slices along y, file rows along z) only once all are read.
    max_density = 0;
    dim_z = slice_count;
    dim_x = slice_side;
    dim_y = slice_side;

    // Kept from load to load: the tests and the fuzz target load thousands
    // of times, and a fresh 4 MiB each time cost more than a short load.
    static const std::unique_ptr<unsigned char[]> bytes(new unsigned char[slices_per_batch * slice_bytes]);
    for (int first = 1; first <= slice_count; first += slices_per_batch) {
        const int count = std::min(slices_per_batch, slice_count + 1 - first);
        slice_error error[slices_per_batch];
        const unsigned char* slice[slices_per_batch];
#pragma omp parallel for schedule(dynamic, 1)
        for (int i = 0; i < count; ++i)
            error[i] = read_slice(slice_path(folder, first + i), &bytes[i * slice_bytes], &slice[i]);
        // A slice that failed is never stored, nor any after it: a short
        // slice must not leave the previous slice's words behind.
        int good = 0;
        while (good < count && error[good] == slice_error::none) ++good;
        int largest = max_density;
#pragma omp parallel for schedule(dynamic, 1) reduction(max : largest)
        for (int i = 0; i < good; ++i) largest = std::max(largest, store_slice(first + i, slice[i]));
        if (good > 0) copy_slices(first, first + good);
        max_density = largest;
        for (int i = 0; i < good; ++i) slice_stored(first + i);
        if (good < count) return {error[good], slice_path(folder, first + good)};
    }

    dim_y = slice_count;
    dim_x = slice_side;
    dim_z = slice_side;
    grids_written();  // volume holds the slices as loaded
    return {};
}

void make_sphere_volume() {}
