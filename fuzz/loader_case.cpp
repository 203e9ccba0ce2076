#include "loader_case.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "volume/slice_format.h"
#include "volume/slice_loader.h"
#include "volume/voxel_store.h"

namespace fs = std::filesystem;

namespace {

enum kind { complete, longer, short_file, empty_file, folder_entry, absent, fifo, link_entry };
const char* const kind_names[] = {"complete", "longer", "short", "empty", "folder", "absent", "FIFO", "link"};

struct slice_file {
    int kind = absent;
    int param = 0;
};

constexpr std::size_t max_pattern = 65536;
constexpr std::size_t longest_file = slice_bytes + 256;

std::size_t file_length(const slice_file& f)
{
    switch (f.kind) {
    case complete: return slice_bytes;
    case longer: return slice_bytes + 1 + std::size_t(f.param);
    case short_file: return std::min(std::size_t(f.param) * 515, slice_bytes - 1);
    default: return 0;
    }
}

// Whether the loader must accept the file: a regular file of at least one
// slice, reached directly or through a link.
bool loadable(const slice_file& f)
{
    return f.kind == complete || f.kind == longer || (f.kind == link_entry && f.param % 2 == 0);
}

struct byte_reader {
    const std::uint8_t* data;
    std::size_t size, at = 0;
    std::uint8_t next() { return at < size ? data[at++] : 0; }
};

// The words of the files: the pattern repeated, each file from its own
// offset, and the largest density a file starting at a given offset holds.
struct contents {
    std::vector<std::uint8_t>& bytes;  // longest_file + pattern length
    std::size_t period = 0;
    int max_even = 0, max_odd = 0;  // over the words that start at even / odd pattern offsets

    contents(const std::uint8_t* pattern, std::size_t length, std::vector<std::uint8_t>& buffer)
        : bytes(buffer), period(length)
    {
        bytes.assign(longest_file + length, 0);
        if (period == 0) return;
        // The pattern, then copies of what is there already, each twice as long.
        std::memcpy(bytes.data(), pattern, period);
        for (std::size_t done = period; done < bytes.size(); done *= 2)
            std::memcpy(bytes.data() + done, bytes.data(), std::min(done, bytes.size() - done));
        for (std::size_t s = 0; s < period; ++s) {
            const unsigned char word[2] = {pattern[s], pattern[(s + 1) % period]};
            const int d = int(decode_word(word) & density_mask);
            int& m = s % 2 ? max_odd : max_even;
            m = std::max(m, d);
        }
    }

    std::size_t offset(std::size_t shift, int n) const { return period ? (shift * std::size_t(n)) % period : 0; }

    int density(std::size_t offset, int row, int col) const
    {
        const std::size_t at = offset + (std::size_t(row) * slice_side + col) * 2;
        return int(decode_word(&bytes[at]) & density_mask);
    }

