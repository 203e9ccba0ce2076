// crane-import INPUT [--out DIR] [--force] [--series UID]
//
// Reads a DICOM series or a NIfTI / NRRD / MetaImage volume and writes the
// slice folder the viewer loads. Status 0 on success, 1 when the input
// cannot be imported or the folder cannot be written, 2 on bad usage.
#include "import.h"

#include "volume/slice_folder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <mutex>
#include <string>

#include <unistd.h>

namespace {

const char usage_text[] = "usage: crane-import INPUT [--out DIR] [--force] [--series UID]\n"
                          "\n"
                          "Turns a scan into the slice folder the viewer loads: DIR/headsq.1 .. headsq.94.\n"
                          "INPUT is a folder holding a DICOM series (or a DICOMDIR), or a NIfTI (.nii,\n"
                          ".nii.gz), NRRD (.nrrd, .nhdr) or MetaImage (.mha, .mhd) volume.\n"
                          "\n"
                          "  --out DIR      folder to write (default: fullHead)\n"
                          "  --force        replace DIR if it already exists\n"
                          "  --series UID   the DICOM series to import when the folder holds several\n"
                          "  -h, --help     show this text\n";

struct Options {
    std::string input;
    std::string out = "fullHead";
    std::string series;
    bool force = false;
    bool help = false;
};

// Empty on success; otherwise "ARG: reason".
std::string parse_options(int argc, char** argv, Options& o)
{
    bool have_input = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&](const std::string& name, std::string& into) -> std::string {
            if (arg.size() > name.size() && arg.compare(0, name.size() + 1, name + "=") == 0) {
                into = arg.substr(name.size() + 1);
            } else if (i + 1 < argc) {
                into = argv[++i];
            } else {
                return name + ": needs a value";
            }
            return into.empty() ? name + ": needs a value" : std::string();
        };
        std::string reason;
        if (arg == "-h" || arg == "--help")
            o.help = true;
        else if (arg == "--force")
            o.force = true;
        else if (arg == "--out" || arg.rfind("--out=", 0) == 0)
            reason = value("--out", o.out);
        else if (arg == "--series" || arg.rfind("--series=", 0) == 0)
            reason = value("--series", o.series);
        else if (arg.size() > 1 && arg[0] == '-')
            reason = arg + ": unknown option";
        else if (have_input)
            reason = arg + ": only one INPUT may be given";
        else {
            o.input = arg;
            have_input = true;
        }
        if (!reason.empty()) return reason;
    }
    if (!have_input && !o.help) return "INPUT: missing";
    return {};
}

// A bar on standard error, redrawn when a new stage starts or the
// percentage grows. ITK may report from its worker threads, and a filter's
// progress may step back between its passes.
void draw_progress(const char* stage, double fraction)
{
    static std::mutex drawing;
    static std::string last_stage;
    static int last_percent = -1;
    const std::lock_guard<std::mutex> lock(drawing);
    const int percent = fraction <= 0 ? 0 : fraction >= 1 ? 100 : int(fraction * 100);
    if (stage == last_stage && percent <= last_percent) return;
    last_stage = stage;
    last_percent = percent;
    constexpr int width = 40;
    const int filled = percent * width / 100;
    std::fprintf(stderr, "\rcrane-import: %-10s [%s%s] %3d%%", stage, std::string(filled, '#').c_str(),
                 std::string(width - filled, '.').c_str(), percent);
    std::fflush(stderr);
}

void clear_progress() { std::fprintf(stderr, "\r%70s\r", ""); }

// The folder DIR would replace holds INPUT: refused, --force or not.
bool input_inside_output(const std::string& input, const std::string& out)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path real_out = fs::weakly_canonical(fs::absolute(out, ec), ec);
    const fs::path real_input = fs::weakly_canonical(fs::absolute(input, ec), ec);
    if (ec) return false;
    const auto [o, i] = std::mismatch(real_out.begin(), real_out.end(), real_input.begin(), real_input.end());
    return o == real_out.end() || (o != real_out.end() && o->empty() && std::next(o) == real_out.end());
}

}  // namespace

int main(int argc, char** argv)
{
    Options o;
    const std::string usage_error = parse_options(argc, argv, o);
    if (!usage_error.empty()) {
        std::fprintf(stderr, "crane-import: %s\n%s", usage_error.c_str(), usage_text);
        return 2;
    }
    if (o.help) {
        std::fputs(usage_text, stdout);
        return 0;
    }

    // Refused before any reading, so that a long scan is not read in vain.
    if (input_inside_output(o.input, o.out)) {
        std::fprintf(stderr, "crane-import: %s: INPUT lies inside this folder, which the import would replace\n",
                     o.out.c_str());
        return 1;
    }
    std::string reason = check_slice_folder(o.out, o.force);
    if (!reason.empty()) {
        std::fprintf(stderr, "crane-import: %s: %s\n", o.out.c_str(), reason.c_str());
        return 1;
    }

    const bool terminal = ::isatty(2);
    SlicedScan scan;
    const ImportFailure failure = read_scan(o.input, o.series, scan, terminal ? draw_progress : ImportProgress());
    if (terminal) clear_progress();
    if (failed(failure)) {
        std::fprintf(stderr, "crane-import: %s: %s\n", failure.file.c_str(), failure.reason.c_str());
        for (const auto& line : failure.series) std::fprintf(stderr, "  %s\n", line.c_str());
        return 1;
    }

    std::printf("crane-import: read %s\n", scan.source.c_str());
    for (const auto& note : scan.notes) std::printf("crane-import: %s\n", note.c_str());
    for (const auto& warning : scan.warnings) std::fprintf(stderr, "crane-import: warning: %s\n", warning.c_str());
    // The 94 slices span as many millimetres as the 256 columns: the
    // viewer's square window shows the head in its true proportions.
    const double side = scan.spacing_in_plane * slice_side;
    std::printf("crane-import: spacing %.2f x %.2f mm in-plane, %.2f mm between slices: a cube of %.0f mm "
                "around the scan's %.0f x %.0f x %.0f mm\n",
                scan.spacing_in_plane, scan.spacing_in_plane, scan.spacing_between_slices, side, scan.extent[0],
                scan.extent[1], scan.extent[2]);

    const DensityMap map = choose_density_map(scan.hounsfield, scan.stats);
    if (scan.hounsfield) {
        std::printf("crane-import: CT values: density = HU + 1024, clamped to 0..4095\n");
    } else {
        const std::string kind = scan.modality.empty() ? "values" : scan.modality + " values";
        std::printf("crane-import: %s are not Hounsfield units: scaled linearly, minimum %g -> 0, "
                    "99.5th percentile of the foreground %g -> 3000, clamped to 0..4095\n",
                    kind.c_str(), scan.stats.min, scan.stats.foreground_p995);
    }

    const std::vector<std::uint16_t> words = map_densities(scan.values, map);
    reason = write_slice_folder(
        o.out,
        [&](int n, std::uint16_t* slice) {
            std::copy_n(words.begin() + std::ptrdiff_t(n - 1) * std::ptrdiff_t(slice_words), slice_words, slice);
            return true;
        },
        o.force);
    if (!reason.empty()) {
        std::fprintf(stderr, "crane-import: %s: %s\n", o.out.c_str(), reason.c_str());
        return 1;
    }
    std::printf("crane-import: wrote %s/headsq.1 .. headsq.%d\n", o.out.c_str(), slice_count);
    return 0;
}
