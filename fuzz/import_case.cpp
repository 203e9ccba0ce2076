#include "import_case.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <vector>

#include <zlib.h>

#include "import.h"

namespace fs = std::filesystem;

namespace {

constexpr int most_dicom_files = 8;
constexpr std::size_t nifti_header_bytes = 348;
// A small output grid: resampling onto the full 256 x 256 x 94 would take
// most of each input's time; the geometry code is the same.
constexpr GridSize fuzz_grid{24, 24, 9};

bool write_bytes(const fs::path& file, const std::uint8_t* data, std::size_t size)
{
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    return bool(out.flush());
}

bool write_gzip(const fs::path& file, const std::uint8_t* data, std::size_t size)
{
    gzFile gz = gzopen(file.c_str(), "wb");
    if (!gz) return false;
    const bool written = size == 0 || gzwrite(gz, data, unsigned(size)) == int(size);
    return gzclose(gz) == Z_OK && written;
}

int largest_density(const std::vector<std::uint16_t>& words)
{
    return words.empty() ? 0 : *std::max_element(words.begin(), words.end());
}

// read_scan_here's outcome: a failure that names its file and leaves no scan,
// or a full grid that maps onto densities.
std::string check_import(const std::string& input)
{
    SlicedScan scan;
    // A progress observer, as crane-import on a terminal has; crane-import
    // clamps the fractions itself.
    std::size_t reports = 0;
    const ImportFailure failure = read_scan_here(
        input, "", scan, [&](const char*, double) { ++reports; }, fuzz_grid);
    if (failed(failure)) {
        if (failure.file.empty()) return "a failure that names no file: " + failure.reason;
        if (!scan.values.empty()) return "a failure that leaves a scan: " + failure.reason;
        return {};
    }
    if (scan.values.size() != fuzz_grid.words())
        return "a scan of " + std::to_string(scan.values.size()) + " values, expected " +
               std::to_string(fuzz_grid.words());
    if (!(scan.spacing_in_plane > 0 && std::isfinite(scan.spacing_in_plane) && scan.spacing_between_slices > 0 &&
          std::isfinite(scan.spacing_between_slices)))
        return "spacing " + std::to_string(scan.spacing_in_plane) + " / " + std::to_string(scan.spacing_between_slices);
    const DensityMap map = choose_density_map(scan.hounsfield, scan.stats);
    const std::vector<std::uint16_t> words = map_densities(scan.values, map);
    if (words.size() != fuzz_grid.words()) return "map_densities gave " + std::to_string(words.size()) + " words";
    if (const int w = largest_density(words); w > 4095) return "density " + std::to_string(w) + " above 4095";
    return {};
}

std::string clean_up(const std::string& folder, std::string broken)
{
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) fs::remove_all(entry.path(), ec);
    return broken;
}

}  // namespace

std::string run_dicom_case(const std::uint8_t* data, std::size_t size, const std::string& folder)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string_view marker = next_file_marker;
    const fs::path series = fs::path(folder) / "series";
    fs::create_directory(series);
    std::size_t start = 0;
    for (int k = 0; k < most_dicom_files && start <= bytes.size(); ++k) {
        std::size_t end = bytes.find(marker, start);
        if (end == std::string_view::npos || k == most_dicom_files - 1) end = bytes.size();
        if (!write_bytes(series / ("slice" + std::to_string(k) + ".dcm"), data + start, end - start))
            return clean_up(folder, "harness: cannot write into " + series.string());
        start = end + marker.size();
    }
    return clean_up(folder, check_import(series.string()));
}

std::string run_nifti_case(const std::uint8_t* data, std::size_t size, const std::string& folder)
{
    const int format = size > 0 ? data[0] % 4 : 0;
    const int param = size > 1 ? data[1] : 0;
    const std::uint8_t* content = data + std::min<std::size_t>(size, 2);
    const std::size_t length = size - std::min<std::size_t>(size, 2);
    const fs::path base(folder);
    fs::path input;
    bool written = false;
    switch (format) {
    case 0:
        input = base / "scan.nii";
        written = write_bytes(input, content, length);
        break;
    case 1:
    case 2:
        input = base / "scan.nii.gz";
        written = write_gzip(input, content, length);
        if (written && format == 2) {
            std::error_code ec;
            fs::resize_file(input, fs::file_size(input) * std::uintmax_t(param + 1) / 257, ec);
            written = !ec;
        }
        break;
    default: {
        const std::size_t header = std::min(length, nifti_header_bytes + param % 16);
        input = base / "scan.hdr";
        written =
            write_bytes(input, content, header) && write_bytes(base / "scan.img", content + header, length - header);
        break;
    }
    }
    if (!written) return clean_up(folder, "harness: cannot write " + input.string());
    return clean_up(folder, check_import(input.string()));
}

namespace {

std::string run_text_case(const std::uint8_t* data, std::size_t size, const std::string& folder, const char* attached,
                          const char* detached)
{
    const bool one_file = size > 0 && (data[0] & 1);
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::size_t start = std::min<std::size_t>(size, 1);
    std::size_t cut = bytes.find(next_file_marker, start);
    if (cut == std::string_view::npos) cut = size;
    const std::size_t rest = std::min(size, cut + std::strlen(next_file_marker));
    const fs::path base(folder);
    const fs::path input = base / (one_file ? attached : detached);
    const bool written =
        one_file
            ? write_bytes(input, data + start, cut - start) &&
                  [&] {
                      std::ofstream out(input, std::ios::binary | std::ios::app);
                      out.write(reinterpret_cast<const char*>(data + rest), std::streamsize(size - rest));
                      return bool(out.flush());
                  }()
            : write_bytes(input, data + start, cut - start) && write_bytes(base / "scan.raw", data + rest, size - rest);
    if (!written) return clean_up(folder, "harness: cannot write " + input.string());
    return clean_up(folder, check_import(input.string()));
}

}  // namespace

std::string run_nrrd_case(const std::uint8_t* data, std::size_t size, const std::string& folder)
{
    return run_text_case(data, size, folder, "scan.nrrd", "scan.nhdr");
}

std::string run_metaimage_case(const std::uint8_t* data, std::size_t size, const std::string& folder)
{
    return run_text_case(data, size, folder, "scan.mha", "scan.mhd");
}
