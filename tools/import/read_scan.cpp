// From INPUT to the resampled grid: which files to read, in what order, and
// the reading itself, run in child processes (read_scan) or here
// (read_scan_here). The parent decides; the children parse.
#include "import.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <new>

#include <sys/stat.h>

#include "dicom_series.h"
#include "isolated_reader.h"
#include "itk_decode.h"
#include "volume_files.h"

namespace fs = std::filesystem;

namespace {

// What a reading step is given: one volume file, or a planned series.
struct ReadJob {
    std::string input;
    bool series = false;
    SeriesPlan plan;
    GridSize grid;
};

// Told the index of the file being decoded, before decoding it.
using FileHook = std::function<void(std::size_t)>;

// --- reading (in the child) ----------------------------------------------

std::string read_volume_file(const std::string& file, ScanStack& stack, SlicedScan& scan)
{
    if (std::string reason = check_regular_file(file); !reason.empty()) return reason;
    if (is_nifti_name(file)) return read_nifti(file, stack, scan.warnings);
    if (is_nrrd_name(file)) {
        if (std::string reason = check_nrrd(file); !reason.empty()) return reason;
        return read_itk_volume(file, stack);
    }
    if (is_metaimage_name(file)) {
        if (std::string reason = check_metaimage(file); !reason.empty()) return reason;
        return read_itk_volume(file, stack);
    }
    const DicomHeader h = read_dicom_header(file);
    if (!h.is_dicom) return "not a volume crane-import reads (a DICOM folder, NIfTI, NRRD or MetaImage is needed)";
    if (!h.fault.empty()) return h.fault;
    if (const std::string kind = dicom_non_image_kind(h); !kind.empty())
        return "a DICOM " + kind + ", not an image volume";
    if (std::string reason = dicom_pixel_fault(h); !reason.empty()) return reason;
    if (h.frames < 2) return "a 2-D image (a single slice): a volume of several slices is needed";
    scan.modality = h.modality;
    return read_itk_volume(file, stack);
}

// Decodes the planned slices; a slice at the position of the one before it
// is dropped when its pixels are the same, and refused otherwise.
ImportFailure read_series(const SeriesPlan& plan, ScanStack& stack, SlicedScan& scan, const ImportProgress& progress,
                          const FileHook& working_on)
{
    stack.columns = plan.columns;
    stack.rows = plan.rows;
    stack.column_step = plan.column_step;
    stack.row_step = plan.row_step;
    stack.plane_step = plan.plane_step;
    const std::size_t plane = std::size_t(plan.columns) * std::size_t(plan.rows);
    stack.values.resize(plane * plan.files.size());
    std::size_t kept = 0;
    for (std::size_t i = 0; i < plan.files.size(); ++i) {
        if (progress) progress("reading", double(i) / double(plan.files.size()));
        working_on(i);
        float* into = stack.values.data() + kept * plane;
        if (std::string reason = decode_dicom_slice(plan.files[i], plan.columns, plan.rows, into); !reason.empty())
            return {plan.files[i], reason, {}};
        if (plan.same_position_as_previous[i]) {
            const float* before = into - plane;
            if (!std::equal(into, into + plane, before))
                return {plan.files[i],
                        "lies at the position of " + plan.files[i - 1] +
                            " with different pixels: duplicated slices, not one volume",
                        {}};
            scan.notes.push_back(plan.files[i] + " repeats " + plan.files[i - 1] +
                                 " (same position, same pixels): one was kept");
            continue;
        }
        stack.origins.push_back(plan.origins[i]);
        ++kept;
    }
    stack.values.resize(kept * plane);
    if (progress) progress("reading", 1.0);
    return {};
}

std::string source_of_series(const SeriesPlan& plan, const ScanStack& stack)
{
    return "DICOM series " + plan.uid + (plan.description.empty() ? "" : " \"" + plan.description + "\"") + " (" +
           (plan.modality.empty() ? "no modality" : plan.modality) + ", " + std::to_string(stack.origins.size()) +
           " slices of " + std::to_string(stack.columns) + " x " + std::to_string(stack.rows) + ")";
}

// Values that are not numbers become air; a scan with nothing but one
// value has no anatomy to show.
ImportFailure check_values(const std::string& input, ScanStack& stack, SlicedScan& scan)
{
    scan.stats = summarize_values(stack.values.data(), stack.values.size());
    std::size_t not_numbers = 0;
    for (float v : stack.values) not_numbers += !std::isfinite(v);
    if (not_numbers == stack.values.size()) return {input, "no anatomy to show: every voxel is NaN or infinite", {}};
    if (!(scan.stats.max > scan.stats.min))
        return {input, "no anatomy to show: every voxel has the value " + brief_number(scan.stats.min), {}};
    scan.hounsfield = scan.modality.empty() ? looks_like_hounsfield(scan.stats) : scan.modality == "CT";
    const float air = scan.hounsfield ? -1024.0f : float(scan.stats.min);
    if (not_numbers > 0) {
        for (float& v : stack.values)
            if (!std::isfinite(v)) v = air;
        scan.warnings.push_back(std::to_string(not_numbers) + " voxels are not numbers: they were taken as air");
    }
    return {};
}

ImportFailure read_job(const ReadJob& job, SlicedScan& scan, const ImportProgress& progress, const FileHook& working_on)
{
    ScanStack stack;
    if (job.series) {
        const SeriesPlan& plan = job.plan;
        if (plan.multi_frame) {
            working_on(0);
            scan.modality = plan.modality;
            if (std::string reason = read_itk_volume(plan.files.front(), stack); !reason.empty())
                return {plan.files.front(), reason, {}};
        } else if (ImportFailure f = read_series(plan, stack, scan, progress, working_on); failed(f)) {
            return f;
        }
        scan.modality = plan.modality;
        scan.source = source_of_series(plan, stack);
        scan.notes.insert(scan.notes.begin(), plan.notes.begin(), plan.notes.end());
        scan.warnings.insert(scan.warnings.end(), plan.warnings.begin(), plan.warnings.end());
    } else {
        working_on(0);
        if (std::string reason = read_volume_file(job.input, stack, scan); !reason.empty())
            return {job.input, reason, {}};
        scan.source = job.input + " (" + std::to_string(stack.columns) + " x " + std::to_string(stack.rows) + " x " +
                      std::to_string(stack.origins.size()) + " voxels)";
    }
    const std::string where = job.series && !job.plan.multi_frame ? job.input
                              : job.series                        ? job.plan.files.front()
                                                                  : job.input;
    if (std::string reason = check_stack(stack); !reason.empty()) return {where, "unusable geometry: " + reason, {}};
    if (ImportFailure f = check_values(where, stack, scan); failed(f)) return f;
    const float air = scan.hounsfield ? -1024.0f : float(scan.stats.min);
    resample_stack(stack, air, job.grid, scan, progress);
    return {};
}

ImportFailure read_job_safely(const ReadJob& job, SlicedScan& scan, const ImportProgress& progress,
                              const FileHook& working_on)
{
    try {
        act_out_test_fault();
        return read_job(job, scan, progress, working_on);
    } catch (const std::bad_alloc&) {
        return {job.input, "not enough memory to read the scan", {}};
    } catch (const std::exception& e) {
        return {job.input, e.what(), {}};
    }
}

// --- the folder -------------------------------------------------------------

bool inside(const fs::path& folder, const fs::path& path)
{
    const auto [f, p] = std::mismatch(folder.begin(), folder.end(), path.begin(), path.end());
    return f == folder.end();
}

// Every entry below folder, in name order. Links are followed only to
// regular files inside the folder; links to folders are not followed.
// Entries that are not regular files come with the reason they are skipped.
std::vector<ScannedFile> list_folder(const std::string& folder, std::vector<std::size_t>& to_scan)
{
    std::vector<ScannedFile> files;
    std::error_code ec;
    const fs::path real_folder = fs::canonical(folder, ec);
    for (fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec), end;
         !ec && it != end; it.increment(ec)) {
        std::error_code type_ec;
        if (it->is_directory(type_ec) && !it->is_symlink(type_ec)) continue;
        ScannedFile f{it->path().string(), {}};
        if (it->is_symlink(type_ec)) {
            const fs::path target = fs::canonical(it->path(), type_ec);
            if (type_ec || !inside(real_folder, target))
                f.header.fault = "link out of the folder";
            else if (!fs::is_regular_file(target, type_ec))
                f.header.fault = "not a regular file";
        } else if (!it->is_regular_file(type_ec)) {
            f.header.fault = "not a regular file";
        }
        files.push_back(std::move(f));
    }
    std::sort(files.begin(), files.end(), [](const ScannedFile& a, const ScannedFile& b) { return a.path < b.path; });
    for (std::size_t i = 0; i < files.size(); ++i)
        if (files[i].header.fault.empty()) to_scan.push_back(i);
    return files;
}

