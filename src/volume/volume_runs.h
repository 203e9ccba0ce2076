// volume as a cache of the turned source, valid run by run.
//
// A run is run_length consecutive layers of one column (x, y) of volume.
// A turn only marks every run stale; a reader makes the runs it is about to
// read ready first (ensure_run and the functions below), and the first
// reader of a stale run fills it: a copy of volume_source for the volume as
// loaded, the resampled source for any other turn. Each run is filled once
// per turn however many threads reach it: a compare-and-swap on its state
// elects one, the others wait until it is ready. The states are read with
// acquire and written with release ordering, so that a reader that sees
// "ready" also sees the samples.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>

#include "volume/voxel_store.h"

constexpr int run_length = 16;  // layers per run
constexpr int runs_per_column = volume_side / run_length;

inline int run_of(int z) { return z / run_length; }

// Ready is 0, so that the runs of a program that never turned are ready.
enum run_status : std::uint8_t { run_ready, run_stale, run_busy };

// The state of the run r of column (x, y) at run_index(x, y, r).
extern std::uint8_t run_state[std::size_t{volume_side} * volume_side * runs_per_column];

inline std::size_t run_index(int x, int y, int r)
{
    return (std::size_t(x) * volume_side + std::size_t(y)) * runs_per_column + std::size_t(r);
}

// Whether every run inside the extents is ready: readers may then skip
// their checks. Written outside parallel regions only.
extern bool every_run_ready;

// Per column, whether all its runs are ready, for readers that go through
// whole columns: set by the reader that made them all ready, with release
// ordering, and read with acquire.
extern std::uint8_t column_ready[std::size_t{volume_side} * volume_side];

inline bool whole_column_ready(int x, int y)
{
    return std::atomic_ref<std::uint8_t>(column_ready[std::size_t(x) * volume_side + std::size_t(y)])
               .load(std::memory_order_acquire) != 0;
}

// Notes that every run of column (x, y) is ready; the caller has made them
// ready itself.
inline void note_column_ready(int x, int y)
{
    std::atomic_ref<std::uint8_t>(column_ready[std::size_t(x) * volume_side + std::size_t(y)])
        .store(1, std::memory_order_release);
}

// Fills the stale run r of column (x, y), and with it those of the runs
// after it up to run last that are stale too, in one call: the filler's
// setup is paid once for all of them. When another thread is filling run
// r, waits for it instead. Returns the last run it made ready or waited for.
int make_runs_ready(int x, int y, int r, int last);

inline bool run_is_ready(int x, int y, int r)
{
    return std::atomic_ref<std::uint8_t>(run_state[run_index(x, y, r)]).load(std::memory_order_acquire) == run_ready;
}

// Makes run r of column (x, y) ready; at once when it is.
inline void ensure_run(int x, int y, int r)
{
    if (!run_is_ready(x, y, r)) make_runs_ready(x, y, r, r);
}

// Layers z0 <= z <= z1 of column (x, y).
inline void ensure_layers(int x, int y, int z0, int z1)
{
    const int last = run_of(z1);
    for (int r = run_of(z0); r <= last; ++r)
        if (!run_is_ready(x, y, r)) r = make_runs_ready(x, y, r, last);
}

// The plane z of every column inside the extents, on every core.
void ensure_plane(int z);

// The layers from z_first on of the columns (x, y), x in xs and y in ys, all
// inside the extents, on every core: a slab of columns (one x) per thread.
// Columns made ready from their first layer are noted ready whole.
void ensure_columns(std::span<const int> xs, std::span<const int> ys, int z_first);

// Every run inside the extents, on every core: for code that reads the
// whole of volume.
void complete_volume();

// Every run inside the extents stale, or ready. Outside any parallel
// region (the turn functions in rotation.h call them).
void mark_runs_stale();
void mark_runs_ready();

// How many times every run has been marked stale: once per turn. A reader
// compares it with what it saw last to tell that volume was turned since.
long turns_marked();

// Fills the runs r .. r + count - 1 of column (x, y) for the turn volume
// stands for: defined with the turns in rotation.cpp.
void fill_runs(int x, int y, int r, int count);

// How many runs have been filled since the program started, all threads
// together: the tests check that each is filled once.
long runs_filled();
