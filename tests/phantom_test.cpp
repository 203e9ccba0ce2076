// The synthetic CT head: its slice files, the crane-phantom command and the
// anatomy the viewer is meant to find in it.
#include <gtest/gtest.h>

#include <omp.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "phantom.h"
#include "render/render.h"
#include "test_support.h"
#include "volume/rotation.h"
#include "volume/slice_format.h"
#include "volume/slice_loader.h"
#include "volume/voxel_store.h"

namespace fs = std::filesystem;

namespace {

constexpr int side = slice_side, slices = slice_count;
constexpr std::uintmax_t file_bytes = slice_bytes;

std::string read_text(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

fs::path slice_file(const fs::path& folder, int n) { return slice_path(folder.string(), n); }

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
        const std::string bytes = read_text(slice_file(head, n));
        ASSERT_EQ(bytes.size(), file_bytes) << "slice " << n;
        make_phantom_slice(n, words.data());
        for (int i = 0; i < side * side; ++i) {
            const unsigned word = decode_word(reinterpret_cast<const unsigned char*>(&bytes[2 * i]));
            ASSERT_EQ(word, words[i]) << "slice " << n << " word " << i;
            ASSERT_LE(word, 4095u) << "slice " << n << " word " << i;
        }
    }
}

// Every voxel is computed on its own, so the slices do not depend on how
// many threads share the work.
TEST(phantom_files, SameSlicesWithAnyNumberOfThreads)
{
    const int threads = omp_get_max_threads();
    std::vector<std::uint16_t> one(side * side), several(side * side);
    for (int n : {1, 30, 47, 60, 75, 94}) {
        omp_set_num_threads(1);
        make_phantom_slice(n, one.data());
        omp_set_num_threads(3);
        make_phantom_slice(n, several.data());
        EXPECT_EQ(one, several) << "slice " << n;
    }
    omp_set_num_threads(threads);
}

TEST(phantom_files, LeavesAnExistingPathAloneUnlessForced)
{
    temp_folder tmp;
    const fs::path head = tmp.path / "fullHead", file = tmp.path / "file";
    ASSERT_EQ(write_phantom(head.string(), false), "");
    write_file(slice_file(head, 1), {'o', 'l', 'd'});
    write_file(file, {'x'});

    const std::string refused = write_phantom(head.string(), false);
    EXPECT_NE(refused.find("already exists (use --force"), std::string::npos) << refused;
    EXPECT_EQ(fs::file_size(slice_file(head, 1)), 3u);
    EXPECT_EQ(write_phantom(head.string(), true), "");
    EXPECT_EQ(fs::file_size(slice_file(head, 1)), file_bytes);

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
    ASSERT_EQ(::mkfifo(slice_file(head, 3).c_str(), 0600), 0);
    EXPECT_EQ(write_phantom(head.string(), true).rfind("holds headsq.3, which is not a slice file", 0), 0u);
    EXPECT_TRUE(fs::is_fifo(slice_file(head, 3)));
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
    EXPECT_EQ(fs::file_size(slice_file(tmp.path / "fullHead", 94)), file_bytes);
    EXPECT_EQ(run_phantom(tmp.path, ""), 1);
    EXPECT_EQ(read_text(err), "crane-phantom: fullHead: already exists (use --force to replace it)\n");
    EXPECT_EQ(run_phantom(tmp.path, "--force"), 0);
    EXPECT_EQ(run_phantom(tmp.path, "other --force"), 0);
    EXPECT_TRUE(fs::exists(slice_file(tmp.path / "other", 1)));

    for (const char* bad : {"-f", "--forse", "a b", "--force a b"}) {
        EXPECT_EQ(run_phantom(tmp.path, bad), 2) << bad;
        EXPECT_EQ(read_text(err), "usage: crane-phantom [--force] [DIR]\n") << bad;
    }
    EXPECT_FALSE(fs::exists(tmp.path / "a"));
    EXPECT_EQ(run_phantom(tmp.path, "--help"), 0);
    EXPECT_EQ(read_text(tmp.path / "out.txt").rfind("usage: crane-phantom", 0), 0u);
}

