// Vector lanes for the hot loops.
//
// A kernel is written once, in a .inc file, over LANES-wide vectors of GCC's
// vector extensions, and included several times into its .cpp file (through
// each_lane_set.inc): once per instruction set, each inside its own
// namespace and under its own target pragma, so that each copy is compiled
// for its processor and nothing is shared between copies. Every lane is an ordinary IEEE operation
// in the precision of its type, so every copy gives the bits of the plain
// scalar loop; only the number of values per instruction changes.
#pragma once

// The instruction sets the kernels are compiled for.
enum class isa { plain, avx2, avx512 };

// The best set this processor runs, or a lesser one named by the
// environment variable CRANE_SIMD (plain, avx2 or avx512) so that the tests
// can compare them all. Chosen once per run.
isa lane_isa();

// Runs `call` in the namespace of the chosen instruction set.
#if defined(__x86_64__)
#define dispatch_lanes(call)                                                                                           \
    switch (lane_isa()) {                                                                                              \
    case isa::avx512: lanes_avx512::call; break;                                                                       \
    case isa::avx2: lanes_avx2::call; break;                                                                           \
    default: lanes_plain::call; break;                                                                                 \
    }
#else
#define dispatch_lanes(call) lanes_plain::call
#endif
