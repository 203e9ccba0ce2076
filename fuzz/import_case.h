// One input of the importer's fuzz targets: files made from the bytes go
// through read_scan and the density mapping that crane-import applies.
//
// fuzz_import_dicom: the input cut at every "=CRANE-NEXT-FILE=" into at
// most 8 files, slice0.dcm, slice1.dcm ... of one folder, read as a folder.
//
// fuzz_import_nifti: byte 0 % 4 chooses the file, byte 1 is a parameter,
// the rest is the file's content:
//   0  scan.nii
//   1  scan.nii.gz, compressed here
//   2  scan.nii.gz, compressed here and cut to (byte 1 + 1) / 257 of its length
//   3  scan.hdr and scan.img: the first 348 + byte 1 % 16 bytes and the rest
//
// fuzz_import_nrrd, fuzz_import_metaimage: the input cut at the first
// "=CRANE-NEXT-FILE=" into a header and data. Byte 0 is odd: the data is
// appended to the header in one file (scan.nrrd, scan.mha); even: they are
// two files, scan.nhdr or scan.mhd and scan.raw beside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr const char* next_file_marker = "=CRANE-NEXT-FILE=";

// Each makes its files in folder (an empty scratch folder), imports them,
// checks the outcome, and empties folder again. Returns the first broken
// invariant, or an empty string.
std::string run_dicom_case(const std::uint8_t* data, std::size_t size, const std::string& folder);
std::string run_nifti_case(const std::uint8_t* data, std::size_t size, const std::string& folder);
std::string run_nrrd_case(const std::uint8_t* data, std::size_t size, const std::string& folder);
std::string run_metaimage_case(const std::uint8_t* data, std::size_t size, const std::string& folder);
