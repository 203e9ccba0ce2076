// The atomic slice-folder writer (see slice_folder.h).
#include "volume/slice_folder.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "volume/slice_format.h"

namespace fs = std::filesystem;

namespace {

std::string errno_text(const std::string& what) { return what + ": " + std::strerror(errno); }

// The folder path without trailing slashes, so that its parent is the
// folder it sits in.
fs::path plain_folder_path(const std::string& folder)
{
    fs::path p(folder);
    while (p.has_relative_path() && p.filename().empty()) p = p.parent_path();
    return p;
}

fs::path parent_of(const fs::path& target)
{
    const fs::path parent = target.parent_path();
    return parent.empty() ? fs::path(".") : parent;
}

std::string temporary_prefix(const fs::path& target) { return target.filename().string() + ".tmp-"; }

// The first entry of folder, in name order, that is not a regular slice
// file; empty when there is none.
std::string first_foreign_entry(const fs::path& folder, std::error_code& ec)
{
    std::vector<std::string> foreign;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::error_code type_ec;
        if (!is_slice_file_name(name) || !it->is_regular_file(type_ec) || it->is_symlink(type_ec))
            foreign.push_back(name);
    }
    return foreign.empty() ? std::string() : *std::min_element(foreign.begin(), foreign.end());
}

// Holds an exclusive lock on the parent folder while one writer works in it.
struct parent_lock {
    int fd = -1;
    explicit parent_lock(const fs::path& parent)
    {
        fd = ::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) return;  // unreadable parent: work without taking turns
        while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {}
    }
    ~parent_lock()
    {
        if (fd >= 0) ::close(fd);
    }
    parent_lock(const parent_lock&) = delete;
    parent_lock& operator=(const parent_lock&) = delete;
};

// With the parent locked, every DIR.tmp-XXXXXX beside the target belongs to
// a run that ended without cleaning up.
void remove_stale_temporaries(const fs::path& target)
{
    const std::string prefix = temporary_prefix(target);
    std::error_code ec;
    std::vector<fs::path> stale;
    for (fs::directory_iterator it(parent_of(target), ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::error_code type_ec;
        if (name.size() >= prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0 &&
            it->is_directory(type_ec) && !it->is_symlink(type_ec))
            stale.push_back(it->path());
    }
    for (const fs::path& p : stale) fs::remove_all(p, ec);
}

// --- clean-up on SIGINT, SIGTERM and SIGHUP -------------------------------

// Paths the handler removes: the 94 files, then the folder. Prepared before
// the handler is installed, as a handler may only unlink and rmdir.
std::vector<std::string> cleanup_paths;
const char* volatile cleanup_list[slice_count + 1];
volatile sig_atomic_t cleanup_armed = 0;
constexpr int cleanup_signals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction saved_actions[std::size(cleanup_signals)];

extern "C" void remove_temporary_and_die(int signal)
{
    if (cleanup_armed) {
        for (int i = 0; i < slice_count; ++i) ::unlink(cleanup_list[i]);
        ::rmdir(cleanup_list[slice_count]);
    }
    // End as the signal would have ended the process.
    struct sigaction plain {};
    plain.sa_handler = SIG_DFL;
    ::sigaction(signal, &plain, nullptr);
    ::raise(signal);
}

// Arms the handler for the temporary folder temp for as long as it lives.
struct cleanup_on_signal {
    explicit cleanup_on_signal(const fs::path& temp)
    {
        cleanup_paths.clear();
        for (int n = 1; n <= slice_count; ++n) cleanup_paths.push_back((temp / slice_file_name(n)).string());
        cleanup_paths.push_back(temp.string());
        for (int i = 0; i <= slice_count; ++i) cleanup_list[i] = cleanup_paths[i].c_str();
        cleanup_armed = 1;
        struct sigaction action {};
        action.sa_handler = remove_temporary_and_die;
        sigemptyset(&action.sa_mask);
        for (int s : cleanup_signals) sigaddset(&action.sa_mask, s);
        for (std::size_t i = 0; i < std::size(cleanup_signals); ++i) {
            ::sigaction(cleanup_signals[i], nullptr, &saved_actions[i]);
            // A signal the process was told to ignore stays ignored.
            if (saved_actions[i].sa_handler != SIG_IGN) ::sigaction(cleanup_signals[i], &action, nullptr);
        }
    }
    ~cleanup_on_signal()
    {
        for (std::size_t i = 0; i < std::size(cleanup_signals); ++i)
            ::sigaction(cleanup_signals[i], &saved_actions[i], nullptr);
        cleanup_armed = 0;
    }
    cleanup_on_signal(const cleanup_on_signal&) = delete;
    cleanup_on_signal& operator=(const cleanup_on_signal&) = delete;
};

// --- writing ------------------------------------------------------------

std::string write_whole_file(const fs::path& path, const unsigned char* bytes, std::size_t size)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return errno_text(path.string());
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, bytes + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            const std::string reason = errno_text(path.string());
            ::close(fd);
            return reason;
        }
        done += std::size_t(n);
    }
    // On disk before the folder is renamed into place.
    if (::fsync(fd) != 0) {
        const std::string reason = errno_text(path.string());
        ::close(fd);
        return reason;
    }
    if (::close(fd) != 0) return errno_text(path.string());
    return {};
}

