// Reading a scan with ITK and resampling it onto the viewer's slice grid.
// The only translation unit of crane-import that includes ITK.
#include "import.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <sstream>

#include <gdcmTrace.h>
#include <zlib.h>

#include <itkGDCMImageIO.h>
#include <itkGDCMSeriesFileNames.h>
#include <itkImage.h>
#include <itkImageFileReader.h>
#include <itkImageIOFactory.h>
#include <itkImageSeriesReader.h>
#include <itkLinearInterpolateImageFunction.h>
#include <itkMetaDataObject.h>
#include <itkResampleImageFilter.h>

namespace fs = std::filesystem;

namespace {

using Volume = itk::Image<float, 3>;

// Raised anywhere below and turned into an ImportFailure by read_scan.
struct ScanError {
    ImportFailure failure;
};

[[noreturn]] void fail(const std::string& file, const std::string& reason, std::vector<std::string> series = {})
{
    throw ScanError{{file, reason, std::move(series)}};
}

// Runs of white space (ITK's messages span lines) become one space.
std::string one_line(const std::string& text)
{
    std::string line;
    for (const char c : text) {
        if (std::isspace(static_cast<unsigned char>(c))) {
            if (!line.empty() && line.back() != ' ') line += ' ';
        } else {
            line += c;
        }
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line;
}

// ITK's description without its "ITK ERROR: Class(0x...): " prefix.
std::string itk_reason(const itk::ExceptionObject& e)
{
    std::string text = one_line(e.GetDescription());
    const std::string tag = "ITK ERROR: ";
    if (text.rfind(tag, 0) == 0) {
        const auto end = text.find("): ");
        text = end == std::string::npos ? text.substr(tag.size()) : text.substr(end + 3);
    }
    return text.empty() ? "unreadable" : text;
}

// Runs step, naming file in any ITK failure.
template <class Step>
auto naming_file(const std::string& file, Step step)
{
    try {
        return step();
    } catch (const itk::ExceptionObject& e) {
        fail(file, itk_reason(e));
    }
}

void report_progress(itk::ProcessObject* filter, const char* stage, const ImportProgress& progress)
{
    if (!progress) return;
    filter->AddObserver(itk::ProgressEvent(),
                        [filter, stage, progress](const itk::EventObject&) { progress(stage, filter->GetProgress()); });
}

// GDCM prints its warnings and errors on standard error, several lines
// each. They are collected here instead: one of them tells of a truncated
// file that GDCM otherwise reads without failing.
class GdcmMessages {
public:
    GdcmMessages() : warnings_were_on_(gdcm::Trace::GetWarningFlag()) { gdcm::Trace::SetStream(text_); }
    ~GdcmMessages()
    {
        gdcm::Trace::SetStream(std::cerr);
        gdcm::Trace::SetWarning(warnings_were_on_);
    }
    GdcmMessages(const GdcmMessages&) = delete;
    GdcmMessages& operator=(const GdcmMessages&) = delete;

    bool saw_incomplete_pixel_data() const { return text_.str().find("Incomplete Pixel Data") != std::string::npos; }
    // Starts afresh; GDCM's warnings are turned on again, as ITK's
    // GDCMImageIO turns them off whenever one is made.
    void listen()
    {
        text_.str({});
        gdcm::Trace::WarningOn();
    }

private:
    std::ostringstream text_;
    bool warnings_were_on_;
};

// Reads count bytes of the file from offset at; false when it ends before.
bool read_at(std::ifstream& in, std::uintmax_t at, unsigned char* into, std::size_t count)
{
    in.clear();
    in.seekg(std::streamoff(at));
    in.read(reinterpret_cast<char*>(into), std::streamsize(count));
    return std::size_t(in.gcount()) == count;
}

// The value representations GDCM knows, and those with 32-bit lengths.
constexpr char dicom_vrs[] = "AEASATCSDADSDTFDFLISLOLTOBODOFOLOVOWPNSHSLSQSSSTSVTMUCUIULUNURUSUTUV";
constexpr char dicom_long_vrs[] = "OBODOFOLOVOWSQSVUCUNURUTUV";

bool is_vr(const unsigned char* v, const char* among)
{
    for (; *among; among += 2)
        if (v[0] == among[0] && v[1] == among[1]) return true;
    return false;
}

const char* const ends_in_header = "truncated DICOM file: it ends inside its header";

// Why GDCM would assert on the group 0002 elements from offset at, or null.
const char* meta_group_fault(std::ifstream& in, std::uintmax_t size, std::uintmax_t at, bool explicit_vr)
{
    for (;;) {
        unsigned char b[12];
        if (!read_at(in, at, b, 4)) return ends_in_header;
        if ((b[0] | b[1] << 8) != 0x0002) return nullptr;
        std::uintmax_t length;
        if (!explicit_vr) {
            if (!read_at(in, at + 4, b + 4, 4)) return ends_in_header;
            length = b[4] | b[5] << 8 | b[6] << 16 | std::uintmax_t(b[7]) << 24;
            at += 8;
        } else {
            if (!read_at(in, at + 4, b + 4, 2)) return ends_in_header;
            if (b[4] == 'S' && b[5] == 'Q') return "damaged DICOM file: a sequence inside its header";
            if (is_vr(b + 4, dicom_long_vrs) || !is_vr(b + 4, dicom_vrs)) {
                if (!read_at(in, at + 6, b + 6, 6)) return ends_in_header;
                length = b[8] | b[9] << 8 | b[10] << 16 | std::uintmax_t(b[11]) << 24;
                at += 12;
            } else {
                if (!read_at(in, at + 6, b + 6, 2)) return ends_in_header;
                length = b[6] | b[7] << 8;
                at += 8;
            }
        }
        if (length == 0xFFFFFFFF) return "damaged DICOM file: an element of undefined length inside its header";
        if (length > size - at) return ends_in_header;
        at += length;
    }
}

// Debian's GDCM was built with assertions: it aborts the program while
// reading the meta information, the group 0002 elements at the start of a
// file (after "DICM" at byte 128, or from byte 0 without it), when the file
// ends inside or right after them, or when one is a sequence or has an
// undefined length. Such files are refused before GDCM sees them, with the
// reason; null for any other file. The elements are walked as GDCM reads
// them: with explicit VRs (an unknown VR is followed by a 32-bit length, as
// GDCM reads it), or implicit ones when the first element has no VR; the
// first tag of another group ends the walk.
const char* dicom_header_fault(const fs::path& file)
{
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(file, ec);
    std::ifstream in(file, std::ios::binary);
    if (ec || !in) return nullptr;
    unsigned char b[6];
    const bool preamble = read_at(in, 128, b, 4) && std::memcmp(b, "DICM", 4) == 0;
    const std::uintmax_t start = preamble ? 132 : 0;
    if (!read_at(in, start, b, 4)) return preamble ? ends_in_header : nullptr;
    if ((b[0] | b[1] << 8) != 0x0002) return nullptr;
    if (!read_at(in, start + 4, b + 4, 2)) return ends_in_header;
    return meta_group_fault(in, size, start, is_vr(b + 4, dicom_vrs));
}

void refuse_damaged_dicom_headers(const std::string& folder)
{
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec), end;
         !ec && it != end; it.increment(ec)) {
        if (const char* reason = it->is_regular_file(ec) ? dicom_header_fault(it->path()) : nullptr)
            fail(it->path().string(), reason);
    }
}

