// Volume files whose headers crane-import reads itself: NIfTI-1 and NIfTI-2
// in full (header, orientation and voxels), NRRD and MetaImage headers
// checked before ITK reads them. Every number parses whole; every declared
// size is checked against the bytes really there before anything is read;
// only regular files are opened, and a data file named by a header must lie
// beside it.
#pragma once

#include <string>
#include <vector>

#include "scan_stack.h"

bool is_nifti_name(const std::string& file);      // .nii, .nii.gz, .hdr, .hdr.gz
bool is_nrrd_name(const std::string& file);       // .nrrd, .nhdr
bool is_metaimage_name(const std::string& file);  // .mha, .mhd

// Reads a NIfTI-1 or NIfTI-2 volume. Orientation: the sform when its code
// is not 0, else the qform, else the voxel grid with a warning; a warning
// too when sform and qform disagree by more than a voxel. Returns the
// reason it failed, or empty.
std::string read_nifti(const std::string& file, ScanStack& stack, std::vector<std::string>& warnings);

// Empty when ITK may read the file; otherwise the reason.
std::string check_nrrd(const std::string& file);
std::string check_metaimage(const std::string& file);

// Empty when file is a regular file that can be opened without blocking.
std::string check_regular_file(const std::string& file);

// The longest stream that is decompressed to learn its length (gzip or
// zlib, from offset): stops as soon as limit bytes have come out. Returns
// the bytes that came out, or -1 when the stream is damaged.
long long inflated_size(const std::string& file, long long offset, long long limit);
