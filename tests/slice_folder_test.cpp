// The slice-file names and the atomic slice-folder writer: what it refuses,
// and that no failure, signal or rival writer leaves a half-written folder
// or a temporary one behind.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "test_support.h"
#include "volume/slice_folder.h"
#include "volume/slice_format.h"

namespace fs = std::filesystem;

namespace {

// Slice n of a folder tagged with tag: every word differs from its
// neighbours and from the same word of another tag.
std::uint16_t tagged_word(int tag, int n, std::size_t i) { return std::uint16_t((tag * 977 + n * 31 + i) & 0x0FFF); }

slice_maker tagged(int tag)
{
    return [tag](int n, std::uint16_t* words) {
        for (std::size_t i = 0; i < slice_words; ++i) words[i] = tagged_word(tag, n, i);
        return true;
    };
}

std::string read_bytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The tag (0 to 9) whose slices the folder holds, all 94 complete; -1
// for anything else.
int folder_tag(const fs::path& folder)
{
    if (std::distance(fs::directory_iterator(folder), fs::directory_iterator()) != slice_count) return -1;
    std::vector<std::string> files;
    for (int n = 1; n <= slice_count; ++n) {
        files.push_back(read_bytes(folder / slice_file_name(n)));
        if (files.back().size() != slice_bytes) return -1;
    }
    for (int tag = 0; tag <= 9; ++tag) {
        bool all = true;
        for (int n = 1; n <= slice_count && all; ++n)
            for (std::size_t i = 0; i < slice_words && all; i += 997)
                all =
                    decode_word(reinterpret_cast<const unsigned char*>(&files[n - 1][2 * i])) == tagged_word(tag, n, i);
        if (all) return tag;
    }
    return -1;
}

// Names in folder other than the ones given.
std::vector<std::string> leftovers(const fs::path& folder, const std::vector<std::string>& expected)
{
    std::vector<std::string> extra;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (std::find(expected.begin(), expected.end(), name) == expected.end()) extra.push_back(name);
    }
    return extra;
}

TEST(slice_format, NamesAndLittleEndianWords)
{
    EXPECT_EQ(slice_path("a/b", 94), "a/b/headsq.94");
    for (const char* name : {"headsq.1", "headsq.9", "headsq.10", "headsq.94"}) EXPECT_TRUE(is_slice_file_name(name));
    for (const char* name : {"headsq.0", "headsq.95", "headsq.01", "headsq.", "headsq.1a", "headsq.100", "Headsq.1",
                             "headsq.-1", "xheadsq.1"})
        EXPECT_FALSE(is_slice_file_name(name)) << name;

    unsigned char bytes[2];
    encode_word(0xF123, bytes);
    EXPECT_EQ(bytes[0], 0x23);
    EXPECT_EQ(bytes[1], 0xF1);
    EXPECT_EQ(decode_word(bytes), 0xF123u);
}

TEST(slice_folder, WritesNinetyFourCompleteFilesAndNothingElse)
{
    temp_folder tmp;
    const fs::path head = tmp.path / "fullHead";
    ASSERT_EQ(write_slice_folder(head.string() + "/", tagged(3), false), "");
    EXPECT_EQ(folder_tag(head), 3);
    EXPECT_TRUE(leftovers(tmp.path, {"fullHead"}).empty());
    // mkdtemp's private mode is not passed on.
    EXPECT_EQ(fs::status(head).permissions() & fs::perms::others_read, fs::perms::others_read);
}