// --- running the steps here or in children ----------------------------------

struct Steps {
    virtual ~Steps() = default;
    virtual void scan_headers(std::vector<ScannedFile>& files, const std::vector<std::size_t>& which,
                              const ImportProgress& progress) = 0;
    virtual ImportFailure read(const ReadJob& job, SlicedScan& scan, const ImportProgress& progress) = 0;
};

struct StepsHere : Steps {
    void scan_headers(std::vector<ScannedFile>& files, const std::vector<std::size_t>& which,
                      const ImportProgress& progress) override
    {
        for (std::size_t n = 0; n < which.size(); ++n) {
            if (progress) progress("scanning", double(n) / double(which.size()));
            files[which[n]].header = read_dicom_header(files[which[n]].path);
        }
    }
    ImportFailure read(const ReadJob& job, SlicedScan& scan, const ImportProgress& progress) override
    {
        return read_job_safely(job, scan, progress, [](std::size_t) {});
    }
};

template <class H, class F>
void each_field(H& h, F&& f)
{
    f(h.is_dicom), f(h.fault), f(h.transfer_syntax), f(h.sop_class), f(h.modality), f(h.description);
    f(h.series_uid), f(h.image_type), f(h.photometric), f(h.position_text), f(h.orientation_text);
    f(h.spacing_text), f(h.has_position), f(h.has_orientation), f(h.has_spacing);
    for (double& v : h.position) f(v);
    for (double& v : h.orientation) f(v);
    for (double& v : h.spacing) f(v);
    f(h.rows), f(h.columns), f(h.samples), f(h.bits_allocated), f(h.bits_stored), f(h.frames);
    f(h.per_frame_geometry), f(h.has_pixel_data), f(h.encapsulated), f(h.pixel_length), f(h.rle_segments);
    std::uint64_t n = h.fragments.size();
    f(n);
    h.fragments.resize(std::size_t(std::min<std::uint64_t>(n, 1 << 20)));
    for (auto& [offset, length] : h.fragments) f(offset), f(length);
}

