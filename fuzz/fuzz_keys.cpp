// fuzz_keys: window sizes and key presses on a small volume; the input's
// layout is in keys_case.h.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "keys_case.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    fuzz_setup(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string broken = run_keys_case(data, size);
    if (!broken.empty()) invariant_failed(broken);
    return 0;
}
