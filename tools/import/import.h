// crane-import: turns a DICOM series or a NIfTI / NRRD / MetaImage volume
// into the viewer's slice folder (headsq.1 .. headsq.94, 256 x 256 words).
//
// Output layout, as the viewer shows it: slice 1 is the most superior and
// slice 94 the most inferior; file row 0 is anterior (the face, nearest the
// viewer); file column 0 is the patient's right.
//
// This header carries no ITK types: only itk_decode.cpp includes ITK.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "volume/slice_format.h"

// Every value of the output grid: slice_count slices of slice_words.
constexpr std::size_t import_words = slice_words * slice_count;

// Why something failed: the file it concerns and a one-line reason.
// An empty reason means success.
struct ImportFailure {
    std::string file;
    std::string reason;
    // Series found when a folder holds several and none was chosen; each
    // entry is one line: UID, description and slice count.
    std::vector<std::string> series;
};

inline bool failed(const ImportFailure& f) { return !f.reason.empty(); }

// Summary of the values of the scan as read, before resampling.
struct ValueStats {
    double min = 0;
    double max = 0;
    double air_fraction = 0;     // share of voxels within -1000 +- 100
    double foreground_p995 = 0;  // 99.5th percentile above the background
};

// The output grid's size: the viewer's 256 x 256 x 94, or a smaller one
// for fuzzing, where the resampling would otherwise take all the time.
struct GridSize {
    int columns = slice_side, rows = slice_side, slices = slice_count;
    std::size_t words() const { return std::size_t(columns) * std::size_t(rows) * std::size_t(slices); }
};

// The scan resampled onto the output grid, in the scan's own units.
struct SlicedScan {
    // import_words values: slice-major, then row, then column.
    std::vector<float> values;
    // A cube field of view: the 256 columns and rows and the 94 slices span
    // the same millimetres, the largest extent of the scan.
    double spacing_in_plane = 0;  // mm, equal along rows and columns
    double spacing_between_slices = 0;
    std::array<double, 3> extent{};  // the scan's extent left-right, front-back, top-bottom (mm)
    bool hounsfield = false;         // values are CT Hounsfield units
    std::string modality;            // DICOM modality, or empty
    std::string source;              // what was read, for the console
    ValueStats stats;
    std::vector<std::string> warnings;
    std::vector<std::string> notes;  // what was skipped, for the console
};

// Called with a stage name ("reading", "resampling") and a fraction 0..1.
using ImportProgress = std::function<void(const char* stage, double fraction)>;

// Reads INPUT (a DICOM folder, a DICOMDIR, or a volume file) and resamples
// its whole field of view onto 256 x 256 x 94 voxels, in patient
// orientation. series_uid picks one DICOM series when a folder holds
// several; it may be empty. progress may be empty. Every file is parsed in
// a child process under memory and time limits (isolated_reader.h).
ImportFailure read_scan(const std::string& input, const std::string& series_uid, SlicedScan& scan,
                        const ImportProgress& progress);

// The same steps in this process, without a child: for the fuzz targets,
// whose coverage a child would not report and which libFuzzer itself runs
// under memory and time limits.
ImportFailure read_scan_here(const std::string& input, const std::string& series_uid, SlicedScan& scan,
                             const ImportProgress& progress, GridSize grid = {});

// --- values (densities.cpp) ---

// Share of the voxel values within -1000 +- 100 and the 99.5th percentile
// of the foreground: values above min + 1% of the range.
ValueStats summarize_values(const float* values, std::size_t count);

// Values that look like Hounsfield units: a minimum at or below -500 and at
// least 2% of the voxels near air (-1000).
bool looks_like_hounsfield(const ValueStats& stats);

// The linear map value -> density: HU + 1024 for CT; otherwise the minimum
// maps to 0 and the foreground's 99.5th percentile to 3000.
struct DensityMap {
    double scale = 1;
    double offset = 0;
};
DensityMap choose_density_map(bool hounsfield, const ValueStats& stats);

// Rounds scale * value + offset to the nearest integer, clamped to 0..4095.
std::vector<std::uint16_t> map_densities(const std::vector<float>& values, DensityMap map);