template <class S, class F>
void each_field_of_scan(S& s, F&& f)
{
    f(s.spacing_in_plane), f(s.spacing_between_slices), f(s.extent[0]), f(s.extent[1]), f(s.extent[2]);
    f(s.hounsfield), f(s.modality), f(s.source), f(s.stats.min), f(s.stats.max), f(s.stats.air_fraction);
    f(s.stats.foreground_p995);
    for (auto* lines : {&s.warnings, &s.notes}) {
        std::uint64_t n = lines->size();
        f(n);
        lines->resize(std::size_t(std::min<std::uint64_t>(n, 1 << 16)));
        for (std::string& line : *lines) f(line);
    }
}

// The child's failure, with what the libraries printed folded in.
std::string with_chatter(std::string reason, const ChildEnd& end)
{
    if (sanitizer_report(end.chatter)) {
        std::fputs(end.chatter.c_str(), stderr);  // never hidden
        return "the reader crashed on this file: see the sanitizer's report above";
    }
    const std::string line = chatter_line(end.chatter);
    if (!line.empty() && reason.find(line) == std::string::npos) reason += " (the decoder said: " + line + ")";
    return reason;
}

struct StepsInChildren : Steps {
    void scan_headers(std::vector<ScannedFile>& files, const std::vector<std::size_t>& which,
                      const ImportProgress& progress) override
    {
        std::size_t next = 0;
        while (next < which.size()) {
            std::size_t current = next;
            bool current_done = false;
            const ChildEnd end = run_in_child(
                [&](RecordSender& sender) {
                    for (std::size_t n = next; n < which.size(); ++n) {
                        Wire w;
                        w.put(std::uint64_t(n));
                        sender.send('F', w.bytes);
                        DicomHeader h = read_dicom_header(files[which[n]].path);
                        each_field(h, [&](auto& v) { w.put(v); });
                        sender.send('H', w.bytes);
                    }
                },
                [&](char type, Wire& w) {
                    std::uint64_t n = 0;
                    w.get(n);
                    if (!w.ok || n >= which.size()) return;
                    current = std::size_t(n);
                    current_done = type == 'H';
                    if (type == 'H') each_field(files[which[n]].header, [&](auto& v) { w.get(v); });
                    if (progress) progress("scanning", double(n) / double(which.size()));
                });
            if (end.finished) break;
            // The file the child was on when it ended is marked and skipped.
            if (current_done) ++current;
            if (current >= which.size()) break;
            DicomHeader& h = files[which[current]].header;
            h = DicomHeader{};
            h.is_dicom = true;
            h.fault = with_chatter(end.reason, end);
            next = current + 1;
        }
    }

