// DICOM files read by our own bounded walk over their elements: what a
// folder scan needs to sort files into series and volumes, and the checks
// that every declared length fits in the bytes really there, made before
// any library decodes a file. No library code runs here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct DicomHeader {
    bool is_dicom = false;  // a preamble "DICM", or a data set from its first byte
    std::string fault;      // why the file cannot be read; empty when it can

    std::string transfer_syntax, sop_class, modality, description, series_uid, image_type, photometric;
    std::string position_text, orientation_text, spacing_text;  // as written, for messages
    bool has_position = false, has_orientation = false, has_spacing = false;
    double position[3] = {};
    double orientation[6] = {};  // the row direction, then the column direction
    double spacing[2] = {};      // between rows, between columns
    int rows = 0, columns = 0, samples = 1, bits_allocated = 0, bits_stored = 0, frames = 1;
    bool per_frame_geometry = false;  // an enhanced multi-frame object

    bool has_pixel_data = false;
    bool encapsulated = false;
    std::uint64_t pixel_length = 0;                                  // native pixel data
    std::vector<std::pair<std::uint64_t, std::uint64_t>> fragments;  // offset and length of each
    std::uint32_t rle_segments = 0;                                  // of the first RLE fragment
};

// Never throws; a file that cannot be examined has a fault.
DicomHeader read_dicom_header(const std::string& file);

// Why the pixel data cannot be decoded safely (unsupported encoding, colour,
// sizes that do not add up), or empty. Only for files with pixel data.
std::string dicom_pixel_fault(const DicomHeader& h);

// A file a volume is not made of, or empty: "RT dose", "structured report",
// "presentation state", "scout", "object without pixel data".
std::string dicom_non_image_kind(const DicomHeader& h);
