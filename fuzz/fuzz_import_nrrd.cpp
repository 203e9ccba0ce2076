// fuzz_import_nrrd: the importer on a NRRD header and its data, in one file
// or two; the layout is in import_case.h.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "import_case.h"

namespace {
std::string folder;
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    fuzz_setup(argc, argv);
    folder = fuzz_scratch_folder("nrrd");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string broken = run_nrrd_case(data, size, folder);
    if (!broken.empty()) invariant_failed(broken);
    return 0;
}
