// crane-import against real-world archives and hostile inputs, every input
// written here byte by byte: a series with dose, report, presentation state
// and scout beside it; mixed, gapped and duplicated slices; DICOM, NIfTI-1/2,
// NRRD and MetaImage files whose headers lie; readers that abort, crash,
// hang or talk; outputs that must not be destroyed; crane-open.
#include <gtest/gtest.h>

#include "import.h"
#include "volume/slice_format.h"

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include <fcntl.h>
#include <png.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

namespace fs = std::filesystem;

#if defined(__SANITIZE_ADDRESS__)
#define CRANE_TEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CRANE_TEST_SANITIZED 1
#endif
#endif

namespace {

// --- running the tools -------------------------------------------------------

struct ToolRun {
    int status = -1;  // exit status; 128 + N for signal N; -1 when it had to be killed
    std::string out, err;
    double seconds = 0;
    long peak_kb = 0;  // largest resident size of the tool and its reader
};

std::string slurp(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void spit(const fs::path& file, const std::string& bytes) { std::ofstream(file, std::ios::binary) << bytes; }

// Runs program with args in folder, extra environment variables set, for
// at most 60 s.
ToolRun run_tool(const fs::path& folder, const std::string& program, const std::vector<std::string>& args,
                 const std::vector<std::pair<std::string, std::string>>& environment = {})
{
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::chdir(folder.c_str()) != 0) ::_exit(126);
        const int out = ::open("stdout.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open("stderr.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int null = ::open("/dev/null", O_RDONLY);
        ::dup2(null, 0), ::dup2(out, 1), ::dup2(err, 2);
        for (const auto& [name, value] : environment) ::setenv(name.c_str(), value.c_str(), 1);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ToolRun run;
    int status = 0;
    rusage usage{};
    for (;;) {
        if (::wait4(pid, &status, WNOHANG, &usage) == pid) break;
        if (std::chrono::steady_clock::now() - start > std::chrono::seconds(60)) {
            ::kill(pid, SIGKILL);
            ::wait4(pid, &status, 0, &usage);
            status = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.peak_kb = usage.ru_maxrss;
    run.status = status == -1 ? -1 : WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.out = slurp(folder / "stdout.txt");
    run.err = slurp(folder / "stderr.txt");
    fs::remove(folder / "stdout.txt");
    fs::remove(folder / "stderr.txt");
    return run;
}

std::size_t line_count(const std::string& text) { return std::size_t(std::count(text.begin(), text.end(), '\n')); }

// --- DICOM files, byte by byte (explicit VR little endian) ------------------

std::string le16(unsigned v) { return {char(v & 0xFF), char(v >> 8 & 0xFF)}; }
std::string le32(std::uint32_t v) { return le16(v & 0xFFFF) + le16(v >> 16); }

std::string element(unsigned group, unsigned number, const char* vr, std::string value)
{
    if (value.size() % 2) value += std::strcmp(vr, "UI") == 0 ? '\0' : ' ';
    const bool long_form = std::strchr("OB OW SQ UN UT", vr[0]) && std::string("OBOWSQUNUT").find(vr) % 2 == 0;
    std::string e = le16(group) + le16(number) + vr;
    return e + (long_form ? std::string(2, '\0') + le32(std::uint32_t(value.size())) : le16(unsigned(value.size()))) +
           value;
}

constexpr const char* ct_storage = "1.2.840.10008.5.1.4.1.1.2";

struct Slice {
    std::string series = "1.2.826.0.1.3680043.9.7433.2";
    std::string sop_class = ct_storage;
    std::string modality = "CT";
    std::string image_type = "ORIGINAL\\PRIMARY\\AXIAL";
    std::string description = "head";
    int rows = 16, columns = 16;
    double z = 0;            // position along the normal of an axial slice
    std::string position{};  // overrides the axial position
    std::string orientation = "1\\0\\0\\0\\1\\0";
    std::string spacing = "2\\2";
    std::function<short(int row, int column)> hu = [](int r, int) { return short(r < 4 ? -1000 : 40); };
    int samples = 1, bits = 16, frames = 1;
    std::string photometric = "MONOCHROME2";
    std::string syntax = "1.2.840.10008.1.2.1";
    bool pixel_data = true;
    std::string pixel_element{};  // replaces the pixel data element
    std::string extra{};          // elements inserted before the pixel data
};

std::string dicom_bytes(const Slice& s, int number)
{
    const std::string instance = s.series + "." + std::to_string(number);
    const std::string meta = element(0x0002, 0x0001, "OB", std::string("\0\1", 2)) +
                             element(0x0002, 0x0002, "UI", s.sop_class) + element(0x0002, 0x0003, "UI", instance) +
                             element(0x0002, 0x0010, "UI", s.syntax);
    std::string data = element(0x0008, 0x0008, "CS", s.image_type) + element(0x0008, 0x0016, "UI", s.sop_class) +
                       element(0x0008, 0x0018, "UI", instance) + element(0x0008, 0x0060, "CS", s.modality) +
                       element(0x0008, 0x103E, "LO", s.description) +
                       element(0x0020, 0x000D, "UI", "1.2.826.0.1.3680043.9.7433.3") +
                       element(0x0020, 0x000E, "UI", s.series) + element(0x0020, 0x0013, "IS", std::to_string(number));
    if (!s.orientation.empty()) {
        char z[32];
        std::snprintf(z, sizeof z, "%g", s.z);
        data += element(0x0020, 0x0032, "DS", s.position.empty() ? "-15\\-15\\" + std::string(z) : s.position);
        data += element(0x0020, 0x0037, "DS", s.orientation);
    }
    data += element(0x0028, 0x0002, "US", le16(unsigned(s.samples))) + element(0x0028, 0x0004, "CS", s.photometric);
    if (s.frames > 1) data += element(0x0028, 0x0008, "IS", std::to_string(s.frames));
    data += element(0x0028, 0x0010, "US", le16(unsigned(s.rows))) +
            element(0x0028, 0x0011, "US", le16(unsigned(s.columns))) + element(0x0028, 0x0030, "DS", s.spacing) +
            element(0x0028, 0x0100, "US", le16(unsigned(s.bits))) +
            element(0x0028, 0x0101, "US", le16(unsigned(s.bits))) +
            element(0x0028, 0x0102, "US", le16(unsigned(s.bits - 1))) + element(0x0028, 0x0103, "US", le16(0)) +
            element(0x0028, 0x1052, "DS", "-1024") + element(0x0028, 0x1053, "DS", "1") + s.extra;
    if (s.pixel_data && !s.pixel_element.empty()) {
        data += s.pixel_element;
    } else if (s.pixel_data) {
        std::string pixels;
        for (int f = 0; f < s.frames; ++f)
            for (int r = 0; r < s.rows; ++r)
                for (int c = 0; c < s.columns; ++c) pixels += le16(unsigned(s.hu(r, c) + 1024));
        data += element(0x7FE0, 0x0010, "OW", pixels);
    }
    return std::string(128, '\0') + "DICM" + element(0x0002, 0x0000, "UL", le32(std::uint32_t(meta.size()))) + meta +
           data;
}

// An axial CT series: slices at z = 0, 2, 4 ... in folder/ct-N.dcm.
void write_series(const fs::path& folder, int count, Slice s = {}, const std::vector<int>& missing = {})
{
    fs::create_directories(folder);
    for (int k = 0; k < count; ++k) {
        if (std::find(missing.begin(), missing.end(), k) != missing.end()) continue;
        s.z = 2.0 * k;
        spit(folder / ("ct-" + std::to_string(k) + ".dcm"), dicom_bytes(s, k + 1));
    }
}

// --- NIfTI files, byte by byte ----------------------------------------------

template <class T>
void put(std::string& b, std::size_t at, T v)
{
    std::memcpy(b.data() + at, &v, sizeof v);
}

struct Nifti {
    int version = 1;
    int nx = 32, ny = 32, nz = 12, nt = 1;
    double dx = 2, dy = 2, dz = 3;
    int qform = 0, sform = 1;
    double quatern[3] = {0, 0, 0};
    double srow[3][4] = {{2, 0, 0, -31}, {0, 2, 0, -31}, {0, 0, 3, -16.5}};
    double vox_offset = -1;  // default: right after the header
    std::function<float(int, int, int)> value = [](int i, int, int) { return i < 16 ? 100.0f : 0.0f; };
};

std::string nifti_bytes(const Nifti& n)
{
    const bool two = n.version == 2;
    const std::size_t header = two ? 540 : 348, data_at = header + 4;
    std::string b(data_at, '\0');
    const short dims[8] = {short(n.nt > 1 ? 4 : 3), short(n.nx), short(n.ny), short(n.nz), short(n.nt), 1, 1, 1};
    const double pixdim[8] = {1, n.dx, n.dy, n.dz, 1, 1, 1, 1};
    const double offset = n.vox_offset < 0 ? double(data_at) : n.vox_offset;
    if (two) {
        put<std::int32_t>(b, 0, 540);
        std::memcpy(b.data() + 4, "n+2\0\r\n\032\n", 8);
        put<std::int16_t>(b, 12, 16), put<std::int16_t>(b, 14, 32);
        for (int d = 0; d < 8; ++d) put<std::int64_t>(b, 16 + 8 * d, dims[d]), put<double>(b, 104 + 8 * d, pixdim[d]);
        put<std::int64_t>(b, 168, std::int64_t(offset));
        put<std::int32_t>(b, 344, n.qform), put<std::int32_t>(b, 348, n.sform);
        for (int i = 0; i < 3; ++i) put<double>(b, 352 + 8 * i, n.quatern[i]);
        for (int i = 0; i < 3; ++i) put<double>(b, 376 + 8 * i, n.srow[i][3]);
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 4; ++c) put<double>(b, 400 + 32 * r + 8 * c, n.srow[r][c]);
    } else {
        put<std::int32_t>(b, 0, 348);
        for (int d = 0; d < 8; ++d)
            put<std::int16_t>(b, 40 + 2 * d, dims[d]), put<float>(b, 76 + 4 * d, float(pixdim[d]));
        put<std::int16_t>(b, 70, 16), put<std::int16_t>(b, 72, 32);
        put<float>(b, 108, float(offset));
        put<std::int16_t>(b, 252, std::int16_t(n.qform)), put<std::int16_t>(b, 254, std::int16_t(n.sform));
        for (int i = 0; i < 3; ++i) put<float>(b, 256 + 4 * i, float(n.quatern[i]));
        for (int i = 0; i < 3; ++i) put<float>(b, 268 + 4 * i, float(n.srow[i][3]));
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 4; ++c) put<float>(b, 280 + 16 * r + 4 * c, float(n.srow[r][c]));
        std::memcpy(b.data() + 344, "n+1\0", 4);
    }
    for (int t = 0; t < n.nt; ++t)
        for (int k = 0; k < n.nz; ++k)
            for (int j = 0; j < n.ny; ++j)
                for (int i = 0; i < n.nx; ++i) {
                    const float v = n.value(i, j, k);
                    b.append(reinterpret_cast<const char*>(&v), 4);
                }
    return b;
}

// --- the slice folder ---------------------------------------------------------

std::vector<std::uint16_t> read_slices(const fs::path& folder)
{
    std::vector<std::uint16_t> words;
    for (int n = 1; n <= slice_count; ++n) {
        const std::string bytes = slurp(slice_path(folder.string(), n));
        EXPECT_EQ(bytes.size(), slice_bytes);
        for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
            words.push_back(std::uint16_t(decode_word(reinterpret_cast<const unsigned char*>(&bytes[i]))));
    }
    return words;
}

// Density-weighted mean column of the voxels above threshold.
double mean_column(const std::vector<std::uint16_t>& words, int threshold)
{
    double sum = 0, column = 0;
    for (std::size_t i = 0; i < words.size(); ++i)
        if (words[i] > threshold) sum += 1, column += double(i % slice_side);
    return sum > 0 ? column / sum : -1;
}

std::vector<std::string> entries(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class Hostile : public ::testing::Test {
protected:
    fs::path dir;

    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("crane-hostile-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    ToolRun import(std::vector<std::string> args, const std::vector<std::pair<std::string, std::string>>& env = {})
    {
        return run_tool(dir, CRANE_IMPORT_BIN, args, env);
    }

    // One line "crane-import: FILE: ...REASON...", status 1, no folder written.
    void expect_refusal(const std::vector<std::string>& args, const std::string& file, const std::string& reason,
                        const std::vector<std::pair<std::string, std::string>>& env = {})
    {
        SCOPED_TRACE("crane-import " + args.front() + ", expecting " + reason);
        const auto before = entries(dir);
        const ToolRun run = import(args, env);
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_EQ(line_count(run.err), 1u) << run.err;
        EXPECT_EQ(run.err.rfind("crane-import: " + file + ": ", 0), 0u) << run.err;
        EXPECT_NE(run.err.find(reason), std::string::npos) << run.err;
        EXPECT_EQ(entries(dir), before);
        EXPECT_LT(run.seconds, 30);
    }
};

// --- DICOM folders as archives hold them ------------------------------------

TEST_F(Hostile, SeriesBesideDoseReportPresentationStateScoutAndStrayFiles)
{
    write_series(dir / "export", 8);
    Slice dose{.series = "1.2.9.1", .sop_class = "1.2.840.10008.5.1.4.1.1.481.2", .modality = "RTDOSE", .frames = 3};
    dose.bits = 32;  // GDCM's assertions fire on many dose files: it never sees this one
    spit(dir / "export" / "dose.dcm", dicom_bytes(dose, 1));
    spit(dir / "export" / "report.dcm",
         dicom_bytes(
             {.series = "1.2.9.2", .sop_class = "1.2.840.10008.5.1.4.1.1.88.22", .modality = "SR", .pixel_data = false},
             1));
    spit(dir / "export" / "state.dcm",
         dicom_bytes(
             {.series = "1.2.9.3", .sop_class = "1.2.840.10008.5.1.4.1.1.11.1", .modality = "PR", .pixel_data = false},
             1));
    Slice scout{.image_type = "ORIGINAL\\PRIMARY\\LOCALIZER", .orientation = "1\\0\\0\\0\\0\\-1"};
    spit(dir / "export" / "scout.dcm", dicom_bytes(scout, 99));
    spit(dir / "export" / "notes.txt", "exported by the scanner\n");
    fs::create_symlink("/etc/passwd", dir / "export" / "outside");
    ASSERT_EQ(::mkfifo((dir / "export" / "pipe").c_str(), 0600), 0);

    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"export"}, {"export", "--series", "1.2.826.0.1.3680043.9.7433.2"}}) {
        const ToolRun run = import(args);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");
        EXPECT_NE(run.out.find("(CT, 8 slices of 16 x 16)"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("skipped: RT dose 1, link out of the folder 1, not DICOM 1, not a regular file 1, "
                               "presentation state 1, scout 1, structured report 1"),
                  std::string::npos)
            << run.out;
        fs::remove_all(dir / "fullHead");
    }
}

TEST_F(Hostile, OneGeometryPerVolume)
{
    // Slices of other orientations that do not call themselves scouts.
    write_series(dir / "mixed", 6);
    spit(dir / "mixed" / "side.dcm", dicom_bytes({.orientation = "0\\1\\0\\0\\0\\-1"}, 50));
    expect_refusal({"mixed"}, "mixed",
                   "mixes slices of different geometry: 1 slice of 16 x 16 pixels oriented "
                   "0.000\\1.000\\0.000\\0.000\\0.000\\-1.000");
    write_series(dir / "sizes", 6);
    spit(dir / "sizes" / "small.dcm", dicom_bytes({.rows = 8, .columns = 8, .z = 20}, 50));
    expect_refusal({"sizes"}, "sizes", "1 slice of 8 x 8 pixels");

    // Duplicated positions: the same pixels are kept once, others refused.
    write_series(dir / "twice", 6);
    fs::copy_file(dir / "twice" / "ct-3.dcm", dir / "twice" / "ct-3-copy.dcm");
    const ToolRun kept = import({"twice"});
    ASSERT_EQ(kept.status, 0) << kept.err;
    EXPECT_NE(kept.out.find("ct-3-copy.dcm (same position, same pixels): one was kept"), std::string::npos) << kept.out;
    fs::remove_all(dir / "fullHead");
    spit(dir / "twice" / "ct-3-copy.dcm", dicom_bytes({.z = 6, .hu = [](int, int) { return short(500); }}, 77));
    expect_refusal({"twice"}, "twice/ct-3.dcm", "with different pixels: duplicated slices");
    fs::remove_all(dir / "twice");

    write_series(dir / "echoes", 3, {.z = 0});
    for (int k = 0; k < 3; ++k)
        spit(dir / "echoes" / ("ct-" + std::to_string(k) + ".dcm"),
             dicom_bytes({.hu = [k](int, int) { return short(k * 100); }}, k + 1));
    expect_refusal({"echoes"}, "echoes", "lie at one position (echoes or phases?)");
}

// A missing slice leaves a gap filled between its neighbours: everything
// away from the gap lands where the complete series puts it.
TEST_F(Hostile, MissingSlicesAreFilledWhereTheyWereOrRefusedWhenTooMany)
{
    const auto bright_top = [](int r, int) { return short(r < 8 ? 1000 : 0); };
    Slice s;
    s.hu = bright_top;
    write_series(dir / "whole", 12, s);
    ASSERT_EQ(import({"whole", "--out", "a"}).status, 0);
    write_series(dir / "gap", 12, s, {4});
    const ToolRun gapped = import({"gap", "--out", "b"});
    ASSERT_EQ(gapped.status, 0) << gapped.err;
    EXPECT_NE(gapped.err.find("warning: a gap of 4 mm between gap/ct-3.dcm and gap/ct-5.dcm"), std::string::npos)
        << gapped.err;
    const auto a = read_slices(dir / "a"), b = read_slices(dir / "b");
    // The cube is 32 mm: slice k lies at z = 11 + (46.5 - k) * 32 / 94.
    int differing_far = 0, differing_near = 0;
    for (int k = 0; k < slice_count; ++k) {
        const double z = 11 + (46.5 - k) * 32.0 / 94;
        for (std::size_t i = 0; i < slice_words; ++i) {
            const bool differs = std::abs(int(a[k * slice_words + i]) - int(b[k * slice_words + i])) > 1;
            (std::abs(z - 8) > 2.5 ? differing_far : differing_near) += differs;
        }
    }
    EXPECT_EQ(differing_far, 0);
    EXPECT_EQ(differing_near, 0);  // the slab is uniform along z: interpolation is exact here

    write_series(dir / "holes", 12, s, {4, 5, 6});
    expect_refusal({"holes"}, "holes",
                   "slices are missing between holes/ct-3.dcm and holes/ct-7.dcm: a gap of 8 mm, "
                   "4 times the usual 2 mm, too large to fill");
}

// Files whose headers would make a decoder read past its buffer, divide by
// zero, allocate gigabytes or crash are refused by our own checks first.
TEST_F(Hostile, DicomFilesWhoseHeadersLieAreRefusedBeforeDecoding)
{
    const auto series_with = [&](const std::string& name, const Slice& bad) {
        write_series(dir / name, 4);
        spit(dir / name / "ct-2.dcm", dicom_bytes(bad, 3));
    };
    Slice s{.z = 4};
    s.pixel_element = element(0x7FE0, 0x0010, "OW", std::string(200, '\1'));
    series_with("short", s);
    expect_refusal({"short"}, "short/ct-2.dcm", "its pixel data holds 200 bytes, its header declares 512");

    s.pixel_element.clear();
    s.rows = s.columns = 65535;
    s.pixel_element = element(0x7FE0, 0x0010, "OW", std::string(512, '\1'));
    series_with("huge", s);
    expect_refusal({"huge"}, "huge/ct-2.dcm", "too large: 65535 x 65535 pixels");

    Slice rle{.z = 4, .syntax = "1.2.840.10008.1.2.5"};
    const std::string item = le16(0xFFFE) + le16(0xE000);
    rle.pixel_element = le16(0x7FE0) + le16(0x0010) + "OB" + std::string(2, '\0') + le32(0xFFFFFFFF) + item + le32(0) +
                        item + le32(64) + std::string(64, '\0') + le16(0xFFFE) + le16(0xE0DD) + le32(0);
    series_with("rle", rle);
    expect_refusal({"rle"}, "rle/ct-2.dcm", "an RLE frame of 0 segments, 2 expected");

    series_with("palette", {.z = 4, .photometric = "PALETTE COLOR"});
    expect_refusal({"palette"}, "palette/ct-2.dcm", "unsupported pixel type (PALETTE COLOR)");
    series_with("bits", {.z = 4, .bits = 1});
    expect_refusal({"bits"}, "bits/ct-2.dcm", "unsupported pixel type (1-bit pixels)");
    series_with("rgb", {.z = 4, .samples = 3});
    expect_refusal({"rgb"}, "rgb/ct-2.dcm", "unsupported pixel type (3 samples per pixel)");

    Slice bomb{.z = 4};
    bomb.extra = le16(0x0029) + le16(0x1010) + "OB" + std::string(2, '\0') + le32(0xFFFFFFF0) + "tiny";
    series_with("bomb", bomb);
    expect_refusal({"bomb"}, "bomb/ct-2.dcm", "element (0029,1010) is incomplete");

    series_with("nan", {.z = 4, .spacing = "NaN\\NaN"});
    expect_refusal({"nan"}, "nan/ct-2.dcm", "Pixel Spacing \"NaN\\NaN\" is not two positive numbers");
    series_with("zero", {.z = 4, .spacing = "0\\2"});
    expect_refusal({"zero"}, "zero/ct-2.dcm", "is not two positive numbers");
    series_with("where", {.position = "1\\2\\3mm"});
    expect_refusal({"where"}, "where/ct-2.dcm", "Image Position (Patient) \"1\\2\\3mm\" is not three finite numbers");

    // A damaged file of another series does not stop the import.
    write_series(dir / "other", 4);
    spit(dir / "other" / "z.dcm",
         dicom_bytes({.series = "1.2.9.9", .z = 4, .pixel_element = element(0x7FE0, 0x0010, "OW", "xx")}, 1));
    EXPECT_EQ(import({"other", "--out", "o"}).status, 0);
}

// Whatever the reader does, the parent says one line naming the file.
TEST_F(Hostile, AReaderThatAbortsCrashesHangsOrTalksEndsInOneLine)
{
    write_series(dir / "ct", 4);
    const std::string first = "ct/ct-0.dcm";
    expect_refusal({"ct"}, first,
                   "the reader aborted on this file (the decoder said: Assertion `length < size' failed.)",
                   {{"CRANE_IMPORT_TEST_FAULT", "abort"}});
#if CRANE_TEST_SANITIZED
    // The sanitizer reports the crash in the child; the report is shown,
    // never hidden, and the last line names the file.
    const ToolRun crash = import({"ct"}, {{"CRANE_IMPORT_TEST_FAULT", "segv"}});
    EXPECT_EQ(crash.status, 1);
    EXPECT_NE(crash.err.find("ERROR: AddressSanitizer: SEGV"), std::string::npos) << crash.err;
    EXPECT_NE(crash.err.find("\ncrane-import: " + first +
                             ": the reader crashed on this file: see the sanitizer's "
                             "report above\n"),
              std::string::npos)
        << crash.err;
#else
    expect_refusal({"ct"}, first, "the reader crashed on this file (invalid memory access)",
                   {{"CRANE_IMPORT_TEST_FAULT", "segv"}});
#endif
    expect_refusal({"ct"}, first, "reading took more than 2 s: stopped",
                   {{"CRANE_IMPORT_TEST_FAULT", "hang"}, {"CRANE_IMPORT_TIME_LIMIT", "2"}});
    const ToolRun memory = import({"ct"}, {{"CRANE_IMPORT_TEST_FAULT", "memory"}});
    EXPECT_EQ(memory.status, 1);
    EXPECT_TRUE(memory.err.find("not enough memory") != std::string::npos ||
                memory.err.find("more than 2 GiB of memory") != std::string::npos)
        << memory.err;
    EXPECT_EQ(line_count(memory.err), 1u) << memory.err;
    // Chatter of a reader that succeeds is dropped.
    const ToolRun talk = import({"ct"}, {{"CRANE_IMPORT_TEST_FAULT", "chatter"}});
    EXPECT_EQ(talk.status, 0);
    EXPECT_EQ(talk.err, "");
}

// --- NIfTI ----------------------------------------------------------------------

// A bright ball at voxel (8, 16, 6): the patient's left in RAS terms when
// the sform is the plain grid.
float ball(int i, int j, int k)
{
    const double d = (i - 8) * (i - 8) + (j - 16) * (j - 16) + (k - 6) * (k - 6);
    return d < 9 ? 1000.0f : i > 2 && i < 29 && j > 2 && j < 29 ? 100.0f : 0.0f;
}

TEST_F(Hostile, NiftiOrientationFollowsTheSformAndNiftiTwoReadsLikeNiftiOne)
{
    Nifti n;
    n.value = ball;
    spit(dir / "one.nii", nifti_bytes(n));
    const ToolRun one = import({"one.nii", "--out", "one"});
    ASSERT_EQ(one.status, 0) << one.err;
    EXPECT_EQ(one.err, "");
    const auto from_one = read_slices(dir / "one");
    EXPECT_GT(mean_column(from_one, 2500), 140);  // the patient's left is on the image's right

    n.version = 2;
    spit(dir / "two.nii", nifti_bytes(n));
    const ToolRun two = import({"two.nii", "--out", "two"});
    ASSERT_EQ(two.status, 0) << two.err;
    EXPECT_EQ(read_slices(dir / "two"), from_one);

    // A qform turned half-way round about z: the sform wins, with a warning.
    n.version = 1;
    n.qform = 1;
    n.quatern[2] = 1;
    spit(dir / "both.nii", nifti_bytes(n));
    const ToolRun both = import({"both.nii", "--out", "both"});
    ASSERT_EQ(both.status, 0) << both.err;
    EXPECT_NE(both.err.find("warning: the NIfTI qform and sform disagree by up to"), std::string::npos) << both.err;
    EXPECT_EQ(read_slices(dir / "both"), from_one);
    // Without an sform the qform holds: the ball goes to the other side.
    n.sform = 0;
    spit(dir / "q.nii", nifti_bytes(n));
    ASSERT_EQ(import({"q.nii", "--out", "q"}).status, 0);
    EXPECT_LT(mean_column(read_slices(dir / "q"), 2500), 116);
    // Neither: the grid, with a warning that the orientation is unknown.
    n.qform = 0;
    spit(dir / "none.nii", nifti_bytes(n));
    const ToolRun none = import({"none.nii", "--out", "none"});
    EXPECT_EQ(none.status, 0);
    EXPECT_NE(none.err.find("the orientation is unknown"), std::string::npos) << none.err;
}

TEST_F(Hostile, NiftiValuesAndHeadersThatCannotBeTrustedAreRefused)
{
    const auto refuse = [&](const Nifti& n, const std::string& reason, int version = 1) {
        Nifti m = n;
        m.version = version;
        spit(dir / "bad.nii", nifti_bytes(m));
        expect_refusal({"bad.nii"}, "bad.nii", reason);
        fs::remove(dir / "bad.nii");
    };
    refuse({.value = [](int, int, int) { return NAN; }}, "no anatomy to show: every voxel is NaN or infinite");
    refuse({.value = [](int, int, int) { return 7.0f; }}, "no anatomy to show: every voxel has the value 7");
    refuse({.vox_offset = 3e38}, "vox_offset 3e+38 is not a byte offset");
    refuse({.dx = NAN, .qform = 1, .sform = 0}, "the voxel size nan x 2 x 3 mm is not positive and finite");
    refuse({.dz = -3, .qform = 1, .sform = 0}, "the voxel size 2 x 2 x -3 mm is not positive and finite");
    refuse({.srow = {{0, 0, 0, 0}, {0, 2, 0, 0}, {0, 0, 3, 0}}}, "the pixel spacing is zero or the axes are parallel");
    refuse({.nt = 2}, "a 4-D image (a series of volumes)", 2);
    // A huge spacing is printed briefly, not as 200 digits.
    refuse({.srow = {{1e200, 0, 0, 0}, {0, 2, 0, 0}, {0, 0, 3, 0}}}, "over a kilometre", 2);
}

// --- MetaImage and NRRD ----------------------------------------------------------

std::string metaimage(const std::string& fields, const std::string& data_file = "LOCAL")
{
    return "ObjectType = Image\n" + fields + "ElementDataFile = " + data_file + "\n";
}

TEST_F(Hostile, MetaImageAndNrrdHeadersAreCheckedBeforeItkReadsThem)
{
    std::string voxels;
    for (int i = 0; i < 16 * 16 * 8; ++i) voxels += le16(i % 16 == 8 ? 3000 : 40 + 1024 * (i % 3 == 0));
    const std::string good = "NDims = 3\nDimSize = 16 16 8\nElementSpacing = 2 2 3\nElementType = MET_USHORT\n";
    spit(dir / "good.mha", metaimage(good) + voxels);
    const ToolRun mha = import({"good.mha", "--out", "mha"});
    EXPECT_EQ(mha.status, 0) << mha.err;
    spit(dir / "good.nrrd", "NRRD0004\ntype: ushort\ndimension: 3\nsizes: 16 16 8\nencoding: raw\nendian: little\n"
                            "space: left-posterior-superior\nspace directions: (2,0,0) (0,2,0) (0,0,3)\n\n" +
                                voxels);
    const ToolRun nrrd = import({"good.nrrd", "--out", "nrrd"});
    EXPECT_EQ(nrrd.status, 0) << nrrd.err;
    EXPECT_EQ(read_slices(dir / "nrrd"), read_slices(dir / "mha"));

    const auto refuse = [&](const std::string& name, const std::string& bytes, const std::string& reason) {
        spit(dir / name, bytes);
        expect_refusal({name}, name, reason);
        fs::remove(dir / name);
    };
    refuse("ndims.mha", metaimage("NDims = -3\nDimSize = 16 16 8\nElementType = MET_USHORT\n") + voxels,
           "NDims \"-3\" is not a number from 1 to 10");
    refuse("spacing.mha",
           metaimage("NDims = 3\nDimSize = 16 16 8\nElementSpacing = 2 nan 3\nElementType = MET_USHORT\n") + voxels,
           "\"nan\" is not a finite number");
    refuse("zero.mha",
           metaimage("NDims = 3\nDimSize = 16 16 8\nElementSpacing = 2 0 3\nElementType = MET_USHORT\n") + voxels,
           "the spacing 0 mm (ElementSpacing) is not positive");
    refuse("passwd.mhd", metaimage(good, "/etc/passwd"), "its data file /etc/passwd is an absolute path");
    refuse("up.mhd", metaimage(good, "../x.raw"), "its data file ../x.raw leaves the header's folder");
    fs::create_symlink("/dev/zero", dir / "zero.raw");
    refuse("devzero.mhd", metaimage("NDims = 3\nDimSize = 100 100 100\nElementType = MET_UCHAR\n", "zero.raw"),
           "its data file zero.raw is a link out of the header's folder");
    ASSERT_EQ(::mkfifo((dir / "fifo.raw").c_str(), 0600), 0);
    refuse("fifo.mhd", metaimage(good, "fifo.raw"), "its data file fifo.raw: not a regular file");
    refuse("fifo.nhdr", "NRRD0004\ntype: ushort\ndimension: 3\nsizes: 16 16 8\nencoding: raw\ndata file: fifo.raw\n",
           "its data file fifo.raw: not a regular file");
    ASSERT_EQ(::mkfifo((dir / "input.mha").c_str(), 0600), 0);
    expect_refusal({"input.mha"}, "input.mha", "not a regular file or folder");

    // A compressed stream holding an eighth of the voxels.
    std::string packed(compressBound(uLong(voxels.size() / 8)), '\0');
    uLongf packed_size = uLongf(packed.size());
    compress(reinterpret_cast<Bytef*>(packed.data()), &packed_size, reinterpret_cast<const Bytef*>(voxels.data()),
             uLong(voxels.size() / 8));
    packed.resize(packed_size);
    refuse("eighth.mha", metaimage(good + "CompressedData = True\n") + packed,
           "its compressed voxel data holds 512 bytes, 4096 declared");
    refuse("eighth.nrrd", "NRRD0004\ntype: ushort\ndimension: 3\nsizes: 16 16 8\nencoding: gzip\n\n" + packed,
           "its compressed voxel data holds 512 bytes, 4096 declared");
    refuse("dims.nrrd", "NRRD0004\ntype: ushort\ndimension: 3\nsizes: 16 16 8x\nencoding: raw\n\n" + voxels,
           "size \"8x\" is not a whole number");
}

// Headers declaring 600^3 to 700^3 voxels over a few bytes (or a megabyte
// of compressed zeros) cost no memory: refused as too large or truncated.
TEST_F(Hostile, MemoryBombsAreRefusedWithinHalfAGigabyte)
{
    std::string zeros(1 << 20, '\0');
    std::string packed(compressBound(uLong(zeros.size())), '\0');
    uLongf packed_size = uLongf(packed.size());
    compress(reinterpret_cast<Bytef*>(packed.data()), &packed_size, reinterpret_cast<const Bytef*>(zeros.data()),
             uLong(zeros.size()));
    packed.resize(packed_size);
    spit(dir / "raw.mha", metaimage("NDims = 3\nDimSize = 700 700 700\nElementType = MET_FLOAT\n") + "tiny");
    spit(dir / "packed.mha",
         metaimage("NDims = 3\nDimSize = 600 600 600\nElementType = MET_UCHAR\nCompressedData = True\n") + packed);
    spit(dir / "bomb.nrrd", "NRRD0004\ntype: float\ndimension: 3\nsizes: 600 600 600\nencoding: raw\n\ntiny");
    std::string nii = nifti_bytes({.nx = 2, .ny = 2, .nz = 2});
    put<std::int16_t>(nii, 42, 600), put<std::int16_t>(nii, 44, 600), put<std::int16_t>(nii, 46, 600);
    spit(dir / "bomb.nii", nii);
    for (const char* file : {"raw.mha", "packed.mha", "bomb.nrrd", "bomb.nii"}) {
        SCOPED_TRACE(file);
        const ToolRun run = import({file});
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_TRUE(run.err.find("truncated") != std::string::npos || run.err.find("too large") != std::string::npos)
            << run.err;
        EXPECT_LT(run.peak_kb, 512 * 1024);
    }
}

// --- the output folder ------------------------------------------------------------

TEST_F(Hostile, ForceNeverDestroysWhatIsNotASliceFolder)
{
    fs::create_directories(dir / "proj" / "notes");
    Nifti n;
    n.value = ball;
    spit(dir / "proj" / "scan.nii", nifti_bytes(n));
    const ToolRun inside = import({"proj/scan.nii", "--out", "proj", "--force"});
    EXPECT_EQ(inside.status, 1);
    EXPECT_EQ(inside.err, "crane-import: proj: INPUT lies inside this folder, which the import would replace\n");
    EXPECT_TRUE(fs::exists(dir / "proj" / "scan.nii") && fs::exists(dir / "proj" / "notes"));

    fs::create_directories(dir / "other");
    spit(dir / "other" / "headsq.1", "old");
    spit(dir / "other" / "diary.txt", "mine");
    const ToolRun foreign = import({"proj/scan.nii", "--out", "other", "--force"});
    EXPECT_EQ(foreign.status, 1);
    EXPECT_NE(foreign.err.find("holds diary.txt, which is not a slice file"), std::string::npos) << foreign.err;
    EXPECT_EQ(slurp(dir / "other" / "diary.txt"), "mine");

    const ToolRun device = import({"proj/scan.nii", "--out", "/dev/null", "--force"});
    EXPECT_EQ(device.status, 1);
    EXPECT_EQ(device.err, "crane-import: /dev/null: exists and is not a folder\n");
}

// Interrupted at chosen instants by the shim (tests/signal_shim.c): a
// signal at the N-th fsync (during the writes) or at the exchange of the
// folders. The old folder stays whole or the new one is in place, and no
// temporary folder outlives the next run.
TEST_F(Hostile, InterruptedWritesLeaveOneCompleteFolder)
{
    // Two scans, imported in turn over the same folder.
    const std::string scans[2] = {nifti_bytes({.value = ball}),
                                  nifti_bytes({.value = [](int i, int j, int k) { return ball(31 - i, j, k); }})};
    spit(dir / "scan.nii", scans[0]);
    ASSERT_EQ(import({"scan.nii", "--out", "head"}).status, 0);
    std::vector<std::uint16_t> current = read_slices(dir / "head");
    int next = 1;

    struct Interruption {
        const char* call;
        const char* at;
        int signal;
        bool replaced;  // the new folder is in place afterwards
        bool leftover;  // a temporary folder stays until the next run
    } cases[] = {{"fsync", "40", SIGTERM, false, false},
                 {"fsync", "40", SIGKILL, false, true},
                 {"renameat2", "1", SIGKILL, false, true},
                 {"renameat2-after", "1", SIGKILL, true, true}};
    for (const Interruption& c : cases) {
        SCOPED_TRACE(std::string(c.call) + " " + std::to_string(c.signal));
        spit(dir / "scan.nii", scans[next]);
        const ToolRun run =
            import({"scan.nii", "--out", "head", "--force"}, {{"LD_PRELOAD", SIGNAL_SHIM},
                                                              {"ASAN_OPTIONS", "verify_asan_link_order=0"},
                                                              {"CRANE_SHIM_CALL", c.call},
                                                              {"CRANE_SHIM_AT", c.at},
                                                              {"CRANE_SHIM_SIGNAL", std::to_string(c.signal)}});
        EXPECT_EQ(run.status, 128 + c.signal) << run.err;
        const auto now = read_slices(dir / "head");
        EXPECT_TRUE(c.replaced ? now != current : now == current);
        EXPECT_EQ(entries(dir).size(), c.leftover ? 3u : 2u);
        // The next run replaces the folder and removes what was left.
        ASSERT_EQ(import({"scan.nii", "--out", "head", "--force"}).status, 0);
        EXPECT_EQ(entries(dir), (std::vector<std::string>{"head", "scan.nii"}));
        current = read_slices(dir / "head");
        next = 1 - next;
    }
}

TEST_F(Hostile, ConcurrentImportsEndWithOneCompleteFolder)
{
    Nifti n;
    n.value = ball;
    spit(dir / "scan.nii", nifti_bytes(n));
    std::vector<std::thread> runs;
    std::vector<int> statuses(4);
    for (int i = 0; i < 4; ++i)
        runs.emplace_back([&, i] {
            const fs::path own = dir / ("run" + std::to_string(i));
            fs::create_directories(own);
            statuses[i] = run_tool(own, CRANE_IMPORT_BIN, {"../scan.nii", "--out", "../head", "--force"}).status;
        });
    for (auto& t : runs) t.join();
    for (int s : statuses) EXPECT_EQ(s, 0);
    EXPECT_EQ(read_slices(dir / "head").size(), import_words);
    for (const auto& name : entries(dir)) EXPECT_EQ(name.find(".tmp-"), std::string::npos) << name;
}

// A full file system: one line, the old folder kept, nothing left behind.
TEST_F(Hostile, AFullFileSystemEndsInOneLine)
{
    const fs::path small = dir / "small";
    fs::create_directories(small);
    if (::geteuid() != 0 || ::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=1m") != 0)
        GTEST_SKIP() << "mounting a small tmpfs needs root";
    Nifti n;
    n.value = ball;
    spit(dir / "scan.nii", nifti_bytes(n));
    const ToolRun run = import({"scan.nii", "--out", "small/head"});
    const bool empty = fs::is_empty(small);
    ::umount(small.c_str());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(line_count(run.err), 1u) << run.err;
    EXPECT_NE(run.err.find("No space left on device"), std::string::npos) << run.err;
    EXPECT_TRUE(empty);
}

// --- proportions ----------------------------------------------------------------------

// The outline's width and height in a PNG written by crane-snapshot.
std::pair<int, int> outline_size(const fs::path& png_file)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, png_file.c_str())) return {0, 0};
    image.format = PNG_FORMAT_GRAY;
    std::vector<unsigned char> pixels(PNG_IMAGE_SIZE(image));
    png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr);
    int left = 1 << 20, right = -1, top = 1 << 20, bottom = -1;
    for (int y = 0; y < int(image.height); ++y)
        for (int x = 0; x < int(image.width); ++x)
            if (pixels[std::size_t(y) * image.width + std::size_t(x)] > 20)
                left = std::min(left, x), right = std::max(right, x), top = std::min(top, y),
                bottom = std::max(bottom, y);
    return {right - left + 1, bottom - top + 1};
}

