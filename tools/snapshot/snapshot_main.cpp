// crane-snapshot: the viewer without a window. Runs the same start-up and
// keys, renders only the frame it writes, and stores it as a PNG.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/console.h"
#include "app/png_file.h"
#include "app/startup.h"
#include "app/viewer.h"
#include "render/frame.h"

namespace {

constexpr int max_side = 16384;
constexpr long long max_pixels = 8192LL * 8192;

struct options {
    bool sphere = false;
    int width = 256, height = 256;
    const char* keys = "";
    const char* out = "snapshot.png";
};

void print_usage(std::FILE* to)
{
    std::fprintf(to,
                 "usage: crane-snapshot [--sphere] [--size WxH] [--keys KEYS] [--out FILE]\n"
                 "  Runs the viewer headless on ./fullHead (or the empty sphere volume) at W x H\n"
                 "  (default 256x256), replays KEYS one byte per key press (Escape ends the\n"
                 "  replay) and writes the picture the window would show to FILE (default\n"
                 "  snapshot.png).\n"
                 "  W and H: 0 to %d each, at most %lld pixels in all.\n",
                 max_side, max_pixels);
}

// Reads one side of a size: plain decimal digits, at most max_side.
bool parse_side(const char*& p, int& side)
{
    if (*p < '0' || *p > '9') return false;
    long value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > max_side) return false;
    }
    side = int(value);
    return true;
}

// Parses "WxH".
bool parse_size(const char* text, int& width, int& height)
{
    const char* p = text;
    int w = 0, h = 0;
    if (!parse_side(p, w) || *p++ != 'x' || !parse_side(p, h) || *p != '\0') return false;
    if (static_cast<long long>(w) * h > max_pixels) return false;
    width = w;
    height = h;
    return true;
}

bool parse_options(int argc, char** argv, options& opt)
{
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (std::strcmp(arg, "--help") == 0) {
            print_usage(stdout);
            std::exit(0);
        } else if (std::strcmp(arg, "--sphere") == 0) {
            opt.sphere = true;
        } else if (std::strcmp(arg, "--size") == 0 && has_value) {
            if (!parse_size(argv[++i], opt.width, opt.height)) {
                std::fprintf(stderr, "crane-snapshot: bad size '%s'\n", argv[i]);
                return false;
            }
        } else if (std::strcmp(arg, "--keys") == 0 && has_value) {
            opt.keys = argv[++i];
        } else if (std::strcmp(arg, "--out") == 0 && has_value && argv[i + 1][0] != '\0') {
            opt.out = argv[++i];
        } else {
            std::fprintf(stderr, "crane-snapshot: bad option '%s'\n", arg);
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    prepare_console();
    options opt;
    if (!parse_options(argc, argv, opt)) {
        print_usage(stderr);
        return 2;
    }
    // Refused before the long work, as the write would refuse it anyway.
    struct stat existing;
    if (::lstat(opt.out, &existing) == 0 && !S_ISREG(existing.st_mode)) {
        std::fprintf(stderr, "crane-snapshot: cannot write %s: not a regular file; it is left as it is\n", opt.out);
        return 1;
    }

    char title[8];
    if (prepare_volume(opt.sphere ? data_source::sphere : data_source::head, title) != 0) return 1;

    // The keys change the view state and print their own lines; only the
    // picture the window would show at the end is computed: that of the
    // last view, from the start on, that filled the frame.
    win_width = opt.width;
    win_height = opt.height;
    compute_image_of(replay_keys(opt.keys));
    const std::string error = save_png(opt.out, image.data(), win_width, win_height);
    if (!error.empty()) {
        std::fprintf(stderr, "crane-snapshot: cannot write %s: %s\n", opt.out, error.c_str());
        return 1;
    }
    return 0;
}
