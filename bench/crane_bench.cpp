// crane-bench: what a key press costs, at one thread and at all threads
// (OMP_NUM_THREADS or the number of cores). The head is the built-in
// phantom, or any slice folder given with --data DIR: DIR is either the
// fullHead folder itself or a folder holding one.
#include <benchmark/benchmark.h>

#include <omp.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/controls.h"
#include "app/view_state.h"
#include "app/viewer.h"
#include "phantom.h"
#include "render/frame.h"
#include "volume/rotation.h"
#include "volume/slice_format.h"
#include "volume/slice_loader.h"

namespace fs = std::filesystem;

namespace {

fs::path slice_folder;  // the fullHead folder the benchmarks load

// The count "all threads" means, fixed before any benchmark changes it.
int all_threads()
{
    static const int count = omp_get_max_threads();
    return count;
}

// Arguments: {threads (0 = all), ...}.
void use_threads(benchmark::State& state)
{
    const int threads = state.range(0) == 0 ? all_threads() : int(state.range(0));
    omp_set_num_threads(threads);
    state.counters["threads"] = threads;
}

// The keys that turn the head of a fresh start the way the README's
// "turned" picture shows it; the turn benchmarks start there.
constexpr const char* turned_view_keys = "mmmoo";

// The view of a fresh start, with the volume as loaded, or turned by
// turned_view_keys; the first image is drawn outside the timing.
void reset_view(bool turned)
{
    reset_view_state();
    turn_volume(0.0f, 0.0f);
    if (turned)
        for (const char* key = turned_view_keys; *key; ++key) apply_key(static_cast<unsigned char>(*key));
}

// One image in a mode at a size, the view fresh or turned, no key pressed:
// {threads, mode, side, turned}.
void image(benchmark::State& state)
{
    use_threads(state);
    reset_view(state.range(3) != 0);
    render_mode = int(state.range(1));
    win_width = win_height = int(state.range(2));
    render_view();
    for (auto _ : state) render_view();
}

// A turn key end to end in a mode at a size, from the turned view: the
// state change, the turn and the image. Every iteration turns, by pressing
// o and l (axis 0, about the horizontal axis) or m and k (axis 1, about the
// vertical axis) in turn: {threads, mode, side, axis}.
void turn_key(benchmark::State& state)
{
    use_threads(state);
    reset_view(true);
    render_mode = int(state.range(1));
    win_width = win_height = int(state.range(2));
    render_view();
    const bool vertical_axis = state.range(3) != 0;
    bool forward = true;
    for (auto _ : state) {
        apply_key(vertical_axis ? (forward ? 'm' : 'k') : (forward ? 'o' : 'l'));
        render_view();
        forward = !forward;
    }
}

void rotation(benchmark::State& state)
{
    use_threads(state);
    for (auto _ : state) rotate_volume(0.3f, -0.2f);
}

// A rotation key end to end from a fresh start: the turn and the surface
// image at 256 x 256.
void rotation_key(benchmark::State& state)
{
    use_threads(state);
    reset_view(false);
    win_width = win_height = 256;
    bool forward = true;
    for (auto _ : state) {
        apply_key(forward ? 'o' : 'l');
        render_view();
        forward = !forward;
    }
}

void load(benchmark::State& state)
{
    use_threads(state);
    const std::string folder = slice_folder.string();
    for (auto _ : state)
        if (read_head_slices(folder, [](int) {}).error != slice_error::none)
            state.SkipWithError("the head did not load");
}

// The phantom's 94 slices, made in memory.
void phantom(benchmark::State& state)
{
    use_threads(state);
    std::vector<std::uint16_t> words(slice_words);
    for (auto _ : state)
        for (int n = 1; n <= slice_count; ++n) make_phantom_slice(n, words.data());
}

// Every benchmark at one thread first, then at all threads: an idle OpenMP
// worker still spinning after a parallel run would otherwise slow the
// one-thread runs that follow it.
void register_all()
{
    for (int64_t threads : {int64_t{1}, int64_t{0}}) {
        auto* images = benchmark::RegisterBenchmark("image", image);
        images->ArgNames({"threads", "mode", "side", "turned"});
        auto* turns = benchmark::RegisterBenchmark("turn_key", turn_key);
        turns->ArgNames({"threads", "mode", "side", "axis"});
        for (int side : {256, 1024})
            for (int mode = 0; mode < 4; ++mode)
                for (int variant : {0, 1}) {
                    images->Args({threads, mode, side, variant});
                    turns->Args({threads, mode, side, variant});
                }
        auto* rotate = benchmark::RegisterBenchmark("rotate_volume", rotation);
        auto* key = benchmark::RegisterBenchmark("rotation_key", rotation_key);
        auto* loads = benchmark::RegisterBenchmark("load", load);
        auto* phantoms = benchmark::RegisterBenchmark("phantom", phantom);
        for (auto* b : {rotate, key, loads, phantoms}) b->ArgNames({"threads"})->Args({threads});
        // Wall time in milliseconds: with threads, process CPU time would
        // hide the gain.
        for (auto* b : {images, turns, rotate, key, loads, phantoms}) b->Unit(benchmark::kMillisecond)->UseRealTime();
    }
}

// Takes --data DIR out of the arguments; an empty path when absent.
bool take_data_option(int& argc, char** argv, fs::path& data)
{
    for (int i = 1; i < argc; ++i) {
        const bool separate = std::strcmp(argv[i], "--data") == 0;
        if (!separate && std::strncmp(argv[i], "--data=", 7) != 0) continue;
        if (separate && i + 1 >= argc) return false;
        data = separate ? argv[i + 1] : argv[i] + 7;
        const int taken = separate ? 2 : 1;
        for (int j = i; j + taken <= argc; ++j) argv[j] = argv[j + taken];
        argc -= taken;
        return true;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    fs::path data;
    if (!take_data_option(argc, argv, data)) {
        std::fprintf(stderr, "usage: crane-bench [--data DIR] [benchmark options]\n");
        return 2;
    }
    fs::path scratch;
    if (data.empty()) {
        scratch = fs::temp_directory_path() / ("crane-bench-" + std::to_string(getpid()));
        fs::create_directories(scratch);
        slice_folder = scratch / "fullHead";
        const std::string error = write_phantom(slice_folder.string(), false);
        if (!error.empty()) {
            std::fprintf(stderr, "crane-bench: %s\n", error.c_str());
            return 1;
        }
    } else {
        slice_folder = fs::exists(data / "fullHead") ? data / "fullHead" : data;
    }
    if (read_head_slices(slice_folder.string(), [](int) {}).error != slice_error::none) {
        std::fprintf(stderr, "crane-bench: %s did not load\n", slice_folder.c_str());
        return 1;
    }
    all_threads();
    register_all();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (!scratch.empty()) fs::remove_all(scratch);
    return 0;
}
