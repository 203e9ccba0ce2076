// The synthetic CT head: its slice files, the crane-phantom command and the
// anatomy the viewer is meant to find in it.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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
#include "volume/volume.h"

namespace fs = std::filesystem;

namespace {

constexpr int side = 256, slices = 94;
constexpr std::uintmax_t file_bytes = 131072;

std::vector<char> read_bytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

fs::path slice_path(const fs::path& folder, int n) { return folder / ("headsq." + std::to_string(n)); }

// ---- files -------------------------------------------------------------

TEST(PhantomFiles, WritesNinetyFourCompleteLittleEndianSlices)
{
    temp_folder tmp;
    const fs::path head = tmp.path / "fullHead";
    ASSERT_EQ(write_phantom(head.string(), false), "");

    int files = 0;
    for (const auto& entry : fs::directory_iterator(head)) {
        ++files;
        EXPECT_TRUE(entry.is_regular_file()) << entry.path();
    }
    EXPECT_EQ(files, slices);

    std::vector<std::uint16_t> words(side * side);
    for (int n = 1; n <= slices; ++n) {
        const std::vector<char> bytes = read_bytes(slice_path(head, n));
        ASSERT_EQ(bytes.size(), file_bytes) << "slice " << n;
        make_phantom_slice(n, words.data());
        for (int i = 0; i < side * side; ++i) {
            const unsigned word = std::uint8_t(bytes[2 * i]) | unsigned(std::uint8_t(bytes[2 * i + 1])) << 8;
            ASSERT_EQ(word, words[i]) << "slice " << n << " word " << i;
            ASSERT_LE(word, 4095u) << "slice " << n << " word " << i;
        }
    }
}

TEST(PhantomFiles, IsTheSameEveryTime)
{
    temp_folder tmp;
    ASSERT_EQ(write_phantom((tmp.path / "a").string(), false), "");
    ASSERT_EQ(write_phantom((tmp.path / "b").string(), false), "");
    for (int n = 1; n <= slices; ++n)
        ASSERT_EQ(read_bytes(slice_path(tmp.path / "a", n)), read_bytes(slice_path(tmp.path / "b", n)))
            << "slice " << n;
}

TEST(PhantomFiles, LeavesAnExistingFolderAloneUnlessForced)
{
    temp_folder tmp;
    const fs::path head = tmp.path / "fullHead";
    ASSERT_EQ(write_phantom(head.string(), false), "");
    write_file(slice_path(head, 1), {'o', 'l', 'd'});

    const std::string refused = write_phantom(head.string(), false);
    EXPECT_NE(refused.find("already exists"), std::string::npos) << refused;
    EXPECT_NE(refused.find("--force"), std::string::npos) << refused;
    EXPECT_EQ(fs::file_size(slice_path(head, 1)), 3u);

    EXPECT_EQ(write_phantom(head.string(), true), "");
    EXPECT_EQ(fs::file_size(slice_path(head, 1)), file_bytes);

    // Anything at the path counts as existing; forcing does not replace a file.
    const fs::path file = tmp.path / "file";
    write_file(file, {'x'});
    EXPECT_NE(write_phantom(file.string(), false).find("already exists"), std::string::npos);
    EXPECT_NE(write_phantom(file.string(), true), "");
    EXPECT_EQ(fs::file_size(file), 1u);
}

TEST(PhantomFiles, NamesThePathItCannotWrite)
{
    temp_folder tmp;
    write_file(tmp.path / "file", {'x'});
    const std::string under_file = (tmp.path / "file" / "fullHead").string();
    const std::string no_parent = (tmp.path / "missing" / "fullHead").string();
    for (const std::string& folder : {under_file, no_parent}) {
        for (bool force : {false, true}) {
            const std::string reason = write_phantom(folder, force);
            EXPECT_NE(reason.find(folder), std::string::npos) << reason;
        }
    }
    EXPECT_NE(write_phantom(no_parent, false).find("No such file"), std::string::npos);
    EXPECT_FALSE(fs::exists(tmp.path / "missing"));

    // A FIFO in the way is reported, not waited on.
    const fs::path head = tmp.path / "fullHead";
    fs::create_directory(head);
    ASSERT_EQ(::mkfifo(slice_path(head, 3).c_str(), 0600), 0);
    EXPECT_NE(write_phantom(head.string(), true).find(slice_path(head, 3).string()), std::string::npos);
}

// ---- the command -------------------------------------------------------

struct run_result {
    int status;
    std::string out, err;
};

// Runs crane-phantom, which is built next to this test program, in folder.
run_result run_phantom(const fs::path& folder, const std::string& args)
{
    const fs::path program = fs::read_symlink("/proc/self/exe").parent_path() / "crane-phantom";
    const std::string command = "cd '" + folder.string() + "' && '" + program.string() + "' " + args +
                                " >out.txt 2>err.txt";
    const int status = std::system(command.c_str());
    run_result r{WIFEXITED(status) ? WEXITSTATUS(status) : -1, "", ""};
    const std::vector<char> out = read_bytes(folder / "out.txt"), err = read_bytes(folder / "err.txt");
    r.out.assign(out.begin(), out.end());
    r.err.assign(err.begin(), err.end());
    return r;
}

TEST(PhantomCommand, ExitStatusAndMessages)
{
    if (!fs::exists(fs::read_symlink("/proc/self/exe").parent_path() / "crane-phantom"))
        GTEST_SKIP() << "crane-phantom is not built";
    temp_folder tmp;

    run_result r = run_phantom(tmp.path, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "crane-phantom: wrote 94 slices to fullHead\n");
    EXPECT_EQ(fs::file_size(slice_path(tmp.path / "fullHead", 94)), file_bytes);

    r = run_phantom(tmp.path, "");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "crane-phantom: fullHead already exists (use --force to overwrite)\n");
    EXPECT_EQ(run_phantom(tmp.path, "--force").status, 0);
    EXPECT_EQ(run_phantom(tmp.path, "other --force").status, 0);
    EXPECT_TRUE(fs::exists(slice_path(tmp.path / "other", 1)));

