// The slice loader and the rotation.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <string>

#include "app/startup.h"
#include "app/viewer.h"
#include "test_support.h"
#include "volume/brick_bounds.h"
#include "volume/lanes.h"
#include "volume/rotation.h"
#include "volume/rotation_kernels.h"
#include "volume/slice_format.h"
#include "volume/voxel_store.h"

namespace fs = std::filesystem;

namespace {

int at(int x, int y, int z) { return volume[voxel_index(x, y, z)]; }
int source_at(int x, int y, int z) { return volume_source[voxel_index(x, y, z)]; }

// A word that tells where it came from: slice n, row and column, with the
// upper four bits set so that masking is exercised everywhere.
std::uint16_t tagged_word(int n, int row, int col)
{
    return std::uint16_t(0xF000 | ((n * 31 + row * 7 + col * 3) & 0x0FFF));
}
int tagged_density(int n, int row, int col) { return (n * 31 + row * 7 + col * 3) & 0x0FFF; }

// Runs the viewer's own loader, which reads ./fullHead, from inside folder.
struct loaded {
    int result;
    std::string out;
};
loaded load_in(const fs::path& folder)
{
    const fs::path previous = fs::current_path();
    fs::current_path(folder);
    loaded l;
    l.out = capture_stdout([&] { l.result = load_head_volume(); });
    fs::current_path(previous);
    return l;
}

std::string dots(int n) { return std::string(std::size_t(n), '.'); }

class LoaderTest : public testing::Test {
protected:
    void SetUp() override { reset_viewer(); }
    temp_folder tmp;
    fs::path head() const { return tmp.path / "fullHead"; }
};

TEST_F(LoaderTest, PlacesColumnsOnXRowsOnZAndSlicesDownY)
{
    write_slices(head(), 1, 94, tagged_word);
    const loaded l = load_in(tmp.path);
    ASSERT_EQ(l.result, 0);
    EXPECT_EQ(dim_x, 256);
    EXPECT_EQ(dim_y, 94);
    EXPECT_EQ(dim_z, 256);

    // Row 10, column 20 of file n lands at x 20, y 94 - n, z 10.
    EXPECT_EQ(at(20, 93, 10), tagged_density(1, 10, 20));
    EXPECT_EQ(at(20, 0, 10), tagged_density(94, 10, 20));
    EXPECT_EQ(at(255, 47, 3), tagged_density(47, 3, 255));
    EXPECT_EQ(at(3, 60, 255), tagged_density(34, 255, 3));

    int largest = 0;
    for (int n = 1; n <= 94; ++n)
        for (int row = 0; row < 256; ++row)
            for (int col = 0; col < 256; ++col) {
                const int d = tagged_density(n, row, col);
                largest = std::max(largest, d);
                ASSERT_EQ(at(col, 94 - n, row), d);
                ASSERT_EQ(source_at(col, 94 - n, row), d);
            }
    EXPECT_EQ(max_density, largest);
    EXPECT_EQ(l.out, dots(94) + std::to_string(largest) + "\n");

    // Nothing is written above the 94 slice planes.
    for (int x = 0; x < 256; x += 51)
        for (int y = 94; y < 256; y += 7)
            for (int z = 0; z < 256; z += 17) ASSERT_EQ(at(x, y, z), 0);
}

TEST_F(LoaderTest, MasksTheUpperFourBitsAndReadsLittleEndian)
{
    write_slices(head(), 1, 94, [](int n, int row, int col) -> std::uint16_t {
        if (n == 1 && row == 0 && col == 0) return 0x1234;  // bytes 0x34 0x12
        if (n == 2 && row == 5 && col == 6) return 0xF123;
        return 0xF000;
    });
    const loaded l = load_in(tmp.path);
    ASSERT_EQ(l.result, 0);
    EXPECT_EQ(at(0, 93, 0), 0x0234);
    EXPECT_EQ(at(6, 92, 5), 0x0123);
    EXPECT_EQ(max_density, 0x0234);
}

TEST_F(LoaderTest, AllUpperBitsGiveAnEmptyVolume)
{
    write_slices(head(), 1, 94, [](int, int, int) -> std::uint16_t { return 0xF000; });
    const loaded l = load_in(tmp.path);
    EXPECT_EQ(l.result, 0);
    EXPECT_EQ(max_density, 0);
    EXPECT_EQ(l.out, dots(94) + "0\n");
}

TEST_F(LoaderTest, MissingFirstFileLeavesTheGridsEmpty)
{
    fs::create_directories(head());
    const loaded l = load_in(tmp.path);
    EXPECT_EQ(l.result, -1);
    EXPECT_EQ(l.out, "erreur d'ouverture du fichier fullHead/headsq.1");
    // The extents keep their loading values.
    EXPECT_EQ(dim_z, 94);
    EXPECT_EQ(dim_x, 256);
    EXPECT_EQ(dim_y, 256);
    EXPECT_EQ(max_density, 0);
}

TEST_F(LoaderTest, MissingMiddleFileKeepsTheSlicesBeforeIt)
{
    write_slices(head(), 1, 49, tagged_word);
    write_slices(head(), 51, 94, tagged_word);
    const loaded l = load_in(tmp.path);
    EXPECT_EQ(l.result, -1);
    EXPECT_EQ(l.out, dots(49) + "erreur d'ouverture du fichier fullHead/headsq.50");
    EXPECT_EQ(at(9, 45, 8), tagged_density(49, 8, 9));  // slice 49 stored
    EXPECT_EQ(at(9, 44, 8), 0);                         // slice 51 never read
    EXPECT_EQ(dim_z, 94);
}

TEST_F(LoaderTest, ShortOrUnreadableSliceIsAnErrorNotStaleData)
{
    write_slices(head(), 1, 94, tagged_word);
    // Slice 50 loses its last byte: it must not be filled from slice 49.
    fs::resize_file(head() / "headsq.50", slice_bytes - 1);
    loaded l = load_in(tmp.path);
    EXPECT_EQ(l.result, -1);
    EXPECT_EQ(l.out, dots(49) + "erreur de lecture du fichier fullHead/headsq.50");
    EXPECT_EQ(at(9, 44, 8), 0);

    // An empty file, and a folder in place of a file, are unreadable too.
    reset_viewer();
    fs::resize_file(head() / "headsq.50", slice_bytes);
    fs::resize_file(head() / "headsq.1", 0);
    l = load_in(tmp.path);
    EXPECT_EQ(l.out, "erreur de lecture du fichier fullHead/headsq.1");

    fs::remove(head() / "headsq.1");
    fs::create_directory(head() / "headsq.1");
    l = load_in(tmp.path);
    EXPECT_EQ(l.result, -1);
    EXPECT_EQ(l.out, "erreur de lecture du fichier fullHead/headsq.1");
}

TEST_F(LoaderTest, FifoAndDanglingLinkAreReportedNotWaitedFor)
{
    write_slices(head(), 1, 94, tagged_word);
    // A FIFO with no writer would block a plain open for ever.
    fs::remove(head() / "headsq.3");
    ASSERT_EQ(mkfifo((head() / "headsq.3").c_str(), 0600), 0);
    loaded l = load_in(tmp.path);
    EXPECT_EQ(l.result, -1);
    EXPECT_EQ(l.out, dots(2) + "erreur de lecture du fichier fullHead/headsq.3");

    fs::remove(head() / "headsq.3");
    fs::create_symlink(tmp.path / "nowhere", head() / "headsq.3");
    l = load_in(tmp.path);
    EXPECT_EQ(l.out, dots(2) + "erreur d'ouverture du fichier fullHead/headsq.3");
}

TEST_F(LoaderTest, HugeSparseSliceIsReadOnlyAsFarAsOneSlice)
{
    write_slices(head(), 1, 94, [](int n, int row, int col) -> std::uint16_t {
        return n == 1 ? 0 : std::uint16_t(0xFFFF - (row + col) % 2);
    });
    fs::resize_file(head() / "headsq.1", std::uintmax_t{1} << 30);  // a 1 GiB hole after the slice
    const loaded l = load_in(tmp.path);
    EXPECT_EQ(l.result, 0);
    EXPECT_EQ(at(5, 93, 5), 0);
    EXPECT_EQ(at(5, 0, 5), 4095);  // 0xFFFF with its upper bits dropped
    EXPECT_EQ(at(5, 0, 6), 4094);
    EXPECT_EQ(max_density, 4095);
}

TEST_F(LoaderTest, StoresTheTwelveBitsInSixteen)
{
    static_assert(sizeof(volume_source[0]) == 2 && sizeof(volume[0]) == 2);
    const std::uint16_t words[] = {0x0FFF, 0xFFFF, 0xF000, 0x8FFF, 0x7123, 0x1000};
    const int densities[] = {4095, 4095, 0, 4095, 0x123, 0};
    write_slices(head(), 1, 94, [&](int n, int row, int col) -> std::uint16_t {
        return n == 7 && row == 3 && col < 6 ? words[col] : std::uint16_t(0xF000 | (n + row + col) % 4096);
    });
    const loaded l = load_in(tmp.path);
    ASSERT_EQ(l.result, 0);
    for (int col = 0; col < 6; ++col) {
        EXPECT_EQ(at(col, 87, 3), densities[col]) << col;
        EXPECT_EQ(source_at(col, 87, 3), densities[col]) << col;
    }
    EXPECT_EQ(max_density, 4095);
}

TEST_F(LoaderTest, NoSliceAfterABadOneIsStoredThoughLaterFilesAreFine)
{
    // The loader reads several slices at once; those after the bad one are
    // read, but never stored.
    write_slices(head(), 1, 94, tagged_word);
    fs::resize_file(head() / "headsq.20", slice_bytes / 2);
    const loaded l = load_in(tmp.path);
    EXPECT_EQ(l.result, -1);
    EXPECT_EQ(l.out, dots(19) + "erreur de lecture du fichier fullHead/headsq.20");
    for (int n : {1, 16, 17, 19}) EXPECT_EQ(at(9, 94 - n, 8), tagged_density(n, 8, 9)) << n;
    for (int n : {20, 21, 32, 33, 94}) {
        EXPECT_EQ(at(9, 94 - n, 8), 0) << n;
        EXPECT_EQ(source_at(9, 94 - n, 8), 0) << n;
    }
    int largest = 0;
    for (int n = 1; n < 20; ++n)
        for (int row = 0; row < 256; ++row)
            for (int col = 0; col < 256; ++col) largest = std::max(largest, tagged_density(n, row, col));
    EXPECT_EQ(max_density, largest);
}

TEST_F(LoaderTest, LongerSliceKeepsOnlyItsFirstWords)
{
    write_slices(head(), 1, 94, tagged_word);
    {
        std::FILE* f = std::fopen((head() / "headsq.7").c_str(), "ab");
        ASSERT_NE(f, nullptr);
        std::fputs("trailing bytes that are never read", f);
        std::fclose(f);
    }
    const loaded l = load_in(tmp.path);
    EXPECT_EQ(l.result, 0);
    EXPECT_EQ(at(255, 87, 255), tagged_density(7, 255, 255));
}

TEST(SphereHook, LeavesTheStoreEmptyAndSilent)
{
    reset_viewer();
    char title[8];
    const std::string out = capture_stdout([&] {
        const std::string err = capture_stderr([&] { EXPECT_EQ(prepare_volume(data_source::sphere, title), 0); });
        EXPECT_EQ(err, "Calcul d'une sphere\n");
    });
    EXPECT_EQ(out, "");
    EXPECT_STREQ(title, "Sph\xE8re");
    EXPECT_EQ(dim_x + dim_y + dim_z, 0);
    EXPECT_EQ(source_density_high(), 0);
}

// ---------------------------------------------------------------- rotation

// The kernels blend along y and z in float with fused multiply-adds and fall
// back to the double blends of the plain resample where the float result
// lies within the margin of a whole number. This replays those operations
// on one cell, for corner values and fractions drawn so that many exact
// results are whole numbers, and checks that outside the margin they always
// truncate as the plain resample does, and that they do not everywhere.
TEST(FloatBlends, TruncateAsTheDoubleBlendsOutsideTheMargin)
{
    reset_viewer();
    dim_x = dim_y = dim_z = 4;
    const float margin = float_blend_margin(0, 4095);
    std::uint64_t state = 12345;
    const auto next = [&] {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return unsigned(state >> 33);
    };
    int differ = 0, wrong = 0, fell_back = 0;
    for (int n = 0; n < 400000; ++n) {
        // Corners close to one another or spread over the whole range;
        // fractions of a few bits, or of all 23.
        const int base = int(next() % 4096), spread = n % 2 ? 8 : 4096;
        int s[2][2][2];
        for (auto& plane : s)
            for (auto& row : plane)
                for (int& v : row) v = std::clamp(base + int(next() % (2 * spread + 1)) - spread, 0, 4095);
        const auto fraction = [&] {
            const int bits = n % 3 ? 3 : 23;
            return float(next() % (1u << bits)) / float(1u << bits);
        };
        const float tx = fraction(), ty = fraction(), tz = fraction();
        for (int x = 0; x < 2; ++x)
            for (int y = 0; y < 2; ++y)
                for (int z = 0; z < 2; ++z) volume_source[voxel_index(1 + x, 1 + y, 1 + z)] = stored_density(s[x][y][z]);
        const int plain = resample(1 + tx, 1 + ty, 1 + tz);

        float lx[2][2];  // [y][z], as the kernels' blends along x give them
        for (int y = 0; y < 2; ++y)
            for (int z = 0; z < 2; ++z) lx[y][z] = std::fma(tx, float(s[1][y][z] - s[0][y][z]), float(s[0][y][z]));
        const float ly0 = std::fma(ty, lx[1][0] - lx[0][0], lx[0][0]), ly1 = std::fma(ty, lx[1][1] - lx[0][1], lx[0][1]);
        const float lz = std::fma(tz, ly1 - ly0, ly0);
        const int truncated = int(lz);
        const float rest = lz - float(truncated);
        differ += truncated != plain;
        if ((truncated >= 1 && rest < margin) || rest > 1 - margin)
            ++fell_back;
        else
            wrong += truncated != plain;
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_GT(differ, 0);                 // the margin is needed
    EXPECT_LT(fell_back, 400000 / 2);     // and the float blends are mostly enough
}

class RotationTest : public testing::Test {
protected:
    // A non-cubic volume with distinct values, and a sentinel beyond the
    // extents that the rotation must never touch.
    void SetUp() override
    {
        reset_viewer();
        fill_volume(12, 7, 10, [](int x, int y, int z) { return 100 + x * 97 + y * 13 + z * 5; });
        volume[voxel_index(12, 3, 3)] = -7;
        volume[voxel_index(3, 7, 3)] = -7;
        volume[voxel_index(3, 3, 10)] = -7;
    }
};

TEST_F(RotationTest, ZeroAnglesCopyAllButTheFarPlanes)
{
    rotate_volume(0.0f, 0.0f);
    for (int x = 0; x < 12; ++x)
        for (int y = 0; y < 7; ++y)
            for (int z = 0; z < 10; ++z) {
                const bool far = x == 11 || y == 6 || z == 9;
                ASSERT_EQ(at(x, y, z), far ? 0 : source_at(x, y, z)) << x << " " << y << " " << z;
            }
    EXPECT_EQ(at(12, 3, 3), -7);
    EXPECT_EQ(at(3, 7, 3), -7);
    EXPECT_EQ(at(3, 3, 10), -7);
}

TEST_F(RotationTest, AnglesAreAbsoluteAndRepeatable)
{
    rotate_volume(0.3f, -0.2f);
    const std::vector<int> first(volume, volume + volume_elements);
    rotate_volume(1.1f, 0.7f);
    rotate_volume(0.3f, -0.2f);
    EXPECT_TRUE(std::equal(first.begin(), first.end(), volume));
}

TEST_F(RotationTest, HalfTurnMirrorsAboutTheCentre)
{
    // About the vertical axis by pi: x -> 2 cx - x and z -> 2 cz - z, with
    // the centre at (6, 3, 5). Rounding of the float sine may pull a value
    // one below its sample.
    rotate_volume(0.0f, float(M_PI));
    EXPECT_EQ(at(6, 3, 5), source_at(6, 3, 5));
    for (int x = 2; x <= 10; ++x)
        for (int z = 2; z <= 8; ++z) EXPECT_NEAR(at(x, 2, z), source_at(12 - x, 2, 10 - z), 1) << x << " " << z;
    // Source points beyond the extents give 0, never wrapped-in data.
    EXPECT_EQ(at(0, 2, 5), 0);  // source x = 12, outside
    EXPECT_EQ(at(6, 2, 0), 0);  // source z = 10, outside
}

TEST_F(RotationTest, TinyAngleLeftByTheKeysIsNotTheIdentity)
{
    // o then l leave angle_a at 1.4901161e-9: points with y < cy sample just
    // below their own layer, so layer 0 there falls outside and turns 0.
    rotate_volume(1.4901161e-9f, 0.0f);
    EXPECT_EQ(at(4, 1, 0), 0);
    EXPECT_EQ(at(4, 4, 0), source_at(4, 4, 0));
}

TEST_F(RotationTest, NotANumberEmptiesTheExtents)
{
    rotate_volume(std::numeric_limits<float>::quiet_NaN(), 0.0f);
    for (int x = 0; x < 12; ++x)
        for (int y = 0; y < 7; ++y)
            for (int z = 0; z < 10; ++z) ASSERT_EQ(at(x, y, z), 0);
    EXPECT_EQ(at(12, 3, 3), -7);
}

TEST_F(RotationTest, TurnVolumeResamplesOnlyForANewTurnAndZeroIsAsLoaded)
{
    turn_volume(0.3f, -0.2f);
    EXPECT_EQ(volume_angle_a, 0.3f);
    EXPECT_EQ(volume_angle_b, -0.2f);
    const int turned = at(5, 3, 4);
    volume[voxel_index(5, 3, 4)] = -5;  // the same turn again computes nothing
    turn_volume(0.3f, -0.2f);
    EXPECT_EQ(at(5, 3, 4), -5);
    turn_volume(0.3f, 0.2f);
    EXPECT_NE(at(5, 3, 4), -5);
    turn_volume(0.3f, -0.2f);
    EXPECT_EQ(at(5, 3, 4), turned);
    // Back at (0, 0) the volume is the source again, far planes included
    // (rotate_volume at zero angles would clear them), and nothing beyond
    // the extents is touched.
    turn_volume(0.0f, 0.0f);
    for (int x = 0; x < 12; ++x)
        for (int y = 0; y < 7; ++y)
            for (int z = 0; z < 10; ++z) ASSERT_EQ(at(x, y, z), source_at(x, y, z));
    EXPECT_EQ(at(12, 3, 3), -7);
}

// The density bounds by which surface rays pass over runs hold every
// voxel of their brick, for the volume as loaded and turned; and they are
// tight enough in air to pass over it.
TEST(BrickBounds, HoldEveryVoxelOfTheirBrick)
{
    reset_viewer();
    for (auto [nx, ny, nz] : {std::array{256, 94, 256}, std::array{45, 70, 37}}) {
        fill_volume(nx, ny, nz, [&](int x, int y, int z) {
            const double dx = x - nx / 2.0, dy = y - ny / 2.0, dz = z - nz / 2.0;
            const int air = (x * 7 + y * 13 + z * 3) % 41;
            return dx * dx / (nx * nx) + dy * dy / (ny * ny) + dz * dz / (nz * nz) < 0.15 ? 1000 + air * 50 : air;
        });
        // The largest density, which bounds what an accumulation ray adds per
        // layer: here the brightest air, or the head's brightest voxel.
        int highest = 0;
        for (int x = 0; x < nx; ++x)
            for (int y = 0; y < ny; ++y)
                for (int z = 0; z < nz; ++z) highest = std::max(highest, int(volume_source[voxel_index(x, y, z)]));
        EXPECT_EQ(source_density_high(), highest) << nx << "x" << ny << "x" << nz;
        const std::pair<float, float> turns[] = {{0.0f, 0.0f},       {0.2f, 0.3f},       {-2.4f, 0.785f},
                                                 {1.5707964f, 0.0f}, {0.0f, 3.1415927f}, {NAN, 0.5f}};
        // Bounded on demand as any reader asks, then again by the surface
        // renderer's path, which prepares the turn first.
        for (const auto& [a, b] : turns)
            for (const bool prepared : {false, true}) {
                turn_volume(a, b);
                if (prepared) prepare_run_bricks();
                int outside = 0, air_bricks = 0;
                for (int x = 0; x < nx - 1; ++x)
                    for (int y = 0; y < ny - 1; ++y)
                        for (int z = 0; z < nz; ++z) {
                            const density_bounds bounds = run_brick_of(x, y, run_of(z));
                            for (int dx = 0; dx <= 1; ++dx)
                                for (int dy = 0; dy <= 1; ++dy) {
                                    const int v = at(x + dx, y + dy, z);
                                    outside += v < bounds.low || v > bounds.high;
                                }
                            air_bricks += bounds.high < 100;
                        }
                EXPECT_EQ(outside, 0) << nx << "x" << ny << "x" << nz << " turned " << a << ", " << b << " prepared "
                                      << prepared;
                if (!std::isnan(a)) {
                    EXPECT_GT(air_bricks, 0) << nx << "x" << ny << "x" << nz << " turned " << a << ", " << b;
                }
                turn_volume(0.0f, 0.0f);  // so that the same turn is bounded afresh
            }
    }
}

TEST(LaneSets, TheBestSetRunsUnlessALesserOneIsAsked)
{
    if (std::getenv("CRANE_SIMD")) GTEST_SKIP() << "CRANE_SIMD is set";
    EXPECT_EQ(lane_isa(), best_isa());
    isa set = isa::avx512;
    EXPECT_TRUE(parse_isa("plain", set));
    EXPECT_EQ(set, isa::sse2);
    EXPECT_FALSE(parse_isa("neon", set));
    EXPECT_STREQ(isa_name(isa::avx2), "avx2");
}

TEST(RotationEmpty, VisitsNothing)
{
    reset_viewer();
    volume[0] = 5;
    rotate_volume(0.5f, 0.5f);
    EXPECT_EQ(volume[0], 5);
}

}  // namespace