std::string write_slices(const fs::path& folder, const slice_maker& make_slice)
{
    std::vector<std::uint16_t> words(slice_words);
    std::vector<unsigned char> bytes(slice_bytes);
    for (int n = 1; n <= slice_count; ++n) {
        if (!make_slice(n, words.data())) return "the slices could not be made";
        encode_slice(words.data(), bytes.data());
        const std::string reason = write_whole_file(folder / slice_file_name(n), bytes.data(), bytes.size());
        if (!reason.empty()) return reason;
    }
    return {};
}

// Makes the renames inside folder durable.
void sync_folder(const fs::path& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

bool unsupported(int error) { return error == EINVAL || error == ENOSYS || error == ENOTSUP; }

const char* const already_exists = "already exists (use --force to replace it)";

// Renames temp to target, which must not exist.
std::string move_into_place(const fs::path& temp, const fs::path& target)
{
    if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return {};
    if (errno == EEXIST) return already_exists;
    if (!unsupported(errno)) return errno_text("cannot rename the new folder into place");
    // A file system without RENAME_NOREPLACE: the parent's lock keeps other
    // writers out between the check and the rename.
    std::error_code ec;
    if (fs::exists(fs::symlink_status(target, ec))) return already_exists;
    if (std::rename(temp.c_str(), target.c_str()) != 0) return errno_text("cannot rename the new folder into place");
    return {};
}

// Exchanges temp and target in one step; temp then names the old folder.
// Where the file system cannot exchange, the old folder is renamed to temp
// first (a kill between the two renames would leave no target).
std::string exchange_with(const fs::path& temp, const fs::path& target)
{
    if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) == 0) return {};
    if (!unsupported(errno)) return errno_text("cannot exchange the new folder with the old one");
    const fs::path aside = temp.string() + "-old";
    if (std::rename(target.c_str(), aside.c_str()) != 0) return errno_text("cannot move the old folder aside");
    if (std::rename(temp.c_str(), target.c_str()) != 0) {
        const std::string reason = errno_text("cannot rename the new folder into place");
        std::rename(aside.c_str(), target.c_str());
        return reason;
    }
    if (std::rename(aside.c_str(), temp.c_str()) != 0) {
        std::error_code ec;
        fs::remove_all(aside, ec);
    }
    return {};
}

}  // namespace

std::string check_slice_folder(const std::string& folder, bool force)
{
    const fs::path target = plain_folder_path(folder);
    struct stat info {};
    if (::lstat(target.c_str(), &info) != 0) {
        if (errno == ENOTDIR) return "the folder it would go in does not exist";
        if (errno != ENOENT) return errno_text("cannot examine it");
        std::error_code ec;
        if (!fs::is_directory(parent_of(target), ec)) return "the folder it would go in does not exist";
        return {};
    }
    if (!force) return already_exists;
    if (S_ISLNK(info.st_mode)) return "is a symbolic link: name the folder itself to replace it";
    if (!S_ISDIR(info.st_mode)) return "exists and is not a folder";
    std::error_code ec;
    const std::string foreign = first_foreign_entry(target, ec);
    if (ec) return "cannot list it: " + ec.message();
    if (!foreign.empty())
        return "holds " + foreign + ", which is not a slice file: --force replaces only a folder of slice files";
    return {};
}

std::string write_slice_folder(const std::string& folder, const slice_maker& make_slice, bool force)
{
    const fs::path target = plain_folder_path(folder);
    const parent_lock lock(parent_of(target));
    std::string reason = check_slice_folder(folder, force);
    if (!reason.empty()) return reason;
    remove_stale_temporaries(target);

    std::string temp_name = (parent_of(target) / (temporary_prefix(target) + "XXXXXX")).string();
    if (!::mkdtemp(temp_name.data())) return errno_text("cannot create a temporary folder beside it");
    const fs::path temp = temp_name;
    const cleanup_on_signal cleanup(temp);
    // mkdtemp makes the folder private; the result gets the usual permissions.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::chmod(temp.c_str(), 0777 & ~mask);

    reason = write_slices(temp, make_slice);
    if (reason.empty()) {
        sync_folder(temp);
        struct stat info {};
        const bool replacing = force && ::lstat(target.c_str(), &info) == 0;
        reason = replacing ? exchange_with(temp, target) : move_into_place(temp, target);
    }
    // Either the unfinished new folder or, after an exchange, the old one.
    std::error_code ec;
    fs::remove_all(temp, ec);
    if (reason.empty()) sync_folder(parent_of(target));
    return reason;
}