// A ball of radius 25 mm in voxels of 1 x 1 x 3 mm, seen in the viewer's
// square window: round, not stretched.
TEST_F(Hostile, ABallWithAnisotropicVoxelsLooksRound)
{
    Nifti n{.nx = 64, .ny = 64, .nz = 22, .srow = {{1, 0, 0, -31.5}, {0, 1, 0, -31.5}, {0, 0, 3, -31.5}}};
    n.value = [](int i, int j, int k) {
        const double x = i - 31.5, y = j - 31.5, z = 3 * k - 31.5;
        return x * x + y * y + z * z <= 25 * 25 ? 1000.0f : 0.0f;
    };
    spit(dir / "ball.nii", nifti_bytes(n));
    const ToolRun run = import({"ball.nii"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("a cube of 66 mm around the scan's 64 x 64 x 66 mm"), std::string::npos) << run.out;
    const ToolRun snapshot = run_tool(dir, CRANE_SNAPSHOT_BIN, {"--size", "256x256", "--out", "ball.png"});
    ASSERT_EQ(snapshot.status, 0) << snapshot.err;
    const auto [width, height] = outline_size(dir / "ball.png");
    ASSERT_GT(width, 100);
    EXPECT_NEAR(double(height) / width, 1.0, 0.03) << width << " x " << height;
}

// --- crane-open -------------------------------------------------------------------------

TEST_F(Hostile, CraneOpenImportsOnceIntoTheCacheAndStartsTheViewerThere)
{
    Nifti n;
    n.value = ball;
    spit(dir / "scan.nii", nifti_bytes(n));
    fs::create_directories(dir / "fullHead");
    spit(dir / "fullHead" / "headsq.1", "mine");
    spit(dir / "viewer.sh", "#!/bin/sh\npwd > \"$VIEWER_LOG\"; ls fullHead | wc -l >> \"$VIEWER_LOG\"\n");
    fs::permissions(dir / "viewer.sh", fs::perms::owner_all);
    const std::vector<std::pair<std::string, std::string>> env = {{"XDG_CACHE_HOME", (dir / "cache").string()},
                                                                  {"CRANE_VIEWER", (dir / "viewer.sh").string()},
                                                                  {"VIEWER_LOG", (dir / "viewer.log").string()}};
    const ToolRun first = run_tool(dir, CRANE_OPEN_BIN, {"scan.nii"}, env);
    ASSERT_EQ(first.status, 0) << first.err;
    const std::string log = slurp(dir / "viewer.log");
    EXPECT_EQ(log.rfind((dir / "cache" / "crane").string(), 0), 0u) << log;
    EXPECT_NE(log.find("\n94\n"), std::string::npos) << log;
    EXPECT_EQ(slurp(dir / "fullHead" / "headsq.1"), "mine");

    const ToolRun again = run_tool(dir, CRANE_OPEN_BIN, {"scan.nii"}, env);
    EXPECT_EQ(again.status, 0);
    EXPECT_NE(again.out.find("scan.nii is unchanged"), std::string::npos) << again.out;
    EXPECT_EQ(slurp(dir / "viewer.log"), log);

    // A changed input gets a folder of its own.
    n.value = [](int i, int j, int k) { return ball(31 - i, j, k); };
    spit(dir / "scan.nii", nifti_bytes(n));
    struct timespec later[2] = {{0, UTIME_OMIT}, {std::time(nullptr) + 10, 0}};
    ::utimensat(AT_FDCWD, (dir / "scan.nii").c_str(), later, 0);
    const ToolRun changed = run_tool(dir, CRANE_OPEN_BIN, {"scan.nii"}, env);
    EXPECT_EQ(changed.status, 0);
    EXPECT_EQ(changed.out.find("unchanged"), std::string::npos);
    EXPECT_NE(slurp(dir / "viewer.log"), log);

    // A failed import: the importer's line, and no viewer.
    fs::remove(dir / "viewer.log");
    spit(dir / "bad.nii", "not a scan");
    const ToolRun bad = run_tool(dir, CRANE_OPEN_BIN, {"bad.nii"}, env);
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(line_count(bad.err), 1u) << bad.err;
    EXPECT_EQ(bad.err.rfind("crane-import: ", 0), 0u) << bad.err;
    EXPECT_FALSE(fs::exists(dir / "viewer.log"));
}

}  // namespace