TEST(slice_folder, RefusesWhatItMustNotReplace)
{
    temp_folder tmp;
    const fs::path head = tmp.path / "fullHead";
    ASSERT_EQ(write_slice_folder(head.string(), tagged(1), false), "");

    EXPECT_EQ(write_slice_folder(head.string(), tagged(2), false), "already exists (use --force to replace it)");
    EXPECT_EQ(write_slice_folder((tmp.path / "no" / "head").string(), tagged(2), true),
              "the folder it would go in does not exist");

    // Anything beside the slice files, first in name order, is named.
    write_file(head / "notes", {'n'});
    fs::create_directory(head / "a-folder");
    EXPECT_EQ(write_slice_folder(head.string(), tagged(2), true),
              "holds a-folder, which is not a slice file: --force replaces only a folder of slice files");
    fs::remove(head / "a-folder");
    EXPECT_EQ(write_slice_folder(head.string(), tagged(2), true).rfind("holds notes,", 0), 0u);
    fs::remove(head / "notes");
    fs::remove(head / "headsq.7");
    fs::create_symlink(head / "headsq.8", head / "headsq.7");
    EXPECT_EQ(write_slice_folder(head.string(), tagged(2), true).rfind("holds headsq.7,", 0), 0u);
    fs::remove(head / "headsq.7");

    // A link to a folder, and a file, are not replaced.
    fs::create_directory_symlink(head, tmp.path / "link");
    EXPECT_EQ(write_slice_folder((tmp.path / "link").string(), tagged(2), true).rfind("is a symbolic link", 0), 0u);
    write_file(tmp.path / "file", {'f'});
    EXPECT_EQ(write_slice_folder((tmp.path / "file").string(), tagged(2), true), "exists and is not a folder");
    EXPECT_EQ(read_bytes(tmp.path / "file"), "f");

    // A folder with only slice files (here 93 of them) is replaced.
    EXPECT_EQ(write_slice_folder(head.string(), tagged(2), true), "");
    EXPECT_EQ(folder_tag(head), 2);
    EXPECT_TRUE(leftovers(tmp.path, {"fullHead", "link", "file"}).empty());
}

TEST(slice_folder, AFailureHalfWayChangesNothing)
{
    temp_folder tmp;
    const fs::path head = tmp.path / "fullHead";
    ASSERT_EQ(write_slice_folder(head.string(), tagged(1), false), "");
    const slice_maker fails_at_47 = [](int n, std::uint16_t* words) { return n < 47 && tagged(2)(n, words); };
    EXPECT_NE(write_slice_folder(head.string(), fails_at_47, true), "");
    EXPECT_EQ(folder_tag(head), 1);
    EXPECT_NE(write_slice_folder((tmp.path / "new").string(), fails_at_47, false), "");
    EXPECT_TRUE(leftovers(tmp.path, {"fullHead"}).empty());
}

// Runs write_slice_folder in a child that kills itself with signal at
// slice 47; returns how the child ended.
int killed_writer(const fs::path& head, int signal)
{
    const pid_t child = ::fork();
    if (child == 0) {
        const slice_maker dies_at_47 = [signal](int n, std::uint16_t* words) {
            if (n == 47) ::raise(signal);
            return tagged(2)(n, words);
        };
        write_slice_folder(head.string(), dies_at_47, true);
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return status;
}

TEST(slice_folder, ASignalHalfWayRemovesTheTemporaryFolder)
{
    temp_folder tmp;
    const fs::path head = tmp.path / "fullHead";
    ASSERT_EQ(write_slice_folder(head.string(), tagged(1), false), "");
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        const int status = killed_writer(head, signal);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << "status " << status;
        EXPECT_EQ(folder_tag(head), 1);
        EXPECT_TRUE(leftovers(tmp.path, {"fullHead"}).empty());
    }
    // SIGKILL cannot be caught: the next write removes what it left.
    EXPECT_TRUE(WIFSIGNALED(killed_writer(head, SIGKILL)));
    EXPECT_EQ(folder_tag(head), 1);
    EXPECT_EQ(leftovers(tmp.path, {"fullHead"}).size(), 1u);
    ASSERT_EQ(write_slice_folder((tmp.path / "other").string(), tagged(3), false), "");
    EXPECT_EQ(leftovers(tmp.path, {"fullHead", "other"}).size(), 1u) << "another folder's temporary is not ours";
    ASSERT_EQ(write_slice_folder(head.string(), tagged(4), true), "");
    EXPECT_EQ(folder_tag(head), 4);
    EXPECT_TRUE(leftovers(tmp.path, {"fullHead", "other"}).empty());
}

TEST(slice_folder, RivalWritersLeaveOneCompleteFolder)
{
    temp_folder tmp;
    const fs::path head = tmp.path / "fullHead";
    std::vector<pid_t> children;
    for (int tag = 1; tag <= 4; ++tag) {
        const pid_t child = ::fork();
        if (child == 0) ::_exit(write_slice_folder(head.string(), tagged(tag), true).empty() ? 0 : 1);
        children.push_back(child);
    }
    for (pid_t child : children) {
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_GE(folder_tag(head), 1);
    EXPECT_TRUE(leftovers(tmp.path, {"fullHead"}).empty());
}

}  // namespace
