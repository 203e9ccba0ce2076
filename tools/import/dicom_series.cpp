// Choosing a series and placing its slices (see dicom_series.h).
#include "dicom_series.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace {

// Up to this many times the usual spacing, a gap (missing slices) is
// filled by interpolation between the slices either side of it.
constexpr double largest_fillable_gap = 3.0;

struct Series {
    std::string uid;
    std::vector<const ScannedFile*> files;
};

std::string plural(std::size_t n, const std::string& one, const std::string& many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// "skipped: RT dose 1, not DICOM 2", or empty.
std::string skipped_line(const std::map<std::string, std::size_t>& skipped)
{
    std::string line;
    for (const auto& [kind, n] : skipped) {
        line += line.empty() ? "skipped: " : ", ";
        line += kind + " " + std::to_string(n);
    }
    return line;
}

bool makes_a_volume(const Series& s)
{
    return s.files.size() > 1 || (s.files.size() == 1 && s.files.front()->header.frames > 1);
}

std::string series_line(const Series& s)
{
    const DicomHeader& h = s.files.front()->header;
    return (s.uid.empty() ? "(no UID)" : s.uid) + "  \"" + h.description + "\"  " +
           plural(s.files.size(), "slice", "slices");
}

std::vector<std::string> listing(const std::vector<Series>& all, const std::string& skipped)
{
    std::vector<std::string> lines;
    for (const Series& s : all) lines.push_back(series_line(s));
    if (!skipped.empty()) lines.push_back(skipped);
    return lines;
}

Vec3 row_direction(const DicomHeader& h) { return {h.orientation[0], h.orientation[1], h.orientation[2]}; }
Vec3 column_direction(const DicomHeader& h) { return {h.orientation[3], h.orientation[4], h.orientation[5]}; }

// What sets one slice's geometry apart, for grouping and for messages.
std::string geometry_key(const DicomHeader& h)
{
    std::string key = std::to_string(h.columns) + " x " + std::to_string(h.rows) + " pixels";
    if (h.has_orientation) {
        char text[96];
        std::snprintf(text, sizeof text, " oriented %.3f\\%.3f\\%.3f\\%.3f\\%.3f\\%.3f", h.orientation[0] + 0.0,
                      h.orientation[1] + 0.0, h.orientation[2] + 0.0, h.orientation[3] + 0.0, h.orientation[4] + 0.0,
                      h.orientation[5] + 0.0);
        key += text;
    }
    if (h.has_spacing) key += " spaced " + brief_number(h.spacing[0]) + "\\" + brief_number(h.spacing[1]) + " mm";
    return key;
}

// Refuses a series whose slices differ in size, orientation or pixel
// spacing, naming the groups.
ImportFailure check_one_geometry(const std::string& folder, const Series& s)
{
    std::map<std::string, std::size_t> groups;
    for (const ScannedFile* f : s.files) ++groups[geometry_key(f->header)];
    if (groups.size() == 1) return {};
    std::string reason = "series " + s.uid + " mixes slices of different geometry:";
    std::string sep = " ";
    for (const auto& [key, n] : groups) reason += sep + plural(n, "slice", "slices") + " of " + key, sep = "; ";
    return {folder, reason + ": not one volume", {}};
}

ImportFailure check_orientation(const ScannedFile& f)
{
    const Vec3 r = row_direction(f.header), c = column_direction(f.header);
    if (std::abs(std::sqrt(dot(r, r)) - 1) > 0.01 || std::abs(std::sqrt(dot(c, c)) - 1) > 0.01 ||
        std::abs(dot(r, c)) > 0.01)
        return {f.path,
                "Image Orientation (Patient) \"" + f.header.orientation_text +
                    "\" is not two perpendicular unit vectors",
                {}};
    return {};
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Orders the slices along their normal and checks the spacing between them.
ImportFailure place_slices(const std::string& folder, const Series& s, SeriesPlan& plan)
{
    const DicomHeader& first = s.files.front()->header;
    const Vec3 r = row_direction(first), c = column_direction(first);
    const Vec3 normal = cross(r, c);
    std::vector<std::pair<double, const ScannedFile*>> by_depth;
    for (const ScannedFile* f : s.files) {
        const Vec3 p{f->header.position[0], f->header.position[1], f->header.position[2]};
        by_depth.emplace_back(dot(p, normal), f);
    }
    std::stable_sort(by_depth.begin(), by_depth.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    const double span = by_depth.back().first - by_depth.front().first;
    if (!(span > 1e-3))
        return {folder,
                "the " + std::to_string(s.files.size()) + " files of series " + s.uid +
                    " lie at one position (echoes or phases?): not one volume",
                {}};

    std::vector<double> gaps;
    for (std::size_t i = 1; i < by_depth.size(); ++i) {
        const double gap = by_depth[i].first - by_depth[i - 1].first;
        if (gap > 1e-3) gaps.push_back(gap);
    }
    const double usual = median(gaps);
    for (std::size_t i = 1; i < by_depth.size(); ++i) {
        const double gap = by_depth[i].first - by_depth[i - 1].first;
        if (gap <= 1e-3) continue;
        const std::string where = "between " + by_depth[i - 1].second->path + " and " + by_depth[i].second->path;
        if (gap > largest_fillable_gap * usual)
            return {folder,
                    "slices are missing " + where + ": a gap of " + brief_number(gap) + " mm, " +
                        brief_number(gap / usual) + " times the usual " + brief_number(usual) +
                        " mm, too large to fill",
                    {}};
        if (gap > 1.5 * usual)
            plan.warnings.push_back("a gap of " + brief_number(gap) + " mm " + where + " (the usual spacing is " +
                                    brief_number(usual) + " mm): filled by interpolation between them");
        else if (std::abs(gap - usual) > 0.05 * usual)
            plan.warnings.push_back("uneven slice spacing " + where + ": " + brief_number(gap) + " mm against " +
                                    brief_number(usual) + " mm; the slices are placed where they lie");
    }
    if (plan.warnings.size() > 3) {
        const std::size_t more = plan.warnings.size() - 3;
        plan.warnings.resize(3);
        plan.warnings.push_back("and " + plural(more, "more spacing irregularity", "more spacing irregularities"));
    }

    const double row_spacing = first.has_spacing ? first.spacing[0] : 1.0;
    const double column_spacing = first.has_spacing ? first.spacing[1] : 1.0;
    if (!first.has_spacing) plan.warnings.push_back("the files carry no Pixel Spacing: 1 mm was taken");
    // Pixel Spacing gives the spacing between rows first, then between columns.
    plan.column_step = column_spacing * r;
    plan.row_step = row_spacing * c;
    plan.plane_step = usual * normal;
    plan.columns = first.columns;
    plan.rows = first.rows;
    for (std::size_t i = 0; i < by_depth.size(); ++i) {
        const DicomHeader& h = by_depth[i].second->header;
        plan.files.push_back(by_depth[i].second->path);
        plan.origins.push_back({h.position[0], h.position[1], h.position[2]});
        plan.same_position_as_previous.push_back(i > 0 && by_depth[i].first - by_depth[i - 1].first <= 1e-3);
    }
    return {};
}

// The series to import: the one asked for, or the only one that makes a
// volume.
ImportFailure choose_series(const std::string& folder, const std::vector<Series>& all, const std::string& wanted,
                            const std::string& skipped, const Series*& chosen)
{
    if (all.empty())
        return {folder,
                "no DICOM series found in this folder or below it" + (skipped.empty() ? "" : " (" + skipped + ")"),
                {}};
    if (!wanted.empty()) {
        for (const Series& s : all)
            if (s.uid == wanted) return chosen = &s, ImportFailure{};
        return {folder, "no series " + wanted + " here; the series found are:", listing(all, skipped)};
    }
    std::vector<const Series*> volumes;
    for (const Series& s : all)
        if (makes_a_volume(s)) volumes.push_back(&s);
    if (all.size() == 1 || volumes.size() == 1)
        return chosen = volumes.empty() ? &all.front() : volumes.front(), ImportFailure{};
    return {folder,
            std::to_string(all.size()) + " DICOM series found; choose one with --series UID:", listing(all, skipped)};
}

}  // namespace

ImportFailure plan_series(const std::string& folder, const std::vector<ScannedFile>& files, const std::string& wanted,
                          SeriesPlan& plan)
{
    plan = SeriesPlan{};
    std::map<std::string, std::size_t> skipped;
    std::vector<Series> all;
    for (const ScannedFile& f : files) {
        const DicomHeader& h = f.header;
        if (!h.is_dicom) {
            ++skipped[h.fault.empty() ? "not DICOM" : h.fault];
            continue;
        }
        if (!h.fault.empty() && h.series_uid.empty()) return {f.path, h.fault, {}};  // it may be of any series
        if (const std::string kind = dicom_non_image_kind(h); !kind.empty() && h.fault.empty()) {
            ++skipped[kind];
            continue;
        }
        auto it = std::find_if(all.begin(), all.end(), [&](const Series& s) { return s.uid == h.series_uid; });
        if (it == all.end()) it = all.insert(all.end(), Series{h.series_uid, {}});
        it->files.push_back(&f);
    }
    const std::string skipped_text = skipped_line(skipped);
    const Series* chosen = nullptr;
    if (ImportFailure f = choose_series(folder, all, wanted, skipped_text, chosen); failed(f)) return f;
    for (const Series& s : all)
        if (&s != chosen) skipped["other series"] += s.files.size();
    if (const std::string line = skipped_line(skipped); !line.empty()) plan.notes.push_back(line);

    const Series& s = *chosen;
    for (const ScannedFile* f : s.files) {
        if (!f->header.fault.empty()) return {f->path, f->header.fault, {}};
        if (const std::string reason = dicom_pixel_fault(f->header); !reason.empty()) return {f->path, reason, {}};
    }
    const DicomHeader& first = s.files.front()->header;
    plan.uid = s.uid;
    plan.description = first.description;
    plan.modality = first.modality;
    if (s.files.size() == 1) {
        if (first.frames < 2)
            return {s.files.front()->path, "a 2-D image (a single slice): a volume of several slices is needed", {}};
        plan.multi_frame = true;
        plan.files = {s.files.front()->path};
        return {};
    }
    if (ImportFailure f = check_one_geometry(folder, s); failed(f)) return f;
    for (const ScannedFile* f : s.files) {
        if (f->header.frames > 1)
            return {f->path, "a multi-frame file inside a series of several files: not one volume", {}};
        if (!f->header.has_position || !f->header.has_orientation)
            return {f->path,
                    "the file carries no Image Position and Orientation (Patient): its slice cannot be placed",
                    {}};
        if (ImportFailure bad = check_orientation(*f); failed(bad)) return bad;
    }
    return place_slices(folder, s, plan);
}