    for (const char* bad : {"-f", "--forse", "a b", "--force a b"}) {
        r = run_phantom(tmp.path, bad);
        EXPECT_EQ(r.status, 2) << bad;
        EXPECT_EQ(r.err, "usage: crane-phantom [--force] [DIR]\n") << bad;
    }
    EXPECT_FALSE(fs::exists(tmp.path / "a"));

    r = run_phantom(tmp.path, "--help");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("usage: crane-phantom", 0), 0u);
}

// ---- anatomy -----------------------------------------------------------

class Anatomy : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        head.resize(std::size_t(slices) * side * side);
        for (int n = 1; n <= slices; ++n) make_phantom_slice(n, &head[std::size_t(n - 1) * side * side]);
    }
    static int at(int n, int row, int col) { return head[(std::size_t(n - 1) * side + row) * side + col]; }

    // The first row from the front, in a column, denser than 700 (side if none).
    static int front_row(int n, int col)
    {
        int row = 0;
        while (row < side && at(n, row, col) <= 700) ++row;
        return row;
    }
    // How many columns of a slice hold any tissue.
    static int width(int n)
    {
        int count = 0;
        for (int col = 0; col < side; ++col)
            for (int row = 0; row < side; ++row)
                if (at(n, row, col) > 700) {
                    ++count;
                    break;
                }
        return count;
    }
    // Leftmost and rightmost columns with tissue in a row band.
    static std::pair<int, int> extent(int n, int row_from, int row_to)
    {
        int left = side, right = -1;
        for (int row = row_from; row < row_to; ++row)
            for (int col = 0; col < side; ++col)
                if (at(n, row, col) > 700) {
                    left = std::min(left, col);
                    right = std::max(right, col);
                }
        return {left, right};
    }

    static std::vector<std::uint16_t> head;
};
std::vector<std::uint16_t> Anatomy::head;