    // A whole slice holds 65,536 words, at least two periods of a pattern
    // of at most 64 KiB: every word start of the offset's parity occurs
    // (every start at all when the period is odd).
    int slice_maximum(std::size_t offset) const
    {
        if (period == 0) return 0;
        if (period % 2) return std::max(max_even, max_odd);
        return offset % 2 ? max_odd : max_even;
    }
};

std::string make_entry(const std::string& path, const slice_file& f, const std::uint8_t* content)
{
    bool made = true;
    switch (f.kind) {
    case complete:
    case longer:
    case short_file:
    case empty_file: {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const std::size_t length = file_length(f);
        made = fd >= 0 && ::write(fd, content, length) == ssize_t(length);
        if (fd >= 0) made = ::close(fd) == 0 && made;
        break;
    }
    case folder_entry: made = ::mkdir(path.c_str(), 0755) == 0; break;
    case fifo: made = ::mkfifo(path.c_str(), 0644) == 0; break;
    case link_entry: made = ::symlink(f.param % 2 == 0 ? "target" : "nowhere", path.c_str()) == 0; break;
    default: break;
    }
    return made ? std::string() : "harness: cannot make " + path + ": " + std::strerror(errno);
}

void zero_planes(int y0, int y1)  // y0 <= y < y1, every x and z
{
    if (y1 <= y0) return;
    const std::size_t count = std::size_t(y1 - y0) * volume_side;
    for (int x = 0; x < volume_side; ++x) {
        std::memset(&volume[voxel_index(x, y0, 0)], 0, count * sizeof(stored_density));
        std::memset(&volume_source[voxel_index(x, y0, 0)], 0, count * sizeof(stored_density));
    }
}

// No density is negative: a voxel still holding this after a load was
// never written by it.
constexpr stored_density unwritten = -1;

std::string where(const char* grid, int x, int y, int z)
{
    return std::string(grid) + "(" + std::to_string(x) + ", " + std::to_string(y) + ", " + std::to_string(z) + ")";
}

// The message for a voxel that holds the wrong word. Kept out of line: the
// checks that call it run thousands of times per input, and its strings
// would cost each of them a frame on the sanitizer's fake stack.
// want >= 0: the word headsq.n holds there; -1: headsq.n was not to be read.
[[gnu::noinline]] void note_wrong_voxel(std::string& broken, int x, int y, int z, int want, int n)
{
    const std::size_t at = voxel_index(x, y, z);
    broken = where("volume", x, y, z) + " = " + std::to_string(volume[at]) + ", source " +
           std::to_string(volume_source[at]) +
           (want >= 0 ? ", expected " + std::to_string(want) + " from headsq." + std::to_string(n)
                      : ", but headsq." + std::to_string(n) + " was not read");
}

// Sample positions of a plane: the four corners, then pseudo-random ones.
template <class Visit>
void sample_plane(int n, Visit visit)
{
    const int corner[4][2] = {{0, 0}, {0, 255}, {255, 0}, {255, 255}};
    for (const auto& c : corner) visit(c[0], c[1]);
    std::uint32_t s = 2654435761u * std::uint32_t(n + 1);
    for (int i = 0; i < 60; ++i) {
        s = s * 1664525u + 1013904223u;
        visit(int(s >> 24), int((s >> 16) & 0xFF));
    }
}

using slice_files = std::array<slice_file, slice_count + 1>;  // [1] .. [94]

// The folder of the case in memory, for loads that do not go to disk: what
// read_slice_file would answer for each file, and the bytes it would read.
struct memory_folder {
    const slice_files* files = nullptr;
    const contents* words = nullptr;
    std::size_t shift = 0;
};
memory_folder in_memory;

slice_error read_from_memory(const std::string& path, unsigned char*, const unsigned char** slice)
{
    const int n = std::atoi(path.c_str() + path.rfind('.') + 1);
    const slice_file& f = (*in_memory.files)[n];
    std::size_t offset = in_memory.words->offset(in_memory.shift, n);
    switch (f.kind) {
    case complete:
    case longer: break;
    case link_entry:
        if (f.param % 2) return slice_error::cannot_open;  // a link to nothing
        offset = 0;                                        // the complete target
        break;
    case absent: return slice_error::cannot_open;
    default: return slice_error::cannot_read;  // short, empty, a folder, a FIFO
    }
    *slice = in_memory.words->bytes.data() + offset;
    return slice_error::none;
}

// The first file the loader must refuse; 95 when there is none.
int first_unloadable(const slice_files& files)
{
    for (int n = 1; n <= slice_count; ++n)
        if (!loadable(files[n])) return n;
    return slice_count + 1;
}

std::string check_grids(const slice_files& files, const contents& c, std::size_t shift, int result)
{
    const int first_bad = first_unloadable(files);
    const int expected = first_bad > slice_count ? 0 : -1;
    if (result != expected)
        return "read_head_slices returned " + std::to_string(result) + ", expected " + std::to_string(expected) +
               (expected ? " (headsq." + std::to_string(first_bad) + " is " + kind_names[files[first_bad].kind] + ")"
                         : std::string(" (all 94 files complete)"));
    if (result == 0 && (dim_x != 256 || dim_y != 94 || dim_z != 256))
        return "extents " + std::to_string(dim_x) + " x " + std::to_string(dim_y) + " x " + std::to_string(dim_z) +
               " after a load, expected 256 x 94 x 256";

    // The slices read before the first bad one hold their files' words.
    int maximum = 0;
    std::string broken;
    for (int n = 1; n < first_bad; ++n) {
        const std::size_t offset = files[n].kind == link_entry ? 0 : c.offset(shift, n);
        maximum = std::max(maximum, c.slice_maximum(offset));
        const int y = slice_count - n;
        sample_plane(n, [&](int row, int col) {
            const int want = c.density(offset, row, col);
            const std::size_t at = voxel_index(col, y, row);
            if (broken.empty() && (volume[at] != want || volume_source[at] != want))
                note_wrong_voxel(broken, col, y, row, want, n);
        });
        if (!broken.empty()) return broken;
    }
    if (max_density != maximum)
        return "max_density " + std::to_string(max_density) + ", the largest density of the slices read is " +
               std::to_string(maximum);

    // Nothing of the bad file nor of any after it is stored: the bad one's
    // plane is checked whole, of the others four whole file columns (each
    // lies side by side along z: one comparison per column and grid, where
    // scattered samples would each miss the cache).
    static const stored_density zeros[slice_side] = {};
    for (int n = first_bad; n <= slice_count; ++n) {
        const int y = slice_count - n;
        const int spread = (n * 97) % (slice_side - 2);
        const int some_columns[] = {0, 1 + spread, slice_side - 2 - spread, slice_side - 1};
        const auto check_column = [&](int col) {
            const std::size_t at = voxel_index(col, y, 0);
            if (std::memcmp(&volume[at], zeros, sizeof zeros) == 0 &&
                std::memcmp(&volume_source[at], zeros, sizeof zeros) == 0)
                return;
            for (int row = 0; row < slice_side && broken.empty(); ++row)  // name the first voxel
                if (volume[at + std::size_t(row)] != 0 || volume_source[at + std::size_t(row)] != 0)
                    note_wrong_voxel(broken, col, y, row, -1, n);
        };
        if (n == first_bad)
            for (int col = 0; col < slice_side && broken.empty(); ++col) check_column(col);
        else
            for (const int col : some_columns) check_column(col);
        if (!broken.empty()) return broken;
    }
    // No slice lands beyond y = 93.
    for (const int y : {94, 95, 128, 255})
        for (const int x : {0, 1, 127, 254, 255})
            for (int z = 0; z < volume_side; ++z) {
                const std::size_t at = voxel_index(x, y, z);
                if (volume[at] != 0 || volume_source[at] != 0) return where("volume", x, y, z) + " is not 0";
            }
    return {};
}

}  // namespace

