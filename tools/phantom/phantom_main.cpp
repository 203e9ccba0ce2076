// crane-phantom: writes a synthetic CT head as the viewer's slice files.
#include <cstdio>
#include <cstring>
#include <string>

#include "phantom.h"

namespace {

const char* const usage = "usage: crane-phantom [--force] [DIR]\n";
const char* const help = "  Writes DIR/headsq.1 .. headsq.94 (DIR defaults to fullHead),\n"
                         "  a synthetic CT head. An existing DIR is only overwritten with --force.\n";

}  // namespace

int main(int argc, char** argv)
{
    bool force = false;
    const char* folder = nullptr;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--help") == 0) {
            std::fputs(usage, stdout);
            std::fputs(help, stdout);
            return 0;
        }
        if (std::strcmp(arg, "--force") == 0) {
            force = true;
        } else if (arg[0] == '-' || folder) {
            std::fputs(usage, stderr);
            return 2;
        } else {
            folder = arg;
        }
    }
    if (!folder) folder = "fullHead";

    const std::string reason = write_phantom(folder, force);
    if (!reason.empty()) {
        std::fprintf(stderr, "crane-phantom: %s: %s\n", folder, reason.c_str());
        return 1;
    }
    std::fprintf(stderr, "crane-phantom: wrote 94 slices to %s\n", folder);
    return 0;
}