TEST_F(Anatomy, AirAboveTheCrownAndAroundTheHead)
{
    for (int n = 1; n <= slices; ++n)
        for (int row = 0; row < side; ++row)
            for (int col = 0; col < side; ++col) {
                const bool margin = row < 8 || row >= side - 8 || col < 8 || col >= side - 8;
                if (margin || n <= 2) {
                    ASSERT_LT(at(n, row, col), 100) << n << " " << row << " " << col;
                }
            }
    // The head fills the frame: wide, and from the nose to the back of the skull.
    EXPECT_GT(width(45), 150);
    EXPECT_LT(front_row(60, 128), 30);
}

TEST_F(Anatomy, BrainWithDarkerVentriclesInsideTheSkull)
{
    EXPECT_GE(at(45, 128, 128), 1030);
    EXPECT_LE(at(45, 128, 128), 1080);

    // Near the top, going in from the front and from the side: skin, then
    // within a few millimetres bone, then brain.
    for (bool from_side : {false, true}) {
        const int n = 15;
        auto value = [&](int i) { return from_side ? at(n, 140, i) : at(n, i, 136); };
        int i = 0;
        while (i < side && value(i) <= 700) ++i;
        const int skin = i;
        while (i < skin + 20 && value(i) <= 1800) ++i;
        EXPECT_LT(i, skin + 20) << "no bone under the skin, from the side: " << from_side;
        while (i < side && value(i) > 1200) ++i;
        EXPECT_LT(i - skin, 25);
        EXPECT_GE(value(i + 8), 1035);
        EXPECT_LE(value(i + 8), 1080);
    }

    // The lateral ventricles: a cluster of fluid well below brain density
    // near the middle of a slice through them.
    int fluid = 0;
    for (int row = 90; row < 170; ++row)
        for (int col = 98; col < 158; ++col) fluid += at(33, row, col) <= 1032;
    EXPECT_GT(fluid, 50);
}

TEST_F(Anatomy, FaceTowardsTheViewerWithEyesNoseAndEars)
{
    // The nose is the nearest point of the head to the viewer, well in front
    // of the forehead; the back of the head lies at large rows.
    int nearest = side, nearest_slice = 0;
    for (int n = 1; n <= slices; ++n)
        if (front_row(n, 128) < nearest) nearest = front_row(n, 128), nearest_slice = n;
    EXPECT_GE(nearest_slice, 50);
    EXPECT_LE(nearest_slice, 65);
    EXPECT_LT(nearest + 10, front_row(25, 128));
    int back = side - 1;
    while (back > 0 && at(45, back, 128) <= 700) --back;
    EXPECT_GT(back, 220);

    // Eyes: vitreous in both orbits, either side of the nose.
    for (int col : {94, 161}) {
        EXPECT_GE(at(46, 58, col), 1015) << col;
        EXPECT_LE(at(46, 58, col), 1045) << col;
    }
    // Air inside the nose, behind the skin.
    EXPECT_LT(at(54, 80, 134), 100);

    // Ears stand out from the sides of the head, both sides.
    const auto at_ears = extent(48, 100, 180), above = extent(30, 100, 180);
    EXPECT_LT(at_ears.first + 5, above.first);
    EXPECT_GT(at_ears.second - 5, above.second);
}

TEST_F(Anatomy, TeethInTheJawAndSpineInTheNeck)
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

// What the viewer's surface view shows is skin: along every ray, from the
// front and from either side, the first density in the surface band is soft
// tissue, never bone showing through.
TEST_F(Anatomy, SurfaceViewSeesSkin)
{
    temp_folder tmp;
    ASSERT_EQ(write_phantom((tmp.path / "fullHead").string(), false), "");
    int result = -1;
    capture_stdout([&] { result = load_head_volume_from((tmp.path / "fullHead").c_str()); });
    ASSERT_EQ(result, 0);

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