// ---- anatomy, probed the way the viewer shows it ----------------------

// Densities: soft tissue stays under soft_top, bone (cortex, and most of
// its cancellous inside) lies above bone_floor, thin plates of bone seen
// in thick slices above thin_bone, teeth above tooth_floor, and air under
// air_top.
constexpr int air_top = 300, soft_top = 1200, thin_bone = 1300, bone_floor = 1450, tooth_floor = 2450;

class phantom_anatomy : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        head.resize(std::size_t(slices) * side * side);
        for (int n = 1; n <= slices; ++n) make_phantom_slice(n, &head[std::size_t(n - 1) * side * side]);
    }
    static std::size_t index(int n, int row, int col) { return (std::size_t(n - 1) * side + row) * side + col; }
    static bool inside(int n, int row, int col)
    {
        return n >= 1 && n <= slices && row >= 0 && row < side && col >= 0 && col < side;
    }
    static int at(int n, int row, int col) { return head[index(n, row, col)]; }
    // The density at a point given in millimetres (phantom.h's frame).
    static int at_mm(double x, double y, double z)
    {
        const phantom_voxel v = phantom_voxel_at(x, y, z);
        return inside(v.n, v.row, v.col) ? at(v.n, v.row, v.col) : 0;
    }

    // The voxels connected to seed (by faces) on which keep holds.
    static std::vector<char> flood(phantom_voxel seed, const std::function<bool(int n, int row, int col)>& keep)
    {
        std::vector<char> in(head.size(), 0);
        std::vector<phantom_voxel> todo;
        if (!keep(seed.n, seed.row, seed.col)) return in;
        in[index(seed.n, seed.row, seed.col)] = 1;
        todo.push_back(seed);
        while (!todo.empty()) {
            const phantom_voxel v = todo.back();
            todo.pop_back();
            const int steps[6][3] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
            for (const auto& s : steps) {
                const phantom_voxel w{v.n + s[0], v.row + s[1], v.col + s[2]};
                if (!inside(w.n, w.row, w.col) || in[index(w.n, w.row, w.col)] || !keep(w.n, w.row, w.col)) continue;
                in[index(w.n, w.row, w.col)] = 1;
                todo.push_back(w);
            }
        }
        return in;
    }
    static bool filled(const std::vector<char>& in, phantom_voxel v) { return in[index(v.n, v.row, v.col)] != 0; }

    // How far (mm) from (x, y, z) along the unit direction d the first
    // density that hit accepts lies, looking up to reach mm; -1 if none.
    static double distance_to(double x, double y, double z, double dx, double dy, double dz, double reach,
                              const std::function<bool(int)>& hit)
    {
        for (double s = 0; s <= reach; s += 0.25)
            if (hit(at_mm(x + dx * s, y + dy * s, z + dz * s))) return s;
        return -1;
    }

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
    static int slice_at(double z) { return phantom_voxel_at(0, 0, z).n; }

    static std::vector<std::uint16_t> head;
};
std::vector<std::uint16_t> phantom_anatomy::head;

// Air all round the head, noisy as a scanner's air is: a little above 0,
// never as dense as skin.
TEST_F(phantom_anatomy, HeadFillsTheFrameWithNoisyAirAroundIt)
{
    int tissue_in_margin = 0, zeros = 0, margin = 0;
    long sum = 0;
    for (int n = 1; n <= slices; ++n)
        for (int row = 0; row < side; ++row)
            for (int col = 0; col < side; ++col) {
                if (!(row < 8 || row >= side - 8 || col < 8 || col >= side - 8 || n <= 2)) continue;
                const int v = at(n, row, col);
                tissue_in_margin += v >= 100;
                zeros += v == 0;
                sum += v;
                ++margin;
            }
    EXPECT_EQ(tissue_in_margin, 0);
    EXPECT_GT(sum / margin, 10);
    EXPECT_LT(sum / margin, 40);
    EXPECT_LT(zeros, margin / 10);
    EXPECT_GT(width(slice_at(40)), 140);
    EXPECT_LT(front_row(slice_at(-20), 128), 30);
}

