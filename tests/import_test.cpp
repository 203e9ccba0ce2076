// crane-import: synthetic CT scans written here with ITK, as DICOM series
// and NIfTI files, go through the importer; the slice folders it writes are
// checked for orientation, densities and safe replacement, and every kind
// of bad input for a one-line refusal that writes nothing.
#include <gtest/gtest.h>

#include "import.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/wait.h>
#include <unistd.h>

#include <itkGDCMImageIO.h>
#include <itkImageFileWriter.h>
#include <itkImageRegionIteratorWithIndex.h>
#include <itkImageSeriesWriter.h>
#include <itkMetaDataObject.h>
#include <itkRGBPixel.h>

namespace fs = std::filesystem;

namespace {

using ShortVolume = itk::Image<short, 3>;

// The phantom, in LPS millimetres: air, a water ellipsoid (the head) and a
// dense ball at the patient's anterior right superior. The acquisition
// grids below are centred on the origin, and so is the output grid.
constexpr double marker[3] = {-82.0, -62.5, 60.0};
constexpr double marker_radius = 12.0;

short phantom_hu(const ShortVolume::PointType& p)
{
    const double dx = p[0] - marker[0], dy = p[1] - marker[1], dz = p[2] - marker[2];
    if (dx * dx + dy * dy + dz * dz <= marker_radius * marker_radius) return 2000;
    const double e = (p[0] / 70) * (p[0] / 70) + (p[1] / 85) * (p[1] / 85) + (p[2] / 80) * (p[2] / 80);
    return e <= 1 ? 40 : -1000;
}

// A coronal acquisition with reversed axes: columns run towards the
// patient's right, rows towards the feet, slices towards the face.
// 240 (L-R) x 200 (A-P) x 188 (S-I) mm; the marker sits on a voxel centre.
// tilt_deg turns the grid about the S-I axis and then about L-R.
ShortVolume::Pointer phantom_volume(double tilt_deg = 0, int slices = 40,
                                    short (*hu)(const ShortVolume::PointType&) = phantom_hu)
{
    const double t = tilt_deg * M_PI / 180, c = std::cos(t), s = std::sin(t);
    ShortVolume::DirectionType turn_z, turn_x, axes;
    turn_z.SetIdentity();
    turn_x.SetIdentity();
    turn_z[0][0] = c, turn_z[0][1] = -s, turn_z[1][0] = s, turn_z[1][1] = c;
    const double c2 = std::cos(t / 2), s2 = std::sin(t / 2);
    turn_x[1][1] = c2, turn_x[1][2] = -s2, turn_x[2][1] = s2, turn_x[2][2] = c2;
    axes.Fill(0);
    axes[0][0] = -1, axes[2][1] = -1, axes[1][2] = -1;

    auto image = ShortVolume::New();
    image->SetRegions(ShortVolume::SizeType{{60, 47, itk::SizeValueType(slices)}});
    image->SetSpacing(ShortVolume::SpacingType(std::vector<double>{4, 4, 5}.data()));
    image->SetDirection(turn_z * turn_x * axes);
    image->SetOrigin(ShortVolume::PointType());
    ShortVolume::PointType far;
    image->TransformIndexToPhysicalPoint({{59, 46, slices - 1}}, far);
    ShortVolume::PointType origin;
    for (int d = 0; d < 3; ++d) origin[d] = -far[d] / 2;
    image->SetOrigin(origin);
    image->Allocate();
    for (itk::ImageRegionIteratorWithIndex<ShortVolume> it(image, image->GetLargestPossibleRegion()); !it.IsAtEnd();
         ++it) {
        ShortVolume::PointType p;
        image->TransformIndexToPhysicalPoint(it.GetIndex(), p);
        it.Set(hu(p));
    }
    return image;
}

struct SeriesTags {
    std::string uid = "1.2.826.0.1.3680043.9.7433.1";
    std::string description = "head";
    std::string modality = "CT";
    bool rescale = true;  // stored = (HU + 1024) / 2
};

void write_dicom_series(const ShortVolume::Pointer& image, const fs::path& folder, const SeriesTags& tags)
{
    fs::create_directories(folder);
    const auto size = image->GetLargestPossibleRegion().GetSize();
    const auto& d = image->GetDirection();
    std::vector<itk::MetaDataDictionary> dictionaries(size[2]);
    itk::ImageSeriesWriter<ShortVolume, itk::Image<short, 2>>::DictionaryArrayType pointers;
    std::vector<std::string> files;
    for (unsigned k = 0; k < size[2]; ++k) {
        ShortVolume::PointType p;
        image->TransformIndexToPhysicalPoint({{0, 0, k}}, p);
        std::ostringstream position, orientation;
        position.precision(10);
        orientation.precision(10);
        position << p[0] << '\\' << p[1] << '\\' << p[2];
        orientation << d[0][0] << '\\' << d[1][0] << '\\' << d[2][0] << '\\' << d[0][1] << '\\' << d[1][1] << '\\'
                    << d[2][1];
        auto& dict = dictionaries[k];
        const auto set = [&dict](const char* tag, const std::string& value) {
            itk::EncapsulateMetaData<std::string>(dict, tag, value);
        };
        set("0008|0016", tags.modality == "CT" ? "1.2.840.10008.5.1.4.1.1.2" : "1.2.840.10008.5.1.4.1.1.4");
        set("0008|0018", tags.uid + "." + std::to_string(k + 1));
        set("0008|0060", tags.modality);
        set("0008|103e", tags.description);
        set("0020|000d", "1.2.826.0.1.3680043.9.7433.99");
        set("0020|000e", tags.uid);
        set("0020|0013", std::to_string(k + 1));
        set("0020|0032", position.str());
        set("0020|0037", orientation.str());
        set("0028|0004", "MONOCHROME2");
        if (tags.rescale) {
            set("0028|1052", "-1024");
            set("0028|1053", "2");
        }
        pointers.push_back(&dict);
        files.push_back((folder / ("slice" + std::to_string(k) + ".dcm")).string());
    }
    auto io = itk::GDCMImageIO::New();
    io->KeepOriginalUIDOn();
    auto writer = itk::ImageSeriesWriter<ShortVolume, itk::Image<short, 2>>::New();
    writer->SetInput(image);
    writer->SetImageIO(io);
    writer->SetFileNames(files);
    writer->SetMetaDataDictionaryArray(&pointers);
    writer->Update();
}

template <class Image>
void write_image(const typename Image::Pointer& image, const fs::path& file)
{
    auto writer = itk::ImageFileWriter<Image>::New();
    writer->SetInput(image);
    writer->SetFileName(file.string());
    writer->Update();
}

struct ImportRun {
    int status;
    std::string out, err;
};

std::string slurp(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::uint16_t> read_slice_folder(const fs::path& folder)
{
    std::vector<std::uint16_t> words;
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), slice_count);
    for (int n = 1; n <= slice_count; ++n) {
        const std::string bytes = slurp(slice_path(folder.string(), n));
        EXPECT_EQ(bytes.size(), slice_bytes);
        for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
            words.push_back(std::uint16_t(decode_word(reinterpret_cast<const unsigned char*>(&bytes[i]))));
    }
    return words;
}

