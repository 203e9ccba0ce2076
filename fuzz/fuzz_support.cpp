#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

int saved_stderr = 2;
std::vector<fs::path> scratch_folders;

void remove_scratch_folders()
{
    std::error_code ignored;
    for (const auto& folder : scratch_folders) fs::remove_all(folder, ignored);
}

}  // namespace

void fuzz_setup(int* argc, char*** argv)
{
    saved_stderr = ::fcntl(2, F_DUPFD_CLOEXEC, 3);
    if (saved_stderr < 0) saved_stderr = 2;
    ::setenv("OMP_NUM_THREADS", "1", 0);
    ::setenv("ITK_GLOBAL_DEFAULT_NUMBER_OF_THREADS", "1", 0);

    for (int i = 1; i < *argc; ++i)
        if (std::strncmp((*argv)[i], "-close_fd_mask=", 15) == 0) return;
    static std::vector<char*> args;
    args.assign(*argv, *argv + *argc);
    static char quiet[] = "-close_fd_mask=3";
    args.push_back(quiet);
    args.push_back(nullptr);
    *argc = int(args.size()) - 1;
    *argv = args.data();
}

std::string fuzz_scratch_folder(const char* name)
{
    fs::path base;
    std::error_code ec;
    if (const char* chosen = std::getenv("CRANE_FUZZ_TMP"); chosen && *chosen)
        base = chosen;
    else if (fs::is_directory("/dev/shm", ec) && ::access("/dev/shm", W_OK) == 0)
        base = "/dev/shm";
    else
        base = fs::temp_directory_path();
    const fs::path folder = base / ("crane-fuzz-" + std::string(name) + "-" + std::to_string(::getpid()));
    fs::remove_all(folder, ec);
    fs::create_directories(folder);
    if (scratch_folders.empty()) std::atexit(remove_scratch_folders);
    scratch_folders.push_back(folder);
    return folder.string();
}

void invariant_failed(const std::string& what)
{
    const std::string line = "crane fuzz: invariant broken: " + what + "\n";
    [[maybe_unused]] const ssize_t written = ::write(saved_stderr, line.data(), line.size());
    std::abort();
}
