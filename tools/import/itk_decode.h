// What crane-import asks of ITK: decoding DICOM pixel data (through GDCM),
// and reading NRRD and MetaImage files once their headers have been
// checked. The only part of crane-import that includes ITK.
#pragma once

#include <string>

#include "scan_stack.h"

// Decodes the pixels of one DICOM slice, rescale slope and intercept
// applied, into columns * rows values. Returns the reason it failed, or
// empty.
std::string decode_dicom_slice(const std::string& file, int columns, int rows, float* into);

// Reads a whole volume with ITK's readers (NRRD, MetaImage, a multi-frame
// DICOM file) into a stack of evenly spaced planes.
std::string read_itk_volume(const std::string& file, ScanStack& stack);