std::uint16_t at(const std::vector<std::uint16_t>& words, int slice_index, int row, int col)
{
    return words.at((std::size_t(slice_index) * slice_side + row) * slice_side + col);
}

// Density-weighted centre of the marker, against where the layout puts
// it: column 0 at the patient's right, row 0 anterior, slice 1 superior,
// the grid centred on the scan's centre.
template <class Values>
void expect_marker_in_place(const Values& v, double in_plane, double between)
{
    double sum = 0, col = 0, row = 0, slice = 0;
    for (int k = 0; k < slice_count; ++k)
        for (int r = 0; r < slice_side; ++r)
            for (int c = 0; c < slice_side; ++c) {
                const double w = std::max(0.0, double(v[(std::size_t(k) * slice_side + r) * slice_side + c]) - 1500.0);
                sum += w, col += w * c, row += w * r, slice += w * k;
            }
    ASSERT_GT(sum, 0);
    EXPECT_NEAR(col / sum, 127.5 + marker[0] / in_plane, 1.0);
    EXPECT_NEAR(row / sum, 127.5 + marker[1] / in_plane, 1.0);
    EXPECT_NEAR(slice / sum, 46.5 - marker[2] / between, 1.0);
}

class Import : public ::testing::Test {
protected:
    fs::path dir;

    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("crane-import-test-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    ImportRun run_import(const std::string& args)
    {
        const std::string command =
            "cd '" + dir.string() + "' && '" CRANE_IMPORT_BIN "' " + args + " >stdout.txt 2>stderr.txt </dev/null";
        const int status = std::system(command.c_str());
        ImportRun run{WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(dir / "stdout.txt"),
                      slurp(dir / "stderr.txt")};
        fs::remove(dir / "stdout.txt");
        fs::remove(dir / "stderr.txt");
        return run;
    }

    // An import that must fail with one line naming file, leaving nothing
    // behind in the test folder but what was there.
    void expect_refusal(const std::string& args, const std::string& file, const std::string& reason, int status = 1)
    {
        SCOPED_TRACE("crane-import " + args);
        const auto before = std::distance(fs::directory_iterator(dir), fs::directory_iterator());
        const ImportRun run = run_import(args);
        EXPECT_EQ(run.status, status) << run.err;
        EXPECT_EQ(run.err.rfind("crane-import: " + file + ": ", 0), 0u) << run.err;
        EXPECT_NE(run.err.find(reason), std::string::npos) << run.err;
        EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), before);
    }
};