    ImportFailure read(const ReadJob& job, SlicedScan& scan, const ImportProgress& progress) override
    {
        ImportFailure failure;
        bool answered = false;
        std::string current = job.series ? job.plan.files.front() : job.input;
        const ChildEnd end = run_in_child(
            [&](RecordSender& sender) {
                SlicedScan result;
                const auto report = [&](const char* stage, double fraction) {
                    Wire w;
                    w.put(std::string(stage));
                    w.put(fraction);
                    sender.send('P', w.bytes);
                };
                const ImportFailure f = read_job_safely(job, result, report, [&](std::size_t i) {
                    Wire w;
                    w.put(std::uint64_t(i));
                    sender.send('F', w.bytes);
                });
                Wire w;
                w.put(f.file);
                w.put(f.reason);
                if (!failed(f)) {
                    each_field_of_scan(result, [&](auto& v) { w.put(v); });
                    w.put(std::string(reinterpret_cast<const char*>(result.values.data()),
                                      result.values.size() * sizeof(float)));
                }
                sender.send('R', w.bytes);
            },
            [&](char type, Wire& w) {
                if (type == 'P') {
                    std::string stage;
                    double fraction = 0;
                    w.get(stage), w.get(fraction);
                    if (w.ok && progress) progress(stage == "reading" ? "reading" : "resampling", fraction);
                } else if (type == 'F') {
                    std::uint64_t i = 0;
                    w.get(i);
                    if (w.ok && job.series && i < job.plan.files.size()) current = job.plan.files[std::size_t(i)];
                } else if (type == 'R') {
                    w.get(failure.file), w.get(failure.reason);
                    if (!failed(failure)) {
                        each_field_of_scan(scan, [&](auto& v) { w.get(v); });
                        std::string values;
                        w.get(values);
                        scan.values.resize(values.size() / sizeof(float));
                        std::memcpy(scan.values.data(), values.data(), scan.values.size() * sizeof(float));
                    }
                    answered = w.ok;
                }
            });
        if (!end.finished || !answered)
            return {current, with_chatter(end.finished ? "the reader sent no answer" : end.reason, end), {}};
        if (failed(failure)) failure.reason = with_chatter(failure.reason, end);
        return failure;
    }
};

// --- the whole import -------------------------------------------------------

ImportFailure import_with(Steps& steps, const std::string& input, const std::string& series_uid, SlicedScan& scan,
                          const ImportProgress& progress, GridSize grid)
{
    scan = SlicedScan{};
    struct stat info {};
    if (input.empty() || ::stat(input.c_str(), &info) != 0) return {input, "no such file or folder", {}};
    const bool folder = S_ISDIR(info.st_mode);
    const bool dicomdir = fs::path(input).filename() == "DICOMDIR";
    if (!series_uid.empty() && !folder && !dicomdir) return {input, "--series applies to a DICOM folder only", {}};
    if (!folder && !S_ISREG(info.st_mode))
        return {input, "not a regular file or folder (a device, FIFO or socket is not read)", {}};

    ReadJob job{input, folder || dicomdir, {}, grid};
    if (job.series) {
        const std::string root = folder ? input : (fs::path(input).parent_path() / ".").string();
        std::vector<std::size_t> which;
        std::vector<ScannedFile> files = list_folder(root, which);
        steps.scan_headers(files, which, progress);
        if (ImportFailure f = plan_series(input, files, series_uid, job.plan); failed(f)) return f;
    }
    ImportFailure failure = steps.read(job, scan, progress);
    if (failed(failure))
        scan = SlicedScan{};
    else if (scan.values.size() != grid.words())
        failure = {input, "the reader sent an incomplete grid", {}};
    return failure;
}

}  // namespace

ImportFailure read_scan(const std::string& input, const std::string& series_uid, SlicedScan& scan,
                        const ImportProgress& progress)
{
    StepsInChildren steps;
    return import_with(steps, input, series_uid, scan, progress, GridSize{});
}

ImportFailure read_scan_here(const std::string& input, const std::string& series_uid, SlicedScan& scan,
                             const ImportProgress& progress, GridSize grid)
{
    StepsHere steps;
    return import_with(steps, input, series_uid, scan, progress, grid);
}
