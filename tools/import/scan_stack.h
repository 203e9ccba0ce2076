// A scan as read, before resampling: a stack of parallel planes of samples,
// each plane with its own position, in LPS millimetres (x towards the
// patient's left, y towards the back, z towards the head). A volume file
// gives evenly spaced planes; a DICOM series gives the planes where its
// slices really lie, so that a missing slice leaves a gap rather than
// shifting the anatomy. No library types: ITK stays in read_scan.cpp.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "import.h"

using Vec3 = std::array<double, 3>;

inline Vec3 operator+(Vec3 a, Vec3 b) { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }
inline Vec3 operator-(Vec3 a, Vec3 b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
inline Vec3 operator*(double s, Vec3 a) { return {s * a[0], s * a[1], s * a[2]}; }
inline double dot(Vec3 a, Vec3 b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
inline Vec3 cross(Vec3 a, Vec3 b)
{
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

struct ScanStack {
    int columns = 0, rows = 0;  // samples per plane
    // columns * rows * origins.size() values, plane-major, then row, column.
    std::vector<float> values;
    std::vector<Vec3> origins;  // centre of sample (0, 0) of each plane
    Vec3 column_step{};         // from one column to the next
    Vec3 row_step{};            // from one row to the next
    // From one plane to the next as the planes would lie if evenly spaced:
    // it gives the half-sample border beyond the first and last planes.
    Vec3 plane_step{};
};

// Empty when the stack can be resampled: finite geometry, in-plane steps
// neither zero nor parallel, planes strictly ordered along their normal and
// values for every sample. Otherwise the reason.
std::string check_stack(const ScanStack& stack);

// Resamples the stack (linear interpolation, air outside it) onto a cube
// field of view whose side is the largest extent of the stack's bounding
// box, centred on it: columns run to the patient's left, rows to the back,
// slices from the top down. Sets values and spacings of scan.
void resample_stack(const ScanStack& stack, float air, GridSize grid, SlicedScan& scan, const ImportProgress& progress);

// A number for a message: at most 4 significant digits, never 200 of them.
std::string brief_number(double value);
