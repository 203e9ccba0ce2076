// crane-snapshot: the viewer without a window. Runs the same start-up and
// keys, renders only the frames it writes, paints the legend and the help
// panel as the window draws them, and stores each frame as a PNG.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/console.h"
#include "app/png_file.h"
#include "app/startup.h"
#include "app/status.h"
#include "app/viewer.h"
#include "overlay/font.h"
#include "overlay/raster.h"
#include "render/frame.h"

namespace {

constexpr int max_side = 16384;
constexpr long long max_pixels = 8192LL * 8192;
constexpr int max_frames = 10000;

struct options {
    bool sphere = false, legend = false, overlay = false;
    int width = 256, height = 256;
    const char* keys = "";
    const char* out = nullptr;  // snapshot.png for one frame; the folder of a turntable
    int frames = 0;             // --turntable N; 0 for one snapshot
};

void print_usage(std::FILE* to)
{
    std::fprintf(to,
                 "usage: crane-snapshot [--sphere] [--size WxH] [--keys KEYS] [--legend] [--overlay]\n"
                 "                      [--out FILE | --turntable N --out DIR]\n"
                 "  Runs the viewer headless on ./fullHead (or the empty sphere volume) at W x H\n"
                 "  (default 256x256), replays KEYS one byte per key press (Escape ends the\n"
                 "  replay) and writes the picture the window would show to FILE (default\n"
                 "  snapshot.png). --legend draws the accumulation view's legend as the window\n"
                 "  does, --overlay the help panel that F1 shows.\n"
                 "  --turntable N writes N frames, DIR/frame-000.png on: frame k is the view\n"
                 "  after k more presses of m (63 make a full turn). DIR is made if missing.\n"
                 "  W and H: 0 to %d each, at most %lld pixels in all; N: 1 to %d.\n",
                 max_side, max_pixels, max_frames);
}

// Reads a count: plain decimal digits, at most limit.
bool parse_count(const char*& p, int limit, int& count)
{
    if (*p < '0' || *p > '9') return false;
    long value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > limit) return false;
    }
    count = int(value);
    return true;
}

// Parses "WxH".
bool parse_size(const char* text, int& width, int& height)
{
    const char* p = text;
    int w = 0, h = 0;
    if (!parse_count(p, max_side, w) || *p++ != 'x' || !parse_count(p, max_side, h) || *p != '\0') return false;
    if (static_cast<long long>(w) * h > max_pixels) return false;
    width = w;
    height = h;
    return true;
}

bool parse_frames(const char* text, int& frames)
{
    const char* p = text;
    return parse_count(p, max_frames, frames) && *p == '\0' && frames > 0;
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
        } else if (std::strcmp(arg, "--legend") == 0) {
            opt.legend = true;
        } else if (std::strcmp(arg, "--overlay") == 0) {
            opt.overlay = true;
        } else if (std::strcmp(arg, "--size") == 0 && has_value) {
            if (!parse_size(argv[++i], opt.width, opt.height)) {
                std::fprintf(stderr, "crane-snapshot: bad size '%s'\n", argv[i]);
                return false;
            }
        } else if (std::strcmp(arg, "--turntable") == 0 && has_value) {
            if (!parse_frames(argv[++i], opt.frames)) {
                std::fprintf(stderr, "crane-snapshot: bad frame count '%s'\n", argv[i]);
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
    if (opt.frames > 0 && !opt.out) {
        std::fprintf(stderr, "crane-snapshot: --turntable needs --out DIR\n");
        return false;
    }
    if (!opt.out) opt.out = "snapshot.png";
    return true;
}

// Refuses, before the long work, what the write would refuse anyway: a
// target that is not a regular file, a turntable folder that is not a
// folder. Makes the folder when it is missing.
std::string prepare_target(const options& opt)
{
    struct stat existing;
    if (opt.frames == 0) {
        if (::lstat(opt.out, &existing) == 0 && !S_ISREG(existing.st_mode))
            return "not a regular file; it is left as it is";
        return {};
    }
    if (::mkdir(opt.out, 0777) == 0) return {};
    if (errno != EEXIST) return std::strerror(errno);
    if (::stat(opt.out, &existing) != 0) return std::strerror(errno);
    if (!S_ISDIR(existing.st_mode)) return "not a folder";
    if (::access(opt.out, W_OK | X_OK) != 0) return std::strerror(errno);
    return {};
}

// The frame as the window shows it: the image with the scene over it.
std::string write_frame(const options& opt, const std::string& path)
{
    const overlay_scene scene = view_scene(win_height, opt.legend, opt.overlay);
    if (scene.empty()) return save_png(path, image.data(), win_width, win_height);
    std::vector<std::uint8_t> shown = image;
    paint_scene(scene, shown.data(), win_width, win_height);
    return save_png(path, shown.data(), win_width, win_height);
}

std::string frame_path(const options& opt, int k)
{
    // Three digits, more when the last frame's number needs them.
    const std::size_t digits = std::max<std::size_t>(3, std::to_string(opt.frames - 1).size());
    std::string number = std::to_string(k);
    number.insert(0, digits - number.size(), '0');
    return opt.out + std::string("/frame-") + number + ".png";
}

void draw_progress(int done, int total)
{
    constexpr int width = 40;
    const int filled = done * width / total;
    std::fprintf(stderr, "\rcrane-snapshot: turntable [%s%s] %d/%d", std::string(std::size_t(filled), '#').c_str(),
                 std::string(std::size_t(width - filled), '.').c_str(), done, total);
    std::fflush(stderr);
}

void clear_progress() { std::fprintf(stderr, "\r%70s\r", ""); }

// Frame k is the view after k more presses of m: one turn and one render
// a frame. A view that does not fill the frame keeps the picture before it.
int write_turntable(const options& opt, const drawn_view& shown)
{
    const bool terminal = ::isatty(2);
    render_view_of(shown);
    for (int k = 0; k < opt.frames; ++k) {
        if (k > 0) {
            apply_key_and_report('m');
            if (view_fills_frame(view_now())) render_view_of(view_now());
        }
        const std::string path = frame_path(opt, k);
        const std::string error = write_frame(opt, path);
        if (!error.empty()) {
            if (terminal) clear_progress();
            std::fprintf(stderr, "crane-snapshot: cannot write %s: %s\n", path.c_str(), error.c_str());
            return 1;
        }
        if (terminal) draw_progress(k + 1, opt.frames);
    }
    if (terminal) clear_progress();
    return 0;
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
    if (opt.legend || opt.overlay) {
        const std::string mismatch = font_mismatch();
        if (!mismatch.empty()) {
            std::fprintf(stderr, "crane-snapshot: cannot draw text: %s\n", mismatch.c_str());
            return 1;
        }
    }
    if (const std::string error = prepare_target(opt); !error.empty()) {
        std::fprintf(stderr, "crane-snapshot: cannot write %s: %s\n", opt.out, error.c_str());
        return 1;
    }

    char title[8];
    if (prepare_volume(opt.sphere ? data_source::sphere : data_source::head, title) != 0) return 1;

    // The keys change the view state and print their own lines; only the
    // picture the window would show at the end is computed: that of the
    // last view, from the start on, that filled the frame.
    win_width = opt.width;
    win_height = opt.height;
    const drawn_view shown = replay_keys(opt.keys);
    if (opt.frames > 0) return write_turntable(opt, shown);

    compute_image_of(shown);
    const std::string error = write_frame(opt, opt.out);
    if (!error.empty()) {
        std::fprintf(stderr, "crane-snapshot: cannot write %s: %s\n", opt.out, error.c_str());
        return 1;
    }
    return 0;
}