// An adult braincase: about 185 mm from glabella to the back and 145 mm
// across, measured on the bone.
TEST_F(phantom_anatomy, SkullHasAdultProportions)
{
    int front = side, back = -1, left = side, right = -1;
    for (int n = slice_at(100); n <= slice_at(5); ++n) {
        for (int row = 0; row < side; ++row)
            for (int col : {127, 128})
                if (at(n, row, col) >= bone_floor) front = std::min(front, row), back = std::max(back, row);
        for (int row = 0; row < side; ++row)
            for (int col = 0; col < side; ++col)
                if (at(n, row, col) >= bone_floor && n <= slice_at(30))
                    left = std::min(left, col), right = std::max(right, col);
    }
    EXPECT_NEAR((back - front + 1) * phantom_pixel_mm, 185, 7);
    EXPECT_NEAR((right - left + 1) * phantom_pixel_mm, 145, 7);
}

// Along every radius sampled round the vault, the outer table is denser
// than the diploe beneath it, and the inner table again.
TEST_F(phantom_anatomy, OuterTableDenserThanTheDiploeAlongEveryRadius)
{
    int radii = 0;
    for (double z = 40; z <= 90; z += 10)
        for (int degrees = 0; degrees < 360; degrees += 15) {
            const double a = degrees * 3.14159265358979 / 180, dx = std::sin(a), dy = std::cos(a);
            // Walk in from outside the head to the first bone, then through it.
            double s = 130;
            while (s > 0 && at_mm(dx * s, -8 + dy * s, z) < bone_floor) s -= 0.5;
            ASSERT_GT(s, 0) << z << " " << degrees;
            // The bone's profile from outside in: the outer table within
            // 3 mm, the inner table in the last 3 mm, diploe between.
            std::vector<int> profile;
            for (double t = s; t > 0 && at_mm(dx * t, -8 + dy * t, z) >= 1150; t -= 0.5)
                profile.push_back(at_mm(dx * t, -8 + dy * t, z));
            ASSERT_GE(profile.size(), 10u) << "z " << z << " at " << degrees << " degrees";
            const auto outer = std::max_element(profile.begin(), profile.begin() + 6);
            const auto inner = std::max_element(profile.end() - 6, profile.end());
            const auto diploe = std::min_element(outer, inner);
            EXPECT_GT(*outer, *diploe + 300) << "z " << z << " at " << degrees << " degrees";
            EXPECT_GT(*inner, *diploe + 200) << "z " << z << " at " << degrees << " degrees";
            EXPECT_GT(*diploe, 1150) << "z " << z << " at " << degrees << " degrees";
            ++radii;
        }
    EXPECT_EQ(radii, 6 * 24);
}

// The floor of the cranial cavity steps down from the anterior fossa (over
// the orbits) to the middle fossa (under the temporal lobes) to the
// posterior fossa (under the cerebellum), where the foramen magnum opens.
TEST_F(phantom_anatomy, SkullBaseStepsDownThroughThreeFossae)
{
    // Height of the first bone under the brain, coming down from z = 60.
    auto floor_z = [&](double x, double y) {
        double z = 60;
        while (z > -60 && at_mm(x, y, z) < bone_floor) z -= 0.5;
        return z;
    };
    for (double x : {-30.0, 30.0}) {
        const double anterior = floor_z(x, 55), middle = floor_z(x * 1.2, 10), posterior = floor_z(x, -50);
        EXPECT_GT(anterior, middle + 15) << x;
        EXPECT_GT(middle, posterior + 15) << x;
    }
    // Soft tissue runs from the brainstem down into the canal.
    for (double z = 0; z >= -35; z -= 2) EXPECT_LT(at_mm(0.5, -15, z), soft_top) << z;
}