TEST_F(Import, FlippedCoronalCtSeriesLandsInPatientOrientationAsHuPlus1024)
{
    write_dicom_series(phantom_volume(), dir / "ct", {});
    const ImportRun run = run_import("ct");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("crane-import: spacing 0.94 x 0.94 mm in-plane, 2.55 mm between slices: a cube of 240 mm "
                           "around the scan's 240 x 200 x 188 mm\n"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("HU + 1024"), std::string::npos);
    const auto words = read_slice_folder(dir / "fullHead");
    ASSERT_EQ(words.size(), import_words);
    EXPECT_LE(*std::max_element(words.begin(), words.end()), 4095);
    // A cube of 240 mm: 256 columns and 94 slices span the same width.
    expect_marker_in_place(words, 240.0 / 256, 240.0 / 94);
    EXPECT_EQ(at(words, 46, 128, 128), 40 + 1024);  // inside the head
    EXPECT_EQ(at(words, 12, 30, 5), -1000 + 1024);  // air inside the scan
    EXPECT_EQ(at(words, 47, 5, 128), 0);            // padding in front of the scan
    EXPECT_EQ(at(words, 47, 250, 128), 0);          // and behind it
    EXPECT_EQ(at(words, 2, 128, 128), 0);           // and above it
    EXPECT_EQ(at(words, 23, 61, 40), 2000 + 1024);  // the marker's core

    // The same volume as NIfTI gives the same slices.
    write_image<ShortVolume>(phantom_volume(), dir / "ct.nii.gz");
    ASSERT_EQ(run_import("ct.nii.gz --out nifti").status, 0);
    const auto from_nifti = read_slice_folder(dir / "nifti");
    ASSERT_EQ(from_nifti.size(), words.size());
    int worst = 0;
    for (std::size_t i = 0; i < words.size(); ++i)
        worst = std::max(worst, std::abs(int(words[i]) - int(from_nifti[i])));
    EXPECT_LE(worst, 1);
}

TEST_F(Import, ObliqueSeriesIsResampledByItsOwnGeometry)
{
    write_dicom_series(phantom_volume(30), dir / "ct", {});
    SlicedScan scan;
    const ImportFailure failure = read_scan((dir / "ct").string(), "", scan, {});
    ASSERT_FALSE(failed(failure)) << failure.file << ": " << failure.reason;
    EXPECT_TRUE(scan.hounsfield);
    EXPECT_GT(scan.spacing_in_plane, 240.0 / 256);  // the turned box is wider
    std::vector<float> hu = scan.values;
    for (float& v : hu) v += 1024;  // the centroid weights densities above 1500
    expect_marker_in_place(hu, scan.spacing_in_plane, scan.spacing_between_slices);
}

