// Safe PNG files.
#include "app/png_file.h"

#include <fcntl.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csetjmp>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace {

// libpng reports errors by longjmp; everything that needs undoing lives
// outside the function that may be jumped out of.
bool encode(png_structp png, png_infop info, std::FILE* file, const std::uint8_t* rgb, int width, int height)
{
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, file);
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    const std::size_t stride = std::size_t(width) * 3;
    for (int row = height - 1; row >= 0; --row) png_write_row(png, rgb + std::size_t(row) * stride);
    png_write_end(png, info);
    return true;
}

// libpng's own handlers would print; the reason is told by the caller.
[[noreturn]] void png_failed(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void png_warned(png_structp, png_const_charp) {}

std::string reason_of(int error, const char* otherwise) { return error ? std::strerror(error) : otherwise; }

// The temporary file being written, removed by the signal handler when an
// interrupt or termination arrives meanwhile.
char temporary_path[4096];
volatile std::sig_atomic_t temporary_live = 0;
const int cleanup_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
struct sigaction previous_actions[4];

extern "C" void remove_temporary_and_die(int signal)
{
    if (temporary_live) ::unlink(temporary_path);
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

// Signals the process ignores (a background job's interrupt) stay ignored.
void guard_temporary(const std::string& path)
{
    std::snprintf(temporary_path, sizeof temporary_path, "%s", path.c_str());
    temporary_live = 1;
    struct sigaction action {};
    action.sa_handler = remove_temporary_and_die;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < 4; ++i) {
        sigaction(cleanup_signals[i], nullptr, &previous_actions[i]);
        if (previous_actions[i].sa_handler != SIG_IGN) sigaction(cleanup_signals[i], &action, nullptr);
    }
}

void release_temporary()
{
    for (int i = 0; i < 4; ++i) sigaction(cleanup_signals[i], &previous_actions[i], nullptr);
    temporary_live = 0;
}

std::string folder_of(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string name_of(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The permissions a new file gets: 0666 less the process's umask.
mode_t new_file_mode()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// Encodes the PNG into the open descriptor and flushes it to the disk;
// closes it either way.
std::string write_descriptor(int fd, const std::uint8_t* rgb, int width, int height)
{
    std::FILE* file = ::fdopen(fd, "wb");
    if (!file) {
        const int error = errno;
        ::close(fd);
        return reason_of(error, "cannot open the temporary file");
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, png_failed, png_warned);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    errno = 0;
    bool written = info && encode(png, info, file, rgb, width, height);
    png_destroy_write_struct(&png, &info);
    int error = errno;
    if (written && std::fflush(file) != 0) written = false, error = errno;
    if (written && ::fsync(::fileno(file)) != 0) written = false, error = errno;
    if (std::fclose(file) != 0 && written) written = false, error = errno;
    return written ? std::string() : reason_of(error, "the PNG encoder failed");
}

// Writes the PNG into a new temporary file in folder, named after stem,
// with the given permissions. Returns its path in temporary, or the reason.
std::string write_temporary(const std::string& folder, const std::string& stem, mode_t mode, const std::uint8_t* rgb,
                            int width, int height, std::string& temporary)
{
    if (width <= 0 || height <= 0)
        return "a " + std::to_string(width) + " x " + std::to_string(height) + " image has no pixels to store";
    std::string pattern = folder + "/." + stem + ".XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) return std::strerror(errno);
    temporary = pattern;
    guard_temporary(temporary);
    std::string reason = ::fchmod(fd, mode) == 0 ? std::string() : std::strerror(errno);
    if (reason.empty())
        reason = write_descriptor(fd, rgb, width, height);
    else
        ::close(fd);
    if (!reason.empty()) {
        ::unlink(temporary.c_str());
        release_temporary();
    }
    return reason;
}

// Moves the temporary file to target unless something is there: a hard
// link where the file system has them, else a rename that refuses to
// replace. Returns 0, or the error (EEXIST when target is taken).
int place_without_replacing(const std::string& temporary, const std::string& target)
{
    if (::link(temporary.c_str(), target.c_str()) == 0) {
        ::unlink(temporary.c_str());
        return 0;
    }
    if (errno == EEXIST) return EEXIST;
    if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return 0;
    return errno;
}

}  // namespace

std::string save_png(const std::string& path, const std::uint8_t* rgb, int width, int height)
{
    struct stat existing;
    mode_t mode = new_file_mode();
    if (::lstat(path.c_str(), &existing) == 0) {
        if (!S_ISREG(existing.st_mode)) return "not a regular file; it is left as it is";
        mode = existing.st_mode & 07777;
    } else if (errno != ENOENT) {
        return std::strerror(errno);
    }
    std::string temporary;
    const std::string reason = write_temporary(folder_of(path), name_of(path), mode, rgb, width, height, temporary);
    if (!reason.empty()) return reason;
    const int renamed = ::rename(temporary.c_str(), path.c_str()) == 0 ? 0 : errno;
    if (renamed == 0) temporary_live = 0;  // the name now belongs to the target
    if (renamed) ::unlink(temporary.c_str());
    release_temporary();
    return renamed ? std::strerror(renamed) : std::string();
}

std::string save_png_numbered(const std::string& folder, const std::uint8_t* rgb, int width, int height,
                              std::string& saved_path)
{
    std::string temporary;
    const std::string reason = write_temporary(folder, "crane", new_file_mode(), rgb, width, height, temporary);
    if (!reason.empty()) return reason;
    int error = EEXIST;
    for (int number = 1; error == EEXIST && number < 1000000; ++number) {
        char name[32];
        std::snprintf(name, sizeof name, "/crane-%04d.png", number);
        saved_path = folder + name;
        error = place_without_replacing(temporary, saved_path);
    }
    if (error) ::unlink(temporary.c_str());
    release_temporary();
    return error ? std::strerror(error) : std::string();
}
