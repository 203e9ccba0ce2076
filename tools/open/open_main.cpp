// crane-open INPUT [--series UID]
//
// Opens a scan in the viewer in one step: imports it with crane-import into
// a folder of its own under the user's cache directory, reused while the
// input is unchanged, and starts crane there. ./fullHead is never touched.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "volume/slice_format.h"

namespace fs = std::filesystem;

namespace {

const char usage_text[] = "usage: crane-open INPUT [--series UID]\n"
                          "\n"
                          "Imports INPUT (what crane-import reads: a DICOM folder, NIfTI, NRRD or MetaImage)\n"
                          "into $XDG_CACHE_HOME/crane/KEY/fullHead (default ~/.cache/crane/...), where KEY\n"
                          "follows the input's path and modification times, and starts the viewer there.\n"
                          "An unchanged input is not imported again. ./fullHead is left alone.\n"
                          "\n"
                          "  --series UID   the DICOM series to import when the folder holds several\n"
                          "  -h, --help     show this text\n"
                          "\n"
                          "The viewer is crane beside this program; the environment variable CRANE_VIEWER\n"
                          "names another program to start instead (the tests use it).\n";

// FNV-1a, 64 bits: a folder name, not a security boundary.
void mix(std::uint64_t& hash, const std::string& text)
{
    for (const unsigned char c : text) hash = (hash ^ c) * 1099511628211ULL;
    hash = (hash ^ 0xFF) * 1099511628211ULL;
}

void mix_file(std::uint64_t& hash, const fs::path& file)
{
    struct stat info {};
    if (::lstat(file.c_str(), &info) != 0) return;
    mix(hash, file.string() + " " + std::to_string(info.st_size) + " " + std::to_string(info.st_mtim.tv_sec) + "." +
                  std::to_string(info.st_mtim.tv_nsec));
}

// The input's canonical path, the series, and the size and modification
// time of every file that may be read: all files below a folder; a file
// and the files beside it that share its stem (.hdr/.img, .mhd/.raw).
std::string cache_key(const fs::path& input, const std::string& series)
{
    std::uint64_t hash = 1469598103934665603ULL;
    mix(hash, input.string());
    mix(hash, series);
    std::vector<fs::path> files;
    std::error_code ec;
    if (fs::is_directory(input, ec)) {
        for (fs::recursive_directory_iterator it(input, fs::directory_options::skip_permission_denied, ec), end;
             !ec && it != end; it.increment(ec))
            files.push_back(it->path());
    } else {
        files.push_back(input);
        const std::string stem = input.filename().string().substr(0, input.filename().string().find('.'));
        for (fs::directory_iterator it(input.parent_path(), ec), end; !ec && it != end; it.increment(ec))
            if (it->path().filename().string().rfind(stem + ".", 0) == 0) files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& f : files) mix_file(hash, f);
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

fs::path cache_root()
{
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    if (xdg && *xdg == '/') return fs::path(xdg) / "crane";
    const char* home = std::getenv("HOME");
    return fs::path(home && *home ? home : "/tmp") / ".cache" / "crane";
}

bool complete_slice_folder(const fs::path& folder)
{
    for (int n = 1; n <= slice_count; ++n) {
        struct stat info {};
        if (::stat(slice_path(folder.string(), n).c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
            std::uintmax_t(info.st_size) != slice_bytes)
            return false;
    }
    return true;
}

fs::path own_folder()
{
    std::error_code ec;
    return fs::read_symlink("/proc/self/exe", ec).parent_path();
}

// Runs crane-import and returns its exit status; its lines go straight
// to our standard output and error.
int run_import(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) return 1;
    if (pid == 0) {
        ::execv(argv[0], argv.data());
        std::fprintf(stderr, "crane-open: cannot run %s: %s\n", argv[0], std::strerror(errno));
        ::_exit(1);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string input, series;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::fputs(usage_text, stdout);
            return 0;
        }
        if (arg == "--series" && i + 1 < argc && *argv[i + 1]) {
            series = argv[++i];
        } else if (arg.rfind("--series=", 0) == 0 && arg.size() > 9) {
            series = arg.substr(9);
        } else if (arg[0] == '-' || !input.empty()) {
            std::fprintf(stderr, "crane-open: %s: %s\n%s", arg.c_str(),
                         arg[0] == '-' ? "unknown option or missing value" : "only one INPUT may be given", usage_text);
            return 2;
        } else {
            input = arg;
        }
    }
    if (input.empty()) {
        std::fprintf(stderr, "crane-open: INPUT: missing\n%s", usage_text);
        return 2;
    }
    std::error_code ec;
    const fs::path real_input = fs::canonical(input, ec);
    if (ec) {
        std::fprintf(stderr, "crane-open: %s: no such file or folder\n", input.c_str());
        return 1;
    }

    const fs::path place = cache_root() / cache_key(real_input, series);
    const fs::path head = place / "fullHead";
    if (complete_slice_folder(head)) {
        std::printf("crane-open: %s is unchanged: opening %s\n", input.c_str(), head.c_str());
    } else {
        fs::create_directories(place, ec);
        if (ec) {
            std::fprintf(stderr, "crane-open: %s: %s\n", place.c_str(), ec.message().c_str());
            return 1;
        }
        // A folder left half-made by an interrupted run holds slice files
        // only, which --force replaces.
        std::vector<std::string> args = {(own_folder() / "crane-import").string(), real_input.string(), "--out",
                                         head.string()};
        if (fs::exists(head, ec)) args.push_back("--force");
        if (!series.empty()) args.insert(args.end(), {"--series", series});
        if (const int status = run_import(args); status != 0) return status;
    }

    if (::chdir(place.c_str()) != 0) {
        std::fprintf(stderr, "crane-open: %s: %s\n", place.c_str(), std::strerror(errno));
        return 1;
    }
    const char* viewer_env = std::getenv("CRANE_VIEWER");
    const std::string viewer = viewer_env && *viewer_env ? viewer_env : (own_folder() / "crane").string();
    std::fflush(stdout);
    ::execl(viewer.c_str(), viewer.c_str(), static_cast<char*>(nullptr));
    std::fprintf(stderr, "crane-open: cannot start the viewer %s: %s\n", viewer.c_str(), std::strerror(errno));
    return 1;
}