TEST_F(Import, OtherModalitiesAreScaledToTheirForeground)
{
    write_dicom_series(
        phantom_volume(0, 40, [](const ShortVolume::PointType& p) { return short(phantom_hu(p) / 4 + 250); }),
        dir / "mr", {.modality = "MR", .rescale = false});
    const ImportRun run = run_import("mr");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("MR values are not Hounsfield units"), std::string::npos) << run.out;
    const auto words = read_slice_folder(dir / "fullHead");
    EXPECT_NEAR(at(words, 46, 128, 128), 3000, 15);  // the head fills the foreground
    EXPECT_EQ(at(words, 12, 30, 5), 0);              // the minimum
    EXPECT_EQ(at(words, 23, 61, 40), 4095);          // brighter than the 99.5th percentile
}

TEST_F(Import, SeveralSeriesAreListedAndOneIsChosenByUid)
{
    write_dicom_series(phantom_volume(), dir / "study" / "a", {.uid = "1.2.3.4.1", .description = "thin"});
    write_dicom_series(phantom_volume(0, 20), dir / "study" / "b", {.uid = "1.2.3.4.2", .description = "thick"});
    expect_refusal("study", "study", "2 DICOM series found; choose one with --series UID");
    const ImportRun listed = run_import("study");
    EXPECT_NE(listed.err.find("1.2.3.4.1  \"thin\"  40 slices"), std::string::npos) << listed.err;
    EXPECT_NE(listed.err.find("1.2.3.4.2  \"thick\"  20 slices"), std::string::npos) << listed.err;
    expect_refusal("study --series 1.2.3.4.9", "study", "no series 1.2.3.4.9 here");

    const ImportRun chosen = run_import("study --series 1.2.3.4.2");
    ASSERT_EQ(chosen.status, 0) << chosen.err;
    EXPECT_NE(chosen.out.find("1.2.3.4.2 \"thick\" (CT, 20 slices"), std::string::npos) << chosen.out;
}

TEST_F(Import, BadInputsAreRefusedInOneLine)
{
    expect_refusal("missing", "missing", "no such file or folder");
    fs::create_directories(dir / "empty");
    std::ofstream(dir / "empty" / "notes.txt") << "not a scan\n";
    expect_refusal("empty", "empty", "no DICOM series found");
    expect_refusal("empty/notes.txt", "empty/notes.txt", "not a volume crane-import reads");
    expect_refusal("a b", "b", "only one INPUT", 2);
    expect_refusal("--bogus x", "--bogus", "unknown option", 2);

    // A truncated slice is named.
    write_dicom_series(phantom_volume(), dir / "cut", {});
    fs::resize_file(dir / "cut" / "slice7.dcm", fs::file_size(dir / "cut" / "slice7.dcm") - 2000);
    expect_refusal("cut", "cut/slice7.dcm", "pixel data is incomplete");
    fs::resize_file(dir / "cut" / "slice9.dcm", 200);
    expect_refusal("cut", "cut/slice9.dcm", "ends inside its header");
    write_image<ShortVolume>(phantom_volume(), dir / "cut.nii");
    fs::resize_file(dir / "cut.nii", fs::file_size(dir / "cut.nii") / 2);
    expect_refusal("cut.nii", "cut.nii", "");

    // Colour pixels and single slices are not volumes to render.
    using RgbVolume = itk::Image<itk::RGBPixel<unsigned char>, 3>;
    auto rgb = RgbVolume::New();
    rgb->SetRegions(RgbVolume::SizeType{{8, 8, 8}});
    rgb->Allocate(true);
    write_image<RgbVolume>(rgb, dir / "rgb.nii");
    expect_refusal("rgb.nii", "rgb.nii", "unsupported pixel type");
    auto flat = itk::Image<short, 2>::New();
    flat->SetRegions(itk::Image<short, 2>::SizeType{{8, 8}});
    flat->Allocate(true);
    write_image<itk::Image<short, 2>>(flat, dir / "flat.nii");
    expect_refusal("flat.nii", "flat.nii", "a 2-D image");
    write_dicom_series(phantom_volume(0, 1), dir / "one", {});
    expect_refusal("one", "one/slice0.dcm", "a 2-D image");
}

