// fuzz_import_nifti: the importer on a NIfTI file (plain, gzip or a header and
// image pair) from the input; the layout is in import_case.h.
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
    folder = fuzz_scratch_folder("nifti");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string broken = run_nifti_case(data, size, folder);
    if (!broken.empty()) invariant_failed(broken);
    return 0;
}