// The mandible: one bone from condyle to condyle through the chin, apart
// from the skull, the spine and the upper teeth.
TEST_F(phantom_anatomy, MandibleIsOneBoneFromCondyleToCondyle)
{
    const phantom_voxel right = phantom_voxel_at(50, 9, -12), left = phantom_voxel_at(-50, 9, -12);
    const int condyle_top = slice_at(-4), teeth_top = slice_at(-52);
    const auto bone = [](int n, int row, int col) { return at(n, row, col) >= bone_floor; };
    const std::vector<char> jaw = flood(right, bone);
    ASSERT_TRUE(filled(jaw, right));
    EXPECT_TRUE(filled(jaw, left));
    // Nothing above the condyles, nothing behind them (the spine), no upper
    // tooth.
    for (int n = 1; n <= slices; ++n)
        for (int row = 0; row < side; ++row)
            for (int col = 0; col < side; ++col) {
                if (!filled(jaw, {n, row, col})) continue;
                ASSERT_GT(n, condyle_top) << row << " " << col;
                ASSERT_LT(row, phantom_voxel_at(0, -2, 0).row) << n << " " << col;
                if (std::abs(col - 127.5) < 20) {
                    ASSERT_GT(n, teeth_top) << row << " " << col;
                }
            }
    // Through the chin: without the midline the two halves fall apart.
    const std::vector<char> half =
        flood(right, [&](int n, int row, int col) { return bone(n, row, col) && (col < 126 || col > 129); });
    EXPECT_FALSE(filled(half, left));
}

// Two arcades of separate teeth, enamel near 3000 over lighter dentine:
// every tooth has its roots in the maxilla or in the mandible, not both.
TEST_F(phantom_anatomy, TeethAreSeparateInTwoArcades)
{
    const phantom_voxel lo = phantom_voxel_at(-40, 100, -20), hi = phantom_voxel_at(40, 25, -90);
    const int maxilla = slice_at(-42), mandible = slice_at(-68);
    std::vector<char> seen(head.size(), 0);
    int upper = 0, lower = 0;
    for (int n = lo.n; n <= hi.n; ++n)
        for (int row = lo.row; row <= hi.row; ++row)
            for (int col = lo.col; col <= hi.col; ++col) {
                if (seen[index(n, row, col)] || at(n, row, col) < tooth_floor) continue;
                const std::vector<char> tooth =
                    flood({n, row, col}, [&](int m, int r, int c) { return at(m, r, c) >= tooth_floor; });
                int top = slices, bottom = 0, densest = 0, count = 0;
                for (std::size_t i = 0; i < head.size(); ++i) {
                    if (!tooth[i]) continue;
                    seen[i] = 1;
                    const int m = int(i / (side * side)) + 1;
                    top = std::min(top, m), bottom = std::max(bottom, m);
                    densest = std::max(densest, int(head[i]));
                    ++count;
                }
                EXPECT_GT(densest, 2850) << "tooth at " << n << " " << row << " " << col;
                EXPECT_LT(count, 1500) << "tooth at " << n << " " << row << " " << col;
                EXPECT_NE(top <= maxilla, bottom >= mandible) << "tooth at " << n << " " << row << " " << col;
                upper += top <= maxilla;
                lower += bottom >= mandible;
            }
    EXPECT_GE(upper, 12);
    EXPECT_LE(upper, 16);
    EXPECT_GE(lower, 12);
    EXPECT_LE(lower, 16);

    // Dentine, in the root of a canine, lighter than enamel.
    int root = 0;
    for (double dx = -2; dx <= 2; dx += 1)
        for (double dy = -2; dy <= 2; dy += 1) root = std::max(root, at_mm(14.7 + dx, 71.4 + dy, -40));
    EXPECT_GT(root, tooth_floor);
    EXPECT_LT(root, 2800);
}

