// fuzz_keys: window sizes and key presses on a small volume; the input's
// layout is in keys_case.h.
#include <cstddef>
#include <cstdint>
#include <string>

#include <omp.h>

#include "fuzz_support.h"
#include "keys_case.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    fuzz_setup(argc, argv);
    // One thread. Every edge of the instrumented code bumps a counter that
    // all threads share, and two threads rendering a tiny image spent most
    // of their time passing those counters' cache lines back and forth (an
    // input took five times as long as on one thread). One thread also
    // gives each input the same coverage on every run. The unit tests and
    // the ThreadSanitizer run cover the renderers on several threads.
    omp_set_num_threads(1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string broken = run_keys_case(data, size);
    if (!broken.empty()) invariant_failed(broken);
    return 0;
}
