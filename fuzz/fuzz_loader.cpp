// fuzz_loader: slice folders of any shape through the head loader; the
// input's layout is in loader_case.h.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "loader_case.h"

namespace {
std::string folder;
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    fuzz_setup(argc, argv);
    folder = fuzz_scratch_folder("loader");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string broken = run_loader_case(data, size, folder);
    if (!broken.empty()) invariant_failed(broken);
    return 0;
}
