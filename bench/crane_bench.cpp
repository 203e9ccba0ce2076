// crane-bench: what a key press costs. Every figure is for the built-in
// phantom head, at one thread and at all threads (OMP_NUM_THREADS or the
// number of cores).
#include <benchmark/benchmark.h>

#include <omp.h>
#include <unistd.h>

#include <cstdio>
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

fs::path data_folder;  // holds fullHead/ with the phantom

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

// The view of a fresh start, with the volume as loaded.
void reset_view()
{
    reset_view_state();
    turn_volume(0.0f, 0.0f);
}

// One image in a mode at a size: {threads, mode, side}.
void image(benchmark::State& state)
{
    use_threads(state);
    reset_view();
    render_mode = int(state.range(1));
    win_width = win_height = int(state.range(2));
    for (auto _ : state) render_view();
}

void rotation(benchmark::State& state)
{
    use_threads(state);
    for (auto _ : state) rotate_volume(0.3f, -0.2f);
}

// A rotation key end to end: the turn and the surface image at 256 x 256.
void rotation_key(benchmark::State& state)
{
    use_threads(state);
    reset_view();
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
    const std::string folder = (data_folder / "fullHead").string();
    for (auto _ : state)
        if (read_head_slices(folder, [](int) {}).error != slice_error::none)
            state.SkipWithError("the phantom did not load");
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
        images->ArgNames({"threads", "mode", "side"});
        for (int side : {256, 1024})
            for (int mode = 0; mode < 4; ++mode) images->Args({threads, mode, side});
        auto* rotate = benchmark::RegisterBenchmark("rotate_volume", rotation);
        auto* key = benchmark::RegisterBenchmark("rotation_key", rotation_key);
        auto* loads = benchmark::RegisterBenchmark("load", load);
        auto* phantoms = benchmark::RegisterBenchmark("phantom", phantom);
        for (auto* b : {rotate, key, loads, phantoms}) b->ArgNames({"threads"})->Args({threads});
        // Wall time in milliseconds: with threads, process CPU time would
        // hide the gain.
        for (auto* b : {images, rotate, key, loads, phantoms}) b->Unit(benchmark::kMillisecond)->UseRealTime();
    }
}

}  // namespace

int main(int argc, char** argv)
{
    data_folder = fs::temp_directory_path() / ("crane-bench-" + std::to_string(getpid()));
    fs::create_directories(data_folder);
    const std::string error = write_phantom((data_folder / "fullHead").string(), false);
    if (!error.empty()) {
        std::fprintf(stderr, "crane-bench: %s\n", error.c_str());
        return 1;
    }
    if (read_head_slices((data_folder / "fullHead").string(), [](int) {}).error != slice_error::none) {
        std::fprintf(stderr, "crane-bench: the phantom did not load\n");
        return 1;
    }
    all_threads();
    register_all();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fs::remove_all(data_folder);
    return 0;
}
