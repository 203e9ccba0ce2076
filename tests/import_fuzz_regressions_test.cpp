// What the importer's fuzz targets (fuzz/) found in crane-import, kept
// found: each fault as a test of its own, and every committed importer fuzz
// input replayed through the targets' own checks.
#include <gtest/gtest.h>

#include "fuzz_inputs.h"
#include "import.h"
#include "import_case.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string le16(unsigned v) { return {char(v & 0xFF), char(v >> 8 & 0xFF)}; }
std::string le32(std::uint32_t v) { return le16(v & 0xFFFF) + le16(v >> 16); }
std::string tag(unsigned group, unsigned element) { return le16(group) + le16(element); }

// An element with an explicit VR and a 16-bit length.
std::string element(unsigned group, unsigned element_number, const char* vr, const std::string& value)
{
    return tag(group, element_number) + vr + le16(unsigned(value.size())) + value;
}

// An element with a VR whose length has 32 bits, declared apart from the value.
std::string long_element(unsigned group, unsigned element_number, const char* vr, std::uint32_t length,
                         const std::string& value = "")
{
    return tag(group, element_number) + vr + std::string(2, '\0') + le32(length) + value;
}

// A DICOM file: preamble, "DICM", the meta information (its group length,
// the transfer syntax, then meta) and the data set.
std::string dicom_file(const std::string& meta, const std::string& data)
{
    const std::string body = element(0x0002, 0x0010, "UI", std::string("1.2.840.10008.1.2.1\0", 20)) + meta;
    return std::string(128, '\0') + "DICM" + element(0x0002, 0x0000, "UL", le32(std::uint32_t(body.size()))) + body +
           data;
}

class ImportFuzzRegressions : public testing::Test {
protected:
    fs::path dir;

    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("crane-import-fuzz-test-" + std::to_string(::getpid()) + "-" +
                                           testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
};

}  // namespace

// Debian's GDCM aborts the program (an assertion) on these meta
// information headers; the importer only refused a header cut short
// before its group length was satisfied. fuzz_import_dicom found the
// first: an element whose VR GDCM does not know, read with a 32-bit length
// that runs past the end of the file.
TEST_F(ImportFuzzRegressions, DicomHeadersThatAbortGdcmAreRefusedFirst)
{
    const std::string data = element(0x0008, 0x0060, "CS", "CT");
    const std::string ends = "truncated DICOM file: it ends inside its header";
    const struct {
        const char* what;
        std::string bytes;
        std::string reason;
    } cases[] = {
        {"unknown VR", dicom_file(tag(0x0002, 0x0013) + "1 " + std::string(2, '\0') + le32(0x000a0032) + "GDCM", data),
         ends},
        {"sequence", dicom_file(long_element(0x0002, 0x0100, "SQ", 0), data),
         "damaged DICOM file: a sequence inside its header"},
        {"undefined length", dicom_file(long_element(0x0002, 0x0102, "OB", 0xFFFFFFFF), data),
         "damaged DICOM file: an element of undefined length inside its header"},
        {"nothing after the header", dicom_file("", ""), ends},
        {"implicit header, no preamble, cut short",
         tag(0x0002, 0x0000) + le32(4) + le32(30) + tag(0x0002, 0x0010) + le32(1000) + "1.2.840.10008.1.2.1", ends},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path folder = dir / "series";
        fs::create_directories(folder);
        const fs::path file = folder / "slice0.dcm";
        std::ofstream(file, std::ios::binary) << c.bytes;
        for (const fs::path& input : {folder, file}) {
            SlicedScan scan;
            const ImportFailure failure = read_scan(input.string(), "", scan, {});
            EXPECT_EQ(failure.file, file.string());
            EXPECT_EQ(failure.reason, c.reason);
        }
        fs::remove_all(folder);
    }
}

// A NIfTI header alone may declare any number of voxels: the check that
// the file holds them came after ITK had allocated and read them all, so
// that an 866-byte file declaring 1000^3 voxels took 6 GB and 20 s, and
// one declaring more failed to allocate. It now comes before reading.
TEST_F(ImportFuzzRegressions, NiftiDeclaringMoreVoxelsThanItHoldsIsRefusedBeforeReading)
{
    std::vector<std::uint8_t> nii = bytes_of(fs::path(CRANE_FUZZ_DIR) / "corpus" / "import_nifti" / "short");
    ASSERT_GT(nii.size(), 2u + 348u);
    nii.erase(nii.begin(), nii.begin() + 2);  // the fuzz target's format bytes
    // dim[1..3] at byte 42: beyond what is read at all, and within it but
    // beyond what the file holds.
    const struct {
        unsigned side;
        const char* reason;
    } cases[] = {{32767, "too large: 32767 x 32767 x 32767 voxels"},
                 {600, "truncated or damaged NIfTI file: its voxel data is incomplete"}};
    for (const auto& c : cases) {
        for (int d = 1; d <= 3; ++d) {
            nii[40 + 2 * d] = std::uint8_t(c.side & 0xFF);
            nii[41 + 2 * d] = std::uint8_t(c.side >> 8);
        }
        const fs::path file = dir / "huge.nii";
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(nii.data()), std::streamsize(nii.size()));
        SlicedScan scan;
        const ImportFailure failure = read_scan(file.string(), "", scan, {});
        EXPECT_EQ(failure.file, file.string());
        EXPECT_EQ(failure.reason.rfind(c.reason, 0), 0u) << failure.reason;
    }
}

TEST_F(ImportFuzzRegressions, DicomInputsEndInARefusalOrAFullGrid)
{
    const std::vector<fs::path> files = fuzz_inputs_of("import_dicom");
    ASSERT_FALSE(files.empty());
    for (const auto& file : files) {
        const std::vector<std::uint8_t> input = bytes_of(file);
        EXPECT_EQ(run_dicom_case(input.data(), input.size(), dir.string()), "") << file;
    }
}

TEST_F(ImportFuzzRegressions, VolumeFileInputsEndInARefusalOrAFullGrid)
{
    const struct {
        const char* target;
        std::string (*run)(const std::uint8_t*, std::size_t, const std::string&);
    } targets[] = {
        {"import_nifti", run_nifti_case}, {"import_nrrd", run_nrrd_case}, {"import_metaimage", run_metaimage_case}};
    for (const auto& t : targets) {
        const std::vector<fs::path> files = fuzz_inputs_of(t.target);
        ASSERT_FALSE(files.empty()) << t.target;
        for (const auto& file : files) {
            const std::vector<std::uint8_t> input = bytes_of(file);
            EXPECT_EQ(t.run(input.data(), input.size(), dir.string()), "") << file;
        }
    }
}

// Inputs on which Debian's GDCM itself aborts or allocates 4 GiB: refused by
// our own checks now, in this process, before GDCM sees them.
TEST_F(ImportFuzzRegressions, DicomInputsThatFaultInsideGdcmAreRefusedFirst)
{
    for (const char* name : {"samples-per-pixel-over-4", "element-of-4-gib"}) {
        const std::vector<std::uint8_t> input = bytes_of(fs::path(CRANE_FUZZ_DIR) / "library_faults" / name);
        ASSERT_FALSE(input.empty()) << name;
        EXPECT_EQ(run_dicom_case(input.data(), input.size(), dir.string()), "") << name;
    }
}