// What a reader prints on std::cerr while it runs, kept instead of shown:
// ITK's MetaImage reader reports a short read there and nowhere else.
class CerrCapture {
public:
    CerrCapture() : saved_(std::cerr.rdbuf(text_.rdbuf())) {}
    ~CerrCapture() { std::cerr.rdbuf(saved_); }
    CerrCapture(const CerrCapture&) = delete;
    CerrCapture& operator=(const CerrCapture&) = delete;

    bool saw(const char* phrase) const { return text_.str().find(phrase) != std::string::npos; }

private:
    std::ostringstream text_;
    std::streambuf* saved_;
};

std::string meta_string(const itk::MetaDataDictionary& dictionary, const char* key)
{
    std::string value;
    itk::ExposeMetaData<std::string>(dictionary, key, value);
    return value;
}

bool ends_with(const std::string& s, const std::string& tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Length of the decompressed stream, or -1 when it breaks off or is damaged.
long long gunzipped_size(const std::string& file)
{
    gzFile gz = gzopen(file.c_str(), "rb");
    if (!gz) return -1;
    std::vector<char> buffer(1 << 20);
    long long total = 0;
    int n;
    while ((n = gzread(gz, buffer.data(), unsigned(buffer.size()))) > 0) total += n;
    int status = Z_OK;
    gzerror(gz, &status);
    gzclose(gz);
    return n < 0 || (status != Z_OK && status != Z_STREAM_END) ? -1 : total;
}

// ITK's NIfTI reader leaves the voxels of a truncated file unread without
// failing. The header, as ITK read it, gives the data's offset and size;
// the data file (the .nii itself, or the .img of a pair) must hold them.
void check_nifti_complete(const itk::ImageIOBase& io, const std::string& file)
{
    const auto& dictionary = io.GetMetaDataDictionary();
    const std::string type = meta_string(dictionary, "nifti_type");
    if (type.empty()) return;
    long long needed = std::atoll(meta_string(dictionary, "bitpix").c_str()) / 8;
    const int dims = std::atoi(meta_string(dictionary, "dim[0]").c_str());
    for (int d = 1; d <= dims && d <= 7; ++d)
        needed *=
            std::max(1LL, std::atoll(meta_string(dictionary, ("dim[" + std::to_string(d) + "]").c_str()).c_str()));
    needed += std::atoll(meta_string(dictionary, "vox_offset").c_str());

    std::string data_file = io.GetFileName();
    if (type != "1") {
        for (const char* header : {".hdr", ".hdr.gz"})
            if (ends_with(data_file, header)) data_file.replace(data_file.size() - std::strlen(header), 4, ".img");
    }
    std::error_code ec;
    const long long present =
        ends_with(data_file, ".gz") ? gunzipped_size(data_file) : (long long)(fs::file_size(data_file, ec));
    if (ec || present < needed) fail(file, "truncated or damaged NIfTI file: its voxel data is incomplete");
}

std::string pixel_description(const itk::ImageIOBase& io)
{
    return itk::ImageIOBase::GetPixelTypeAsString(io.GetPixelType()) + " pixels with " +
           std::to_string(io.GetNumberOfComponents()) + " components";
}

// Grey values only: RGB, vectors and complex numbers are refused rather
// than quietly turned into a luminance.
void check_pixel_type(const itk::ImageIOBase& io, const std::string& file)
{
    if (io.GetPixelType() != itk::IOPixelEnum::SCALAR || io.GetNumberOfComponents() != 1)
        fail(file, "unsupported pixel type (" + pixel_description(io) + "): a grey-scale scan is needed");
}

// A volume needs at least two samples along each of three axes, and one
// volume only: a time series is refused.
void check_volume_shape(const itk::ImageIOBase& io, const std::string& file)
{
    const unsigned dims = io.GetNumberOfDimensions();
    if (dims < 3 || io.GetDimensions(0) < 2 || io.GetDimensions(1) < 2 || io.GetDimensions(2) < 2)
        fail(file, "a 2-D image (a single slice): a volume of several slices is needed");
    for (unsigned d = 3; d < dims; ++d)
        if (io.GetDimensions(d) > 1)
            fail(file, "a " + std::to_string(dims) + "-D image (a series of volumes): one volume is needed");
}

std::string trimmed(std::string s)
{
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
    s.erase(0, s.find_first_not_of(' '));
    return s;
}

std::string dicom_tag(itk::GDCMImageIO& io, const char* tag)
{
    std::string value;
    return io.GetValueFromTag(tag, value) ? trimmed(value) : std::string();
}

itk::GDCMImageIO::Pointer dicom_header(const std::string& file)
{
    auto io = itk::GDCMImageIO::New();
    io->SetFileName(file);
    naming_file(file, [&] { io->ReadImageInformation(); });
    return io;
}

// One line per series: UID, description and slice count.
std::vector<std::string> series_lines(itk::GDCMSeriesFileNames& names, const std::vector<std::string>& uids)
{
    std::vector<std::string> lines;
    for (const auto& uid : uids) {
        const auto& files = names.GetFileNames(uid);
        std::string description = "(unreadable)";
        try {
            description = "\"" + dicom_tag(*dicom_header(files.front()), "0008|103e") + "\"";
        } catch (const ScanError&) {
        }
        lines.push_back(uid + "  " + description + "  " + std::to_string(files.size()) +
                        (files.size() == 1 ? " slice" : " slices"));
    }
    return lines;
}

std::string choose_series(itk::GDCMSeriesFileNames& names, const std::string& folder, const std::string& wanted)
{
    const std::vector<std::string> uids = names.GetSeriesUIDs();
    if (uids.empty()) fail(folder, "no DICOM series found in this folder or below it");
    if (!wanted.empty()) {
        if (std::find(uids.begin(), uids.end(), wanted) == uids.end())
            fail(folder, "no series " + wanted + " here; the series found are:", series_lines(names, uids));
        return wanted;
    }
    if (uids.size() > 1)
        fail(folder, std::to_string(uids.size()) + " DICOM series found; choose one with --series UID:",
             series_lines(names, uids));
    return uids.front();
}

// After the series reader failed or GDCM met a truncated file: the first
// file that fails on its own, with its reason, or else the series' reason.
[[noreturn]] void fail_on_first_bad_file(const std::vector<std::string>& files, GdcmMessages& messages,
                                         const std::string& folder, const std::string& series_reason)
{
    for (const auto& file : files) {
        auto reader = itk::ImageFileReader<Volume>::New();
        reader->SetImageIO(itk::GDCMImageIO::New());
        reader->SetFileName(file);
        messages.listen();
        try {
            reader->Update();
        } catch (const itk::ExceptionObject& e) {
            fail(file, itk_reason(e));
        }
        if (messages.saw_incomplete_pixel_data()) fail(file, "truncated DICOM file: its pixel data is incomplete");
    }
    fail(folder, series_reason);
}

Volume::Pointer read_volume_file(const std::string& file, SlicedScan& scan, const ImportProgress& progress,
                                 GdcmMessages& messages);

Volume::Pointer read_dicom_folder(const std::string& folder, const std::string& wanted_uid, SlicedScan& scan,
                                  const ImportProgress& progress, GdcmMessages& messages)
{
    refuse_damaged_dicom_headers(folder);
    auto names = itk::GDCMSeriesFileNames::New();
    // Series are told apart by their UID alone, which is what --series takes.
    names->SetUseSeriesDetails(false);
    names->SetRecursive(true);
    naming_file(folder, [&] { names->SetDirectory(folder); });
    const std::string uid = choose_series(*names, folder, wanted_uid);
    // Sorted along the slice normal by ITK.
    const std::vector<std::string> files = names->GetFileNames(uid);

    auto io = dicom_header(files.front());
    check_pixel_type(*io, files.front());
    const std::string modality = dicom_tag(*io, "0008|0060");
    const std::string description = dicom_tag(*io, "0008|103e");
    if (dicom_tag(*io, "0020|0037").empty())
        scan.warnings.push_back("the files carry no Image Orientation (Patient): ITK takes them as axial");

    Volume::Pointer image;
    if (files.size() == 1) {
        // One file: a multi-frame volume, or a single slice.
        image = read_volume_file(files.front(), scan, progress, messages);
    } else {
        auto reader = itk::ImageSeriesReader<Volume>::New();
        reader->SetImageIO(io);
        reader->SetFileNames(files);
        report_progress(reader, "reading", progress);
        messages.listen();
        try {
            reader->Update();
        } catch (const itk::ExceptionObject& e) {
            fail_on_first_bad_file(files, messages, folder, itk_reason(e));
        }
        if (messages.saw_incomplete_pixel_data())
            fail_on_first_bad_file(files, messages, folder, "a file's pixel data is incomplete");
        image = reader->GetOutput();
        // Files that share one position (echoes, phases) are no volume.
        const auto& slices = *reader->GetMetaDataDictionaryArray();
        if (slices.size() == files.size() &&
            meta_string(*slices.front(), "0020|0032") == meta_string(*slices.back(), "0020|0032"))
            fail(folder, "the " + std::to_string(files.size()) + " files of series " + uid +
                             " lie at one position (echoes or phases?): not one volume");
        const auto& dictionary = image->GetMetaDataDictionary();
        double deviation = 0;
        if (itk::ExposeMetaData<double>(dictionary, "ITK_non_uniform_sampling_deviation", deviation) &&
            deviation > 0.01 * image->GetSpacing()[2])
            scan.warnings.push_back("slice positions are unevenly spaced (up to " + std::to_string(deviation) +
                                    " mm off) or slices are missing: they were stacked at equal spacing");
        if (image->GetSpacing()[2] <= 0 || files.size() != image->GetLargestPossibleRegion().GetSize()[2])
            fail(folder, "the slices of series " + uid + " do not stack into one volume");
    }

    scan.modality = modality;
    scan.hounsfield = modality == "CT";
    const auto size = image->GetLargestPossibleRegion().GetSize();
    scan.source = "DICOM series " + uid + (description.empty() ? "" : " \"" + description + "\"") + " (" +
                  (modality.empty() ? "no modality" : modality) + ", " + std::to_string(size[2]) + " slices of " +
                  std::to_string(size[0]) + " x " + std::to_string(size[1]) + ")";
    return image;
}

Volume::Pointer read_volume_file(const std::string& file, SlicedScan& scan, const ImportProgress& progress,
                                 GdcmMessages& messages)
{
    if (const char* reason = dicom_header_fault(file)) fail(file, reason);
    itk::ImageIOBase::Pointer io = naming_file(
        file, [&] { return itk::ImageIOFactory::CreateImageIO(file.c_str(), itk::IOFileModeEnum::ReadMode); });
    if (!io) fail(file, "not a volume crane-import reads (a DICOM folder, NIfTI, NRRD or MetaImage is needed)");
    io->SetFileName(file);
    naming_file(file, [&] { io->ReadImageInformation(); });
    check_pixel_type(*io, file);
    check_volume_shape(*io, file);
    // Before the voxels are read: a header alone may declare gigabytes.
    check_nifti_complete(*io, file);

    auto reader = itk::ImageFileReader<Volume>::New();
    reader->SetImageIO(io);
    reader->SetFileName(file);
    report_progress(reader, "reading", progress);
    messages.listen();
    {
        CerrCapture chatter;
        naming_file(file, [&] { reader->Update(); });
        if (chatter.saw("not read completely")) fail(file, "truncated file: its voxel data is incomplete");
    }
    if (messages.saw_incomplete_pixel_data()) fail(file, "truncated DICOM file: its pixel data is incomplete");
    const auto& header = io->GetMetaDataDictionary();
    if (meta_string(header, "qform_code") == "0" && meta_string(header, "sform_code") == "0")
        scan.warnings.push_back("the NIfTI header gives no orientation (qform and sform codes are 0): "
                                "ITK's default axes were taken");
    Volume::Pointer image = reader->GetOutput();

    const auto size = image->GetLargestPossibleRegion().GetSize();
    scan.source = file + " (" + std::to_string(size[0]) + " x " + std::to_string(size[1]) + " x " +
                  std::to_string(size[2]) + " voxels)";
    if (auto* dicom = dynamic_cast<itk::GDCMImageIO*>(io.GetPointer())) {
        scan.modality = dicom_tag(*dicom, "0008|0060");
        scan.hounsfield = scan.modality == "CT";
    }
    return image;
}

// The output grid in LPS: columns run right to left (+x), rows anterior to
// posterior (+y), slices superior to inferior (-z). It covers the physical
// bounding box of the scan, its 8 corners taken at the outer voxel faces:
// the larger in-plane extent spans 256 voxels and the other is centred,
// the superior-inferior extent spans 94 slices.
struct SliceGrid {
    Volume::PointType origin;
    Volume::SpacingType spacing;
    Volume::DirectionType direction;
};

SliceGrid slice_grid(const Volume& image, const std::string& file)
{
    const auto region = image.GetLargestPossibleRegion();
    double lo[3], hi[3];
    std::fill(lo, lo + 3, std::numeric_limits<double>::infinity());
    std::fill(hi, hi + 3, -std::numeric_limits<double>::infinity());
    for (int corner = 0; corner < 8; ++corner) {
        itk::ContinuousIndex<double, 3> index;
        for (int d = 0; d < 3; ++d)
            index[d] = double(region.GetIndex(d)) - 0.5 + ((corner >> d) & 1 ? double(region.GetSize(d)) : 0.0);
        Volume::PointType p;
        image.TransformContinuousIndexToPhysicalPoint(index, p);
        for (int d = 0; d < 3; ++d) {
            lo[d] = std::min(lo[d], p[d]);
            hi[d] = std::max(hi[d], p[d]);
        }
    }
    const double in_plane = std::max(hi[0] - lo[0], hi[1] - lo[1]) / slice_side;
    const double between = (hi[2] - lo[2]) / slice_count;
    if (!(in_plane > 0) || !(between > 0) || !std::isfinite(in_plane) || !std::isfinite(between))
        fail(file, "the scan's geometry is degenerate (zero extent along an axis)");

    SliceGrid grid;
    grid.spacing[0] = grid.spacing[1] = in_plane;
    grid.spacing[2] = between;
    grid.origin[0] = 0.5 * (lo[0] + hi[0]) - 0.5 * (slice_side - 1) * in_plane;
    grid.origin[1] = 0.5 * (lo[1] + hi[1]) - 0.5 * (slice_side - 1) * in_plane;
    grid.origin[2] = hi[2] - 0.5 * between;
    grid.direction.SetIdentity();
    grid.direction[2][2] = -1.0;
    return grid;
}

void resample_to_slices(const Volume::Pointer& image, float air, const std::string& file, SlicedScan& scan,
                        const ImportProgress& progress)
{
    const SliceGrid grid = slice_grid(*image, file);
    auto resample = itk::ResampleImageFilter<Volume, Volume, double>::New();
    resample->SetInput(image);
    resample->SetInterpolator(itk::LinearInterpolateImageFunction<Volume, double>::New());
    resample->SetSize({{slice_side, slice_side, slice_count}});
    resample->SetOutputOrigin(grid.origin);
    resample->SetOutputSpacing(grid.spacing);
    resample->SetOutputDirection(grid.direction);
    resample->SetDefaultPixelValue(air);
    report_progress(resample, "resampling", progress);
    naming_file(file, [&] { resample->Update(); });

    const float* out = resample->GetOutput()->GetBufferPointer();
    scan.values.assign(out, out + import_words);
    scan.spacing_in_plane = grid.spacing[0];
    scan.spacing_between_slices = grid.spacing[2];
}

ImportFailure read_and_resample(const std::string& input, const std::string& series_uid, SlicedScan& scan,
                                const ImportProgress& progress, GdcmMessages& messages)
{
    try {
        std::error_code ec;
        const auto status = fs::status(input, ec);
        if (!fs::exists(status)) fail(input, "no such file or folder");
        const bool dicomdir = fs::path(input).filename() == "DICOMDIR";
        if (!series_uid.empty() && !fs::is_directory(status) && !dicomdir)
            fail(input, "--series applies to a DICOM folder only");

        Volume::Pointer image;
        if (fs::is_directory(status))
            image = read_dicom_folder(input, series_uid, scan, progress, messages);
        else if (dicomdir)
            image =
                read_dicom_folder((fs::path(input).parent_path() / ".").string(), series_uid, scan, progress, messages);
        else
            image = read_volume_file(input, scan, progress, messages);

        const auto& buffer = image->GetPixelContainer();
        scan.stats = summarize_values(buffer->GetBufferPointer(), buffer->Size());
        if (scan.modality.empty()) scan.hounsfield = looks_like_hounsfield(scan.stats);
        // Outside the scan is air: -1024 HU, or the scan's minimum.
        const float air = scan.hounsfield ? -1024.0f : float(scan.stats.min);
        resample_to_slices(image, air, input, scan, progress);
    } catch (const ScanError& e) {
        return e.failure;
    } catch (const itk::ExceptionObject& e) {
        return {input, itk_reason(e), {}};
    } catch (const std::bad_alloc&) {
        return {input, "not enough memory to read the scan", {}};
    }
    return {};
}

}  // namespace

ImportFailure read_scan(const std::string& input, const std::string& series_uid, SlicedScan& scan,
                        const ImportProgress& progress)
{
    scan = SlicedScan{};
    // ITK's warnings that matter are turned into lines of our own.
    const bool itk_warnings = itk::Object::GetGlobalWarningDisplay();
    itk::Object::GlobalWarningDisplayOff();
    GdcmMessages messages;
    const ImportFailure failure = read_and_resample(input, series_uid, scan, progress, messages);
    itk::Object::SetGlobalWarningDisplay(itk_warnings);
    if (failed(failure)) scan = SlicedScan{};
    return failure;
}