// The spinal canal: a column of soft tissue from the foramen magnum down
// to the last slice, ringed by the bone of each vertebra in turn.
TEST_F(phantom_anatomy, VertebralCanalIsAColumnOfSoftTissueRingedByBone)
{
    const double canal_y = -15;
    const auto near_axis = [&](int n, int row, int col) {
        const double x = (col - 127.5) * phantom_pixel_mm, y = (131 - row) * phantom_pixel_mm;
        return x * x + (y - canal_y) * (y - canal_y) < 36 && at(n, row, col) >= 900 && at(n, row, col) < soft_top;
    };
    const phantom_voxel top = phantom_voxel_at(0.5, canal_y, -25);
    const std::vector<char> canal = flood(top, near_axis);
    ASSERT_TRUE(filled(canal, top));
    EXPECT_TRUE(filled(canal, {slices, top.row, top.col}));

    // Slices in which bone closes the canal in every direction, in runs.
    int runs = 0;
    bool ringed_before = false;
    for (int n = slice_at(-25); n <= slices; ++n) {
        const double z = 137 - (n - 1) * phantom_slice_mm;
        bool ringed = true;
        for (int degrees = 0; degrees < 360 && ringed; degrees += 30) {
            const double a = degrees * 3.14159265358979 / 180;
            ringed = distance_to(0.5, canal_y, z, std::sin(a), std::cos(a), 0, 25,
                                 [](int v) { return v >= bone_floor; }) > 4;
        }
        runs += ringed && !ringed_before;
        ringed_before = ringed;
    }
    EXPECT_GE(runs, 4);
}

// Each orbit is closed by bone behind, above, below and to either side,
// and open in front.
TEST_F(phantom_anatomy, OrbitsAreEnclosedByBoneExceptInFront)
{
    const auto bone = [](int v) { return v >= bone_floor; };
    for (double side_x : {-1.0, 1.0}) {
        const double x = 29 * side_x, y = 58, z = 15;
        EXPECT_LT(at_mm(x, y, z), soft_top);
        int closed = 0;
        for (int dx = -1; dx <= 1; ++dx)
            for (int dy = -1; dy <= 0; ++dy)
                for (int dz = -1; dz <= 1; ++dz) {
                    if (dx == 0 && dy == 0 && dz == 0) continue;
                    const double l = std::sqrt(double(dx * dx + dy * dy + dz * dz));
                    const double d = distance_to(x, y, z, dx / l, dy / l, dz / l, 45, bone);
                    EXPECT_GT(d, 0) << "orbit " << side_x << " towards " << dx << " " << dy << " " << dz;
                    closed += d > 0;
                }
        EXPECT_EQ(closed, 17);
        EXPECT_LT(distance_to(x, y, z, 0, 1, 0, 45, bone), 0) << "orbit " << side_x << " is closed in front";
    }
}

// Air fills the nasal cavity beside the septum and the sinuses, which bone
// walls in on every side.
TEST_F(phantom_anatomy, AirInTheNasalCavityAndSinuses)
{
    EXPECT_LT(at_mm(-6, 55, -14), air_top);
    EXPECT_LT(at_mm(6, 55, -14), air_top);
    EXPECT_GE(at_mm(0.5, 50, -14), bone_floor - 300) << "the septum";
    struct sinus {
        const char* name;
        double x, y, z;
    };
    for (const sinus& s :
         {sinus{"maxillary", 26, 54, -17}, sinus{"frontal", 9, 77.5, 34}, sinus{"sphenoid", 9, 24, -3}})
        for (double x : {-s.x, s.x}) {
            EXPECT_LT(at_mm(x, s.y, s.z), air_top) << s.name << " " << x;
            // Leaving the air in any direction, the next 4 mm hold bone.
            for (const auto& d :
                 {std::array<int, 3>{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}}) {
                double t = 0;
                while (t < 40 && at_mm(x + d[0] * t, s.y + d[1] * t, s.z + d[2] * t) < air_top + 200) t += 0.25;
                int wall = 0;
                for (double u = t; u < t + 4; u += 0.25)
                    wall = std::max(wall, at_mm(x + d[0] * u, s.y + d[1] * u, s.z + d[2] * u));
                EXPECT_GE(wall, thin_bone) << s.name << " " << x << " towards " << d[0] << " " << d[1] << " " << d[2];
            }
        }

    // The mastoid is a honeycomb of air cells in bone.
    for (double x : {-51.0, 51.0}) {
        int cells = 0, all = 0;
        for (double dx = -4; dx <= 4; dx += 1)
            for (double dy = -4; dy <= 4; dy += 1)
                for (double dz = -6; dz <= 6; dz += phantom_slice_mm) {
                    cells += at_mm(x + dx, -17 + dy, -12 + dz) < air_top;
                    ++all;
                }
        EXPECT_GT(cells, all / 8) << x;
        EXPECT_LT(cells, all * 3 / 4) << x;
    }
}

