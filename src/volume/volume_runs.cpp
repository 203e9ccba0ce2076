// The run states of volume and the functions that make runs ready.
#include "volume/volume_runs.h"

#include <algorithm>
#include <cstring>

#include <sched.h>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

// Aligned so that two neighbouring runs of a column, from an even one, share
// an aligned 16-bit word, and eight from a multiple of eight a 64-bit one.
alignas(64) std::uint8_t run_state[std::size_t{volume_side} * volume_side * runs_per_column];
bool every_run_ready = true;
std::uint8_t column_ready[std::size_t{volume_side} * volume_side];

namespace {

// One counter per thread, each on its own cache line and written by its
// thread alone, so that counting a run is a plain add: a shared counter, or
// a locked add, would cost more than some runs. Threads beyond the slots
// share one counter with locked adds.
struct alignas(64) fill_counter {
    std::atomic<long> count{0};
};
constexpr int counter_slots = 64;
fill_counter fills[counter_slots];
fill_counter shared_fills;
std::atomic<int> slots_taken{0};

fill_counter* own_counter()
{
    const int slot = slots_taken.fetch_add(1, std::memory_order_relaxed);
    return slot < counter_slots ? &fills[slot] : nullptr;
}

void count_fills(long runs)
{
    thread_local fill_counter* const own = own_counter();
    if (own)
        own->count.store(own->count.load(std::memory_order_relaxed) + runs, std::memory_order_relaxed);
    else
        shared_fills.count.fetch_add(runs, std::memory_order_relaxed);
}

void pause_briefly()
{
#if defined(__x86_64__)
    _mm_pause();
#endif
}

// Sets every run of the columns inside the extents to status.
void mark_runs(run_status status)
{
    every_run_ready = status == run_ready;
    // Only the columns inside the extents are ever read.
    for (int x = 0; x < dim_x; ++x)
        std::memset(&column_ready[std::size_t(x) * volume_side], every_run_ready, std::size_t(dim_y));
    const int runs = (dim_z + run_length - 1) / run_length;
    if (runs == 0) return;
    for (int x = 0; x < dim_x; ++x)
        for (int y = 0; y < dim_y; ++y) std::memset(&run_state[run_index(x, y, 0)], status, std::size_t(runs));
}

// Claims one stale run for this thread: a locked operation, which waits for
// this thread's earlier stores to reach the cache, so that it costs about as
// much as resampling a few voxels.
bool claim_run(std::uint8_t& state)
{
    std::uint8_t expected = run_stale;
    return std::atomic_ref<std::uint8_t>(state).compare_exchange_strong(expected, run_busy, std::memory_order_acquire);
}

// Claims two stale runs, an even one and the next, with one locked operation
// on their states as one word.
bool claim_two_runs(std::uint8_t* first)
{
    typedef std::uint16_t __attribute__((may_alias)) two_states;
    two_states expected = run_stale | run_stale << 8;
    return __atomic_compare_exchange_n(reinterpret_cast<two_states*>(first), &expected,
                                       two_states(run_busy | run_busy << 8), false, __ATOMIC_ACQUIRE, __ATOMIC_RELAXED);
}

// Claims eight stale runs, from a multiple of eight, with one locked
// operation on their states as one word: a whole column takes two.
bool claim_eight_runs(std::uint8_t* first)
{
    typedef std::uint64_t __attribute__((may_alias)) eight_states;
    eight_states expected = 0x0101010101010101ull * run_stale;
    return __atomic_compare_exchange_n(reinterpret_cast<eight_states*>(first), &expected,
                                       eight_states(0x0101010101010101ull * run_busy), false, __ATOMIC_ACQUIRE,
                                       __ATOMIC_RELAXED);
}

}  // namespace

int make_runs_ready(int x, int y, int r, int last)
{
    std::uint8_t* const states = &run_state[run_index(x, y, 0)];
    // The runs from r on as far as they are stale: a run that is ready, or
    // that another thread fills, ends the stretch.
    int end = r;
    if (last == r && claim_run(states[r])) {  // one run, the surface rays' case
        fill_runs(x, y, r, 1);
        std::atomic_ref<std::uint8_t>(states[r]).store(run_ready, std::memory_order_release);
        count_fills(1);
        return r;
    }
    while (end <= last) {
        if (end % 8 == 0 && end + 7 <= last && claim_eight_runs(states + end))
            end += 8;
        else if (end % 2 == 0 && end < last && claim_two_runs(states + end))
            end += 2;
        else if (claim_run(states[end]))
            end += 1;
        else
            break;
    }
    if (end > r) {
        fill_runs(x, y, r, end - r);
        for (int run = r; run < end; ++run)
            std::atomic_ref<std::uint8_t>(states[run]).store(run_ready, std::memory_order_release);
        count_fills(end - r);
        return end - 1;
    }
    // Another thread is filling it, which takes a few hundred cycles: spin a
    // little, then let the filler run should it share this core.
    std::atomic_ref<std::uint8_t> state(states[r]);
    for (int spins = 0; state.load(std::memory_order_acquire) != run_ready; ++spins)
        if (spins < 256)
            pause_briefly();
        else
            sched_yield();
    return r;
}

void ensure_plane(int z)
{
    if (z < 0 || z >= dim_z || every_run_ready) return;
    const int r = run_of(z);
#pragma omp parallel for schedule(dynamic, 8)
    for (int x = 0; x < dim_x; ++x)
        for (int y = 0; y < dim_y; ++y) ensure_run(x, y, r);
}

void ensure_columns(std::span<const int> xs, std::span<const int> ys, int z_first)
{
    z_first = std::max(z_first, 0);
    if (every_run_ready || xs.empty() || ys.empty() || z_first >= dim_z) return;
    const bool whole = run_of(z_first) == 0;
    // Column by column, each from its first run to its last, and a slab of
    // columns (one x) per thread: a column's source points lie along one
    // line, read in order, and its runs are written in order. Going run by
    // run across the whole grid read and wrote each cache line in two
    // passes over more than the cache holds, and threads sharing a slab
    // competed for the same lines: both about 25 % slower on a 2-core AMD
    // EPYC.
#pragma omp parallel for schedule(dynamic, 1)
    for (std::size_t i = 0; i < xs.size(); ++i)
        for (const int y : ys) {
            ensure_layers(xs[i], y, z_first, dim_z - 1);
            if (whole) note_column_ready(xs[i], y);
        }
}

void complete_volume()
{
    if (every_run_ready) return;
    int all[volume_side];
    for (int i = 0; i < volume_side; ++i) all[i] = i;
    ensure_columns(std::span(all, std::size_t(dim_x)), std::span(all, std::size_t(dim_y)), 0);
    every_run_ready = true;
    std::memset(column_ready, 1, sizeof column_ready);
}

long stale_marks = 0;

void mark_runs_stale()
{
    mark_runs(run_stale);
    ++stale_marks;
}

long turns_marked() { return stale_marks; }
void mark_runs_ready() { mark_runs(run_ready); }

long runs_filled()
{
    long total = 0;
    for (const fill_counter& f : fills) total += f.count.load(std::memory_order_relaxed);
    return total + shared_fills.count.load(std::memory_order_relaxed);
}
