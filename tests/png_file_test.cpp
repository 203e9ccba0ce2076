// PNG files written as an editor saves them: never removing or cutting
// short what was at the target, refusing what is not a regular file, and
// numbered files that never replace one another.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/png_file.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

// A 5 x 3 frame, bottom row first, every byte different.
std::vector<std::uint8_t> test_frame()
{
    std::vector<std::uint8_t> rgb(5 * 3 * 3);
    for (std::size_t i = 0; i < rgb.size(); ++i) rgb[i] = std::uint8_t(i * 5 + 1);
    return rgb;
}

// The file's pixels as stored, top row first, or nothing when it is not
// a whole PNG.
std::vector<std::uint8_t> read_png(const fs::path& path, int* width = nullptr, int* height = nullptr)
{
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str())) return {};
    png.format = PNG_FORMAT_RGB;
    std::vector<std::uint8_t> rgb(PNG_IMAGE_SIZE(png));
    if (!png_image_finish_read(&png, nullptr, rgb.data(), 0, nullptr)) return {};
    if (width) *width = int(png.width);
    if (height) *height = int(png.height);
    return rgb;
}

std::string contents(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void put(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::vector<std::string> names_in(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(SavePng, StoresTheFrameTopRowFirst)
{
    temp_folder folder;
    const std::vector<std::uint8_t> rgb = test_frame();
    ASSERT_EQ(save_png((folder.path / "a.png").string(), rgb.data(), 5, 3), "");
    int width = 0, height = 0;
    const std::vector<std::uint8_t> stored = read_png(folder.path / "a.png", &width, &height);
    ASSERT_EQ(width, 5);
    ASSERT_EQ(height, 3);
    for (int row = 0; row < 3; ++row)
        for (int i = 0; i < 15; ++i)
            EXPECT_EQ(stored[std::size_t(row * 15 + i)], rgb[std::size_t((2 - row) * 15 + i)]) << row << " " << i;
    EXPECT_EQ(names_in(folder.path), std::vector<std::string>{"a.png"});  // no temporary file left
}

TEST(SavePng, ReplacesARegularFileKeepingItsPermissions)
{
    temp_folder folder;
    const fs::path target = folder.path / "old.png";
    put(target, std::string(10 << 20, 'x'));  // ten megabytes that must not trail the new file
    ::chmod(target.c_str(), 0640);
    const std::vector<std::uint8_t> rgb = test_frame();
    ASSERT_EQ(save_png(target.string(), rgb.data(), 5, 3), "");
    EXPECT_FALSE(read_png(target).empty());
    EXPECT_LT(fs::file_size(target), 1000u);
    struct stat info;
    ASSERT_EQ(::stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(names_in(folder.path), std::vector<std::string>{"old.png"});
}

TEST(SavePng, RefusesWhatIsNotARegularFileAndLeavesIt)
{
    temp_folder folder;
    const std::vector<std::uint8_t> rgb = test_frame();
    const fs::path real = folder.path / "real.png", link = folder.path / "link.png";
    const fs::path sub = folder.path / "sub", fifo = folder.path / "fifo";
    put(real, "precious");
    fs::create_symlink(real, link);
    fs::create_directory(sub);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const fs::path& target : {link, sub, fifo, fs::path("/dev/null")})
        EXPECT_EQ(save_png(target.string(), rgb.data(), 5, 3), "not a regular file; it is left as it is") << target;
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(contents(real), "precious");
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
    EXPECT_EQ(names_in(folder.path), (std::vector<std::string>{"fifo", "link.png", "real.png", "sub"}));
}

TEST(SavePng, AFailedWriteLeavesTheTargetAsItWas)
{
    temp_folder folder;
    const fs::path target = folder.path / "keep.png";
    put(target, "precious");
    const std::vector<std::uint8_t> rgb = test_frame();
    EXPECT_EQ(save_png(target.string(), rgb.data(), 0, 3), "a 0 x 3 image has no pixels to store");
    EXPECT_EQ(contents(target), "precious");
    EXPECT_EQ(save_png((folder.path / "missing" / "x.png").string(), rgb.data(), 5, 3), "No such file or directory");
    EXPECT_EQ(save_png("/dev/null/x.png", rgb.data(), 5, 3), "Not a directory");
    EXPECT_EQ(names_in(folder.path), std::vector<std::string>{"keep.png"});
}

TEST(SavePngNumbered, TakesTheLowestFreeNumberAndNeverReplaces)
{
    temp_folder folder;
    const std::vector<std::uint8_t> rgb = test_frame();
    std::string path;
    ASSERT_EQ(save_png_numbered(folder.path.string(), rgb.data(), 5, 3, path), "");
    EXPECT_EQ(path, (folder.path / "crane-0001.png").string());
    put(folder.path / "crane-0002.png", "someone else's");
    ASSERT_EQ(save_png_numbered(folder.path.string(), rgb.data(), 5, 3, path), "");
    EXPECT_EQ(path, (folder.path / "crane-0003.png").string());
    EXPECT_EQ(contents(folder.path / "crane-0002.png"), "someone else's");
    fs::remove(folder.path / "crane-0001.png");
    ASSERT_EQ(save_png_numbered(folder.path.string(), rgb.data(), 5, 3, path), "");
    EXPECT_EQ(path, (folder.path / "crane-0001.png").string());
    EXPECT_EQ(read_png(folder.path / "crane-0001.png"), read_png(folder.path / "crane-0003.png"));
    EXPECT_EQ(names_in(folder.path), (std::vector<std::string>{"crane-0001.png", "crane-0002.png", "crane-0003.png"}));
    // Past 9999 the number grows a digit.
    for (int n = 4; n <= 9999; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "crane-%04d.png", n);
        ::close(::open((folder.path / name).c_str(), O_CREAT | O_WRONLY, 0644));
    }
    ASSERT_EQ(save_png_numbered(folder.path.string(), rgb.data(), 5, 3, path), "");
    EXPECT_EQ(path, (folder.path / "crane-10000.png").string());
}

TEST(SavePngNumbered, AFailedWriteLeavesNothing)
{
    temp_folder folder;
    const std::vector<std::uint8_t> rgb = test_frame();
    std::string path;
    EXPECT_EQ(save_png_numbered((folder.path / "missing").string(), rgb.data(), 5, 3, path),
              "No such file or directory");
    EXPECT_NE(save_png_numbered(folder.path.string(), rgb.data(), 5, 0, path), "");
    EXPECT_TRUE(names_in(folder.path).empty());
}

}  // namespace