TEST_F(phantom_anatomy, BrainWithDarkerVentriclesInsideTheSkull)
{
    EXPECT_NEAR(at_mm(20, 20, 60), 1057, 30);
    // The lateral ventricles: fluid well below brain density.
    int fluid = 0;
    const int n = slice_at(55);
    for (int row = 90; row < 170; ++row)
        for (int col = 98; col < 158; ++col) fluid += at(n, row, col) <= 1035;
    EXPECT_GT(fluid, 80);
}

TEST_F(phantom_anatomy, FaceTowardsTheViewerWithEyesNoseAndEars)
{
    // The nose, mid-face, is the nearest point to the viewer, well in front
    // of the forehead.
    int nearest = 1;
    for (int n = 1; n <= slices; ++n)
        if (front_row(n, 128) < front_row(nearest, 128)) nearest = n;
    EXPECT_NEAR(nearest, slice_at(-20), 3);
    EXPECT_LT(front_row(nearest, 128) + 10, front_row(slice_at(60), 128));

    // Vitreous in both eyes.
    for (double x : {-31.0, 31.0}) EXPECT_NEAR(at_mm(x, 66, 15), 1030, 30) << x;

    // Ears stand out from both sides of the head.
    const auto at_ears = extent(slice_at(-2), 100, 180), above = extent(slice_at(40), 100, 180);
    EXPECT_LT(at_ears.first + 5, above.first);
    EXPECT_GT(at_ears.second - 5, above.second);
}

// Teeth, near 3000, are the densest thing in the head, and nothing else is
// as dense; a vertebra and the hyoid lie in the neck, much narrower than
// the head.
TEST_F(phantom_anatomy, TeethDensestAndSpineInTheNeck)
{
    int teeth = 0, elsewhere = 0, densest = 0;
    const int first = slice_at(-28), last = slice_at(-85);
    for (int n = 1; n <= slices; ++n)
        for (int i = 0; i < side * side; ++i) {
            const int v = at(n, i / side, i % side);
            densest = std::max(densest, v);
            if (v >= 2800) ++(n >= first && n <= last ? teeth : elsewhere);
        }
    EXPECT_GT(teeth, 500);
    EXPECT_EQ(elsewhere, 0);
    EXPECT_LE(densest, 3100);

    EXPECT_LT(width(slices), width(slice_at(40)) * 3 / 4);
    int body = 0;
    for (double y = -6; y <= 12; y += 1) body = std::max(body, at_mm(0.5, y, -106));
    EXPECT_GE(body, 1800) << "a vertebral body";
    EXPECT_GE(at_mm(0.5, 38, -82), bone_floor) << "the hyoid";
}

// Through the viewer's own loader, rotation and surface ray: from the front,
// the sides and the back the first density in the surface band is always
// soft tissue, never bone showing through the skin.
TEST_F(phantom_anatomy, SurfaceViewSeesSkin)
{
    temp_folder tmp;
    ASSERT_EQ(write_phantom((tmp.path / "fullHead").string(), false), "");
    ASSERT_EQ(read_head_slices((tmp.path / "fullHead").string(), [](int) {}).error, slice_error::none);

    for (float turn : {0.0f, 1.5708f, -1.5708f, 3.1416f}) {
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
