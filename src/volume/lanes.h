// Vector lanes for the hot loops.
//
// A kernel family (the rays, the rotation) is written once, in a .inc file,
// over vectors of lane_count values (GCC's vector extensions), and compiled
// once per instruction set by a .cpp file that includes it through
// each_lane_set.inc: each copy lives in its own namespace (lanes_sse2,
// lanes_avx2, lanes_avx512), is compiled for its processor under a target
// pragma, and knows its set by the tag lane_set (and the macro LANE_SET for
// the few helpers that pick an intrinsic). Every lane is an ordinary IEEE
// operation in the precision of its type, so every copy gives the bits of
// the plain scalar functions; only the number of values per instruction
// changes.
#pragma once

// The instruction sets, each with its lanes per vector of doubles.
enum class isa { sse2, avx2, avx512 };
constexpr int lane_count_of(isa set) { return set == isa::avx512 ? 8 : set == isa::avx2 ? 4 : 2; }
const char* isa_name(isa set);

// The name of a set ("sse2", "avx2", "avx512"; "plain" is the old name of
// sse2) into set; false for any other text.
bool parse_isa(const char* name, isa& set);

// The best set this processor runs.
isa best_isa();

// The set the kernels run: the best one, or a lesser one named by the
// environment variable CRANE_SIMD, so that the tests can compare them all.
// A set the processor lacks, or an unknown name, gives the best one. Chosen
// once per run.
isa lane_isa();

// Runs `call` in the namespace of the chosen instruction set.
#if defined(__x86_64__)
#define dispatch_lanes(call)                                                                                           \
    switch (lane_isa()) {                                                                                              \
    case isa::avx512: lanes_avx512::call; break;                                                                       \
    case isa::avx2: lanes_avx2::call; break;                                                                           \
    case isa::sse2: lanes_sse2::call; break;                                                                           \
    }
#else
#define dispatch_lanes(call) lanes_sse2::call
#endif

// Declares the kernels of a family (a macro of declarations) in every
// set's namespace.
#if defined(__x86_64__)
#define declare_lane_kernels(declarations)                                                                             \
    namespace lanes_sse2 {                                                                                             \
    declarations                                                                                                       \
    }                                                                                                                  \
    namespace lanes_avx2 {                                                                                             \
    declarations                                                                                                       \
    }                                                                                                                  \
    namespace lanes_avx512 {                                                                                           \
    declarations                                                                                                       \
    }
#else
#define declare_lane_kernels(declarations)                                                                             \
    namespace lanes_sse2 {                                                                                             \
    declarations                                                                                                       \
    }
#endif
