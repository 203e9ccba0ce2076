// The synthetic CT head: its slice files, the crane-phantom command and the
// anatomy the viewer is meant to find in it.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "phantom.h"
#include "render/render.h"
#include "test_support.h"
#include "volume/rotation.h"
#include "volume/slice_loader.h"
#include "volume/voxel_store.h"

namespace fs = std::filesystem;

namespace {

constexpr int side = 256, slices = 94;
constexpr std::uintmax_t file_bytes = 131072;

std::string read_text(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

fs::path slice_path(const fs::path& folder, int n) { return folder / ("headsq." + std::to_string(n)); }

// The files hold exactly what a second, separate generation gives, as
// 12-bit little-endian words.
TEST(phantom_files, WritesEverySliceCompleteLittleEndianAndRepeatable)
{
    temp_folder tmp;
    const fs::path head = tmp.path / "fullHead";
    ASSERT_EQ(write_phantom(head.string(), false), "");
    EXPECT_EQ(std::distance(fs::directory_iterator(head), fs::directory_iterator()), slices);

    std::vector<std::uint16_t> words(side * side);
    for (int n = 1; n <= slices; ++n) {
        const std::string bytes = read_text(slice_path(head, n));
        ASSERT_EQ(bytes.size(), file_bytes) << "slice " << n;
        make_phantom_slice(n, words.data());
        for (int i = 0; i < side * side; ++i) {
            const unsigned word = std::uint8_t(bytes[2 * i]) | unsigned(std::uint8_t(bytes[2 * i + 1])) << 8;
            ASSERT_EQ(word, words[i]) << "slice " << n << " word " << i;
            ASSERT_LE(word, 4095u) << "slice " << n << " word " << i;
        }
    }
}

TEST(phantom_files, LeavesAnExistingPathAloneUnlessForced)
{
    temp_folder tmp;
    const fs::path head = tmp.path / "fullHead", file = tmp.path / "file";
    ASSERT_EQ(write_phantom(head.string(), false), "");
    write_file(slice_path(head, 1), {'o', 'l', 'd'});
    write_file(file, {'x'});

    const std::string refused = write_phantom(head.string(), false);
    EXPECT_NE(refused.find("already exists (use --force"), std::string::npos) << refused;
    EXPECT_EQ(fs::file_size(slice_path(head, 1)), 3u);
    EXPECT_EQ(write_phantom(head.string(), true), "");
    EXPECT_EQ(fs::file_size(slice_path(head, 1)), file_bytes);

    // A file counts as existing too, and forcing does not replace it.
    EXPECT_NE(write_phantom(file.string(), false).find("already exists"), std::string::npos);
    EXPECT_NE(write_phantom(file.string(), true), "");
    EXPECT_EQ(fs::file_size(file), 1u);
}

TEST(phantom_files, RefusesWhatItCannotWriteOrMustNotReplace)
{
    temp_folder tmp;
    write_file(tmp.path / "file", {'x'});
    const std::string under_file = (tmp.path / "file" / "fullHead").string();
    const std::string no_parent = (tmp.path / "missing" / "fullHead").string();
    for (const std::string& folder : {under_file, no_parent})
        for (bool force : {false, true})
            EXPECT_EQ(write_phantom(folder, force), "the folder it would go in does not exist") << folder;
    EXPECT_FALSE(fs::exists(tmp.path / "missing"));

    // --force replaces a folder of slice files only: a FIFO (or anything
    // else) in it is named and left alone, never waited on.
    const fs::path head = tmp.path / "fullHead";
    fs::create_directory(head);
    ASSERT_EQ(::mkfifo(slice_path(head, 3).c_str(), 0600), 0);
    EXPECT_EQ(write_phantom(head.string(), true).rfind("holds headsq.3, which is not a slice file", 0), 0u);
    EXPECT_TRUE(fs::is_fifo(slice_path(head, 3)));
}

// Runs crane-phantom, which is built next to this test program, in folder;
// returns its exit status and leaves its output in out.txt and err.txt.
int run_phantom(const fs::path& folder, const std::string& args)
{
    const fs::path program = fs::read_symlink("/proc/self/exe").parent_path() / "crane-phantom";
    const std::string command =
        "cd '" + folder.string() + "' && '" + program.string() + "' " + args + " >out.txt 2>err.txt";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(phantom_command, ExitStatusAndMessages)
{
    if (!fs::exists(fs::read_symlink("/proc/self/exe").parent_path() / "crane-phantom"))
        GTEST_SKIP() << "crane-phantom is not built";
    temp_folder tmp;
    const fs::path err = tmp.path / "err.txt";

    EXPECT_EQ(run_phantom(tmp.path, ""), 0);
    EXPECT_EQ(read_text(err), "crane-phantom: wrote 94 slices to fullHead\n");
    EXPECT_EQ(fs::file_size(slice_path(tmp.path / "fullHead", 94)), file_bytes);
    EXPECT_EQ(run_phantom(tmp.path, ""), 1);
    EXPECT_EQ(read_text(err), "crane-phantom: fullHead: already exists (use --force to replace it)\n");
    EXPECT_EQ(run_phantom(tmp.path, "--force"), 0);
    EXPECT_EQ(run_phantom(tmp.path, "other --force"), 0);
    EXPECT_TRUE(fs::exists(slice_path(tmp.path / "other", 1)));

    for (const char* bad : {"-f", "--forse", "a b", "--force a b"}) {
        EXPECT_EQ(run_phantom(tmp.path, bad), 2) << bad;
        EXPECT_EQ(read_text(err), "usage: crane-phantom [--force] [DIR]\n") << bad;
    }
    EXPECT_FALSE(fs::exists(tmp.path / "a"));
    EXPECT_EQ(run_phantom(tmp.path, "--help"), 0);
    EXPECT_EQ(read_text(tmp.path / "out.txt").rfind("usage: crane-phantom", 0), 0u);
}

// ---- anatomy, probed the way the viewer shows it ----------------------

class phantom_anatomy : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        head.resize(std::size_t(slices) * side * side);
        for (int n = 1; n <= slices; ++n) make_phantom_slice(n, &head[std::size_t(n - 1) * side * side]);
    }
    static int at(int n, int row, int col) { return head[(std::size_t(n - 1) * side + row) * side + col]; }

    // The first row from the front, in a column, denser than 700.
    static int front_row(int n, int col)
    {
        int row = 0;
        while (row < side - 1 && at(n, row, col) <= 700) ++row;
        return row;
    }
    // Leftmost and rightmost columns denser than 700 in rows from..to-1.
    static std::pair<int, int> extent(int n, int from = 0, int to = side)
    {
        int left = side, right = -1;
        for (int row = from; row < to; ++row)
            for (int col = 0; col < side; ++col)
                if (at(n, row, col) > 700) left = std::min(left, col), right = std::max(right, col);
        return {left, right};
    }
    static int width(int n) { return extent(n).second - extent(n).first + 1; }

    static std::vector<std::uint16_t> head;
};
std::vector<std::uint16_t> phantom_anatomy::head;

TEST_F(phantom_anatomy, HeadFillsTheFrameWithAirAroundIt)
{
    int tissue_in_margin = 0;
    for (int n = 1; n <= slices; ++n)
        for (int row = 0; row < side; ++row)
            for (int col = 0; col < side; ++col) {
                const bool margin = row < 8 || row >= side - 8 || col < 8 || col >= side - 8;
                tissue_in_margin += (margin || n <= 2) && at(n, row, col) >= 100;
            }
    EXPECT_EQ(tissue_in_margin, 0);
    EXPECT_GT(width(45), 150);
    EXPECT_LT(front_row(60, 128), 30);
}

TEST_F(phantom_anatomy, BrainWithDarkerVentriclesInsideTheSkull)
{
    EXPECT_NEAR(at(45, 128, 128), 1055, 25);

    // Near the top, going in from the front and from the side: skin, bone
    // within a few millimetres, then brain.
    for (bool from_side : {false, true}) {
        auto value = [&](int i) { return from_side ? at(15, 140, i) : at(15, i, 136); };
        int i = 0;
        while (i < side && value(i) <= 700) ++i;
        const int skin = i;
        while (i < skin + 20 && value(i) <= 1800) ++i;
        EXPECT_LT(i, skin + 20) << "no bone under the skin; from the side: " << from_side;
        while (i < side && value(i) > 1200) ++i;
        EXPECT_LT(i - skin, 25);
        EXPECT_NEAR(value(i + 8), 1057, 22);
    }

    // The lateral ventricles: fluid well below brain density mid-slice.
    int fluid = 0;
    for (int row = 90; row < 170; ++row)
        for (int col = 98; col < 158; ++col) fluid += at(33, row, col) <= 1032;
    EXPECT_GT(fluid, 50);
}

TEST_F(phantom_anatomy, FaceTowardsTheViewerWithEyesNoseAndEars)
{
    // The nose, mid-face, is the nearest point to the viewer, well in front
    // of the forehead.
    int nearest = 1;
    for (int n = 1; n <= slices; ++n)
        if (front_row(n, 128) < front_row(nearest, 128)) nearest = n;
    EXPECT_GE(nearest, 50);
    EXPECT_LE(nearest, 65);
    EXPECT_LT(front_row(nearest, 128) + 10, front_row(25, 128));

    // Vitreous in both orbits, and air inside the nose.
    for (int col : {94, 161}) EXPECT_NEAR(at(46, 58, col), 1030, 15) << col;
    EXPECT_LT(at(54, 80, 134), 100);

    // Ears stand out from both sides of the head.
    const auto at_ears = extent(48, 100, 180), above = extent(30, 100, 180);
    EXPECT_LT(at_ears.first + 5, above.first);
    EXPECT_GT(at_ears.second - 5, above.second);
}

TEST_F(phantom_anatomy, TeethInTheJawAndSpineInTheNeck)
{
    // Teeth, about 3000, are the densest thing in the head and lie in the jaw.
    int teeth = 0, elsewhere = 0, densest = 0;
    for (int n = 1; n <= slices; ++n)
        for (int i = 0; i < side * side; ++i) {
            const int v = at(n, i / side, i % side);
            densest = std::max(densest, v);
            if (v >= 2800) ++(n >= 58 && n <= 80 ? teeth : elsewhere);
        }
    EXPECT_GT(teeth, 500);
    EXPECT_EQ(elsewhere, 0);
    EXPECT_LE(densest, 3100);

    // The neck is much narrower than the head and holds a vertebra.
    EXPECT_LT(width(94), width(45) * 3 / 4);
    int vertebra = 0;
    for (int row = 100; row < 200; ++row)
        for (int col = 100; col < 156; ++col) vertebra += at(94, row, col) >= 1500 && at(94, row, col) <= 2000;
    EXPECT_GT(vertebra, 50);
}

// Through the viewer's own loader, rotation and surface ray: from the front
// and from either side the first density in the surface band is always soft
// tissue, never bone showing through the skin.
TEST_F(phantom_anatomy, SurfaceViewSeesSkin)
{
    temp_folder tmp;
    ASSERT_EQ(write_phantom((tmp.path / "fullHead").string(), false), "");
    ASSERT_EQ(read_head_slices((tmp.path / "fullHead").string(), [](int) {}).error, slice_error::none);

    for (float turn : {0.0f, 1.5708f, -1.5708f}) {
        rotate_volume(0.0f, turn);
        int hits = 0, bone = 0;
        for (int y = 1; y < dim_y - 2; ++y)
            for (int x = 1; x < dim_x - 2; ++x) {
                double shade = 0;
                const double d = cast_surface_ray(0, x, y, 0.5, 0.5, 1100.0, &shade);
                hits += d > 0;
                bone += d >= 1100;
            }
        EXPECT_GT(hits, 94 * 100) << "turned " << turn;
        EXPECT_EQ(bone, 0) << "turned " << turn;
    }
}

}  // namespace
