// From scan values to the viewer's 12-bit densities.
#include "import.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int histogram_bins = 65536;
constexpr double foreground_share = 0.01;  // of the value range, above the minimum

bool near_air(float v) { return v >= -1100.0f && v <= -900.0f; }

}  // namespace

ValueStats summarize_values(const float* values, std::size_t count)
{
    ValueStats stats;
    double lo = INFINITY, hi = -INFINITY;
    std::size_t finite = 0, air = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const float v = values[i];
        if (!std::isfinite(v)) continue;
        ++finite;
        lo = std::min(lo, double(v));
        hi = std::max(hi, double(v));
        air += near_air(v);
    }
    if (finite == 0) return stats;
    stats.min = lo;
    stats.max = hi;
    stats.air_fraction = double(air) / double(finite);
    stats.foreground_p995 = hi;
    if (hi <= lo) return stats;

    // The percentile comes from a fine histogram of the foreground: exact to
    // 1/65536 of the range, without copying or sorting the voxels.
    const double threshold = lo + foreground_share * (hi - lo);
    const double bin_width = (hi - threshold) / histogram_bins;
    std::vector<std::size_t> histogram(histogram_bins, 0);
    std::size_t foreground = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const double v = values[i];
        if (!(v > threshold) || !std::isfinite(v)) continue;
        const int bin = std::min(histogram_bins - 1, int((v - threshold) / bin_width));
        ++histogram[bin];
        ++foreground;
    }
    if (foreground == 0) return stats;
    const double wanted = 0.995 * double(foreground);
    std::size_t seen = 0;
    for (int bin = 0; bin < histogram_bins; ++bin) {
        seen += histogram[bin];
        if (double(seen) >= wanted) {
            stats.foreground_p995 = threshold + (bin + 1) * bin_width;
            break;
        }
    }
    return stats;
}

bool looks_like_hounsfield(const ValueStats& stats) { return stats.min <= -500 && stats.air_fraction >= 0.02; }

DensityMap choose_density_map(bool hounsfield, const ValueStats& stats)
{
    if (hounsfield) return {1.0, 1024.0};
    const double range = stats.foreground_p995 - stats.min;
    const double scale = range > 0 ? 3000.0 / range : 1.0;
    return {scale, -stats.min * scale};
}

std::vector<std::uint16_t> map_densities(const std::vector<float>& values, DensityMap map)
{
    std::vector<std::uint16_t> words(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        const double d = std::floor(map.scale * double(values[i]) + map.offset + 0.5);
        // NaN fails both comparisons and lands at 0.
        words[i] = d >= 4095.0 ? 4095 : d > 0.0 ? std::uint16_t(d) : 0;
    }
    return words;
}