std::string run_loader_case(const std::uint8_t* data, std::size_t size, const std::string& folder)
{
    byte_reader in{data, size};
    slice_files files{};
    const int n = in.next() % 95;
    const slice_file usual{in.next() % 8, in.next()};
    const std::size_t shift = in.next();
    for (int i = 1; i <= n; ++i) files[i] = usual;
    const int record_byte = in.next();
    // One case in sixteen makes the files on disk, the others answer from
    // memory as those files would: far faster, so that the search covers
    // more of the loader's own logic.
    const bool on_disk = (record_byte >> 4) == 7;
    for (int records = record_byte % 16; records > 0; --records) {
        const int slice = 1 + in.next() % slice_count;
        files[slice].kind = in.next() % 8;
        files[slice].param = in.next();
    }
    const std::size_t pattern_length = std::min(size - std::min(size, in.at), max_pattern);
    // Kept from case to case, so that each does not fault in fresh pages.
    static std::vector<std::uint8_t> pattern_buffer;
    const contents c(data + std::min(size, in.at), pattern_length, pattern_buffer);

    std::string broken;
    std::vector<std::string> made;
    const auto make = [&](const std::string& name, const slice_file& f, std::size_t offset) {
        if (f.kind == absent || !broken.empty()) return;
        broken = make_entry(folder + "/" + name, f, c.bytes.data() + offset);
        made.push_back(folder + "/" + name);
    };
    if (on_disk) {
        if (std::any_of(files.begin() + 1, files.end(), [](const slice_file& f) { return f.kind == link_entry; }))
            make("target", {complete, 0}, 0);
        for (int i = 1; i <= slice_count; ++i) make(slice_file_name(i), files[i], c.offset(shift, i));
    }
    in_memory = {&files, &c, shift};

    // The grids as the load must find them, without clearing the planes it
    // will write over (12 MiB per case): the planes of the files it must not
    // store are cleared, those written by earlier cases and not since; in the
    // planes it must write, the voxels checked after it are marked unwritten.
    // Between cases the planes of slices 1 .. dirty_through may hold words.
    static int dirty_through = slice_count;
    const int first_bad = first_unloadable(files);
    zero_planes(slice_count - dirty_through, slice_count + 1 - first_bad);
    for (int n = 1; n < first_bad; ++n)
        sample_plane(n, [&](int row, int col) {
            const std::size_t at = voxel_index(col, slice_count - n, row);
            volume[at] = volume_source[at] = unwritten;
        });

    if (broken.empty()) {
        const load_outcome outcome = on_disk ? read_head_slices(folder, [](int) {})
                                             : read_head_slices(folder, [](int) {}, read_from_memory);
        broken = check_grids(files, c, shift, outcome.error == slice_error::none ? 0 : -1);
    }

    // Back to an empty folder. A load writes the planes of the slices it
    // reads, y = 94 - n; a wrong one may have written any of them.
    std::error_code ignored;
    for (const auto& path : made) fs::remove(path, ignored);
    dirty_through = broken.empty() ? first_bad - 1 : slice_count;
    dim_x = dim_y = dim_z = 0;
    max_density = 0;
    return broken;
}