TEST_F(Import, ExistingFolderIsReplacedOnlyWithForceAndOnlyBySuccess)
{
    fs::create_directories(dir / "fullHead");
    std::ofstream(dir / "fullHead" / "headsq.1") << "previous";
    write_dicom_series(phantom_volume(), dir / "ct", {});
    expect_refusal("ct", "fullHead", "already exists (use --force to replace it)");

    write_dicom_series(phantom_volume(), dir / "cut", {});
    fs::resize_file(dir / "cut" / "slice3.dcm", 1000);
    expect_refusal("cut --force", "cut/slice3.dcm", "truncated");
    EXPECT_EQ(slurp(dir / "fullHead" / "headsq.1"), "previous");

    // --force replaces a folder of slice files only.
    std::ofstream(dir / "fullHead" / "notes.txt") << "mine";
    expect_refusal("ct --force", "fullHead", "holds notes.txt, which is not a slice file");
    EXPECT_EQ(slurp(dir / "fullHead" / "notes.txt"), "mine");
    fs::remove(dir / "fullHead" / "notes.txt");

    ASSERT_EQ(run_import("ct --force").status, 0);
    EXPECT_EQ(read_slice_folder(dir / "fullHead").size(), import_words);  // exactly the 94 slices
    for (const auto& entry : fs::directory_iterator(dir))
        EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << entry.path();
}

// A real head, where Debian's mricron-data is installed: the Colin 27 MR
// template (not CT, so scaled to its foreground). Air around it, skin, the
// crown in the top slices and the nose in front.
TEST_F(Import, RealHeadFromMricronDataIsUpright)
{
    const std::string ch2 = "/usr/share/mricron/templates/ch2.nii.gz";
    if (!fs::exists(ch2)) GTEST_SKIP() << "mricron-data is not installed";
    ASSERT_EQ(run_import(ch2).status, 0);
    const auto words = read_slice_folder(dir / "fullHead");
    const auto tissue = [&](int k, int r, int c) { return at(words, k, r, c) > 300; };
    int top = 0, middle = 0;
    for (int i = 0; i < 256 * 256; ++i) top += tissue(2, i / 256, i % 256), middle += tissue(46, i / 256, i % 256);
    EXPECT_EQ(at(words, 0, 0, 0) + at(words, 93, 255, 255), 0);
    EXPECT_LT(top, middle / 20);
    EXPECT_GT(std::count_if(words.begin(), words.end(), [](auto d) { return d > 700 && d < 1500; }),
              std::ptrdiff_t(words.size() / 100));
    // How far the midline stands out of the outline at the columns 25 to
    // either side, at the front and at the back: the nose beats the occiput.
    const auto edge = [&](int c, bool front) {
        for (int i = 0; i < 256; ++i)
            if (tissue(82, front ? i : 255 - i, c)) return i;
        return 256;
    };
    const auto outstanding = [&](bool front) {
        return std::min(edge(103, front), edge(153, front)) - edge(128, front);
    };
    EXPECT_GT(outstanding(true), 2 * outstanding(false) + 4);  // about 17 against 5
}

TEST(ImportValues, HounsfieldDetectionAndClamping)
{
    std::vector<float> ct(1000, 40.0f);
    std::fill(ct.begin(), ct.begin() + 300, -1000.0f);
    ct[0] = -3024.0f;  // padding outside the reconstruction circle
    EXPECT_TRUE(looks_like_hounsfield(summarize_values(ct.data(), ct.size())));
    std::vector<float> mr(1000, 300.0f);
    std::fill(mr.begin(), mr.begin() + 300, 0.0f);
    EXPECT_FALSE(looks_like_hounsfield(summarize_values(mr.data(), mr.size())));

    const auto words = map_densities({-3024.0f, -1024.6f, -1000.0f, 0.4f, 3071.0f, 5000.0f, NAN}, {1, 1024});
    EXPECT_EQ(words, (std::vector<std::uint16_t>{0, 0, 24, 1024, 4095, 4095, 0}));
}

}  // namespace
