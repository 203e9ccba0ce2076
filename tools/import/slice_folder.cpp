// Writing the slice folder so that a reader never sees it half written: the
// files go to a temporary folder beside the target, which is renamed into
// place once every file is complete and on disk.
#include "import.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string errno_text(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

// The folder path without a trailing slash, so that its parent is the
// folder it sits in.
fs::path plain_folder_path(const std::string& folder)
{
    fs::path p(folder);
    while (p.has_relative_path() && p.filename().empty()) p = p.parent_path();
    return p;
}

// parent/NAME.SUFFIX-XXXXXX, created empty with mkdtemp.
std::string make_temporary_folder(const fs::path& target, const char* suffix)
{
    fs::path parent = target.parent_path();
    if (parent.empty()) parent = ".";
    std::string name = (parent / (target.filename().string() + suffix + "-XXXXXX")).string();
    if (!mkdtemp(name.data())) return {};
    return name;
}

std::string write_whole_file(const fs::path& path, const unsigned char* bytes, std::size_t size)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return errno_text(path.c_str());
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, bytes + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const std::string reason = errno_text(path.c_str());
            ::close(fd);
            return reason;
        }
        done += std::size_t(n);
    }
    if (::fsync(fd) != 0) {
        const std::string reason = errno_text(path.c_str());
        ::close(fd);
        return reason;
    }
    if (::close(fd) != 0) return errno_text(path.c_str());
    return {};
}

std::string write_slices(const fs::path& folder, const std::vector<std::uint16_t>& words)
{
    std::vector<unsigned char> bytes(import_slice_words * 2);
    for (int n = 1; n <= import_slices; ++n) {
        const std::uint16_t* slice = words.data() + std::size_t(n - 1) * import_slice_words;
        for (std::size_t i = 0; i < import_slice_words; ++i) {
            bytes[2 * i] = std::uint8_t(slice[i] & 0xFF);
            bytes[2 * i + 1] = std::uint8_t(slice[i] >> 8);
        }
        const std::string reason =
            write_whole_file(folder / ("headsq." + std::to_string(n)), bytes.data(), bytes.size());
        if (!reason.empty()) return reason;
    }
    return {};
}

// Makes a rename inside folder durable.
void sync_folder(const fs::path& folder)
{
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Renames temp to target, which must not exist.
std::string rename_without_replacing(const fs::path& temp, const fs::path& target)
{
    if (renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return {};
    if (errno == EEXIST) return "already exists (use --force to replace it)";
    if (errno != EINVAL && errno != ENOSYS) return errno_text("cannot rename the new folder into place");
    // A file system without RENAME_NOREPLACE: check, then rename.
    std::error_code ec;
    if (fs::exists(fs::symlink_status(target, ec))) return "already exists (use --force to replace it)";
    if (std::rename(temp.c_str(), target.c_str()) != 0) return errno_text("cannot rename the new folder into place");
    return {};
}

// Moves the old target aside, the new folder in, and only then removes the
// old one; if the second rename fails the old one is put back.
std::string replace_folder(const fs::path& temp, const fs::path& target)
{
    const std::string aside = make_temporary_folder(target, ".old");
    if (aside.empty()) return errno_text("cannot create a folder to move the old one aside");
    // rename() replaces the empty folder that mkdtemp made.
    if (std::rename(target.c_str(), aside.c_str()) != 0) {
        const std::string reason = errno_text("cannot move the old folder aside");
        ::rmdir(aside.c_str());
        return reason;
    }
    if (std::rename(temp.c_str(), target.c_str()) != 0) {
        const std::string reason = errno_text("cannot rename the new folder into place");
        std::rename(aside.c_str(), target.c_str());
        return reason;
    }
    std::error_code ec;
    fs::remove_all(aside, ec);
    return {};
}

}  // namespace

std::string check_output_folder(const std::string& folder, bool force)
{
    std::error_code ec;
    const fs::path target = plain_folder_path(folder);
    if (!fs::exists(fs::symlink_status(target, ec))) {
        const fs::path parent = target.parent_path();
        if (!parent.empty() && !fs::is_directory(parent, ec)) return "the folder it would go in does not exist";
        return {};
    }
    if (!force) return "already exists (use --force to replace it)";
    if (!fs::is_directory(target, ec)) return "exists and is not a folder";
    return {};
}

std::string write_slice_folder(const std::string& folder, const std::vector<std::uint16_t>& words, bool force)
{
    std::string reason = check_output_folder(folder, force);
    if (!reason.empty()) return reason;
    if (words.size() != import_words) return "wrong number of samples to write";

    const fs::path target = plain_folder_path(folder);
    const std::string temp = make_temporary_folder(target, ".tmp");
    if (temp.empty()) return errno_text("cannot create a temporary folder beside it");
    // mkdtemp makes the folder private; the result gets the usual permissions.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::chmod(temp.c_str(), 0777 & ~mask);

    reason = write_slices(temp, words);
    if (reason.empty()) {
        sync_folder(temp);
        std::error_code ec;
        const bool exists = fs::exists(fs::symlink_status(target, ec));
        reason = force && exists ? replace_folder(temp, target) : rename_without_replacing(temp, target);
    }
    if (!reason.empty()) {
        std::error_code ec;
        fs::remove_all(temp, ec);
        return reason;
    }
    sync_folder(target.parent_path());
    return {};
}
