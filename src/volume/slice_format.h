// The slice files the viewer loads: folder/headsq.1 .. folder/headsq.94,
// each 256 rows of 256 unsigned 16-bit little-endian words and no header.
// Only the low 12 bits of a word carry the density (air 0, water about
// 1024); the upper 4 are ignored on reading. Slice 1 is the top of the head,
// file row 0 the side nearest the viewer, file column 0 the left of the image.
//
// Everything that reads or writes these files takes the geometry, the names
// and the word encoding from here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr int slice_count = 94;  // files per folder
constexpr int slice_side = 256;  // rows and columns of one slice
constexpr std::size_t slice_words = std::size_t{slice_side} * slice_side;
constexpr std::size_t slice_bytes = slice_words * 2;
constexpr unsigned density_mask = 0x0FFF;  // the bits of a word that carry the density
constexpr int largest_density = 4095;

// "headsq.N", and folder/headsq.N.
std::string slice_file_name(int n);
std::string slice_path(const std::string& folder, int n);

// True for the name of one of the 94 files: "headsq.N", N from 1 to 94 in
// decimal without leading zeros.
bool is_slice_file_name(const std::string& name);

// Word i of a slice lies at bytes 2i (low) and 2i + 1 (high).
inline unsigned decode_word(const unsigned char* bytes) { return bytes[0] | unsigned(bytes[1]) << 8; }

inline void encode_word(std::uint16_t word, unsigned char* bytes)
{
    bytes[0] = std::uint8_t(word & 0xFF);
    bytes[1] = std::uint8_t(word >> 8);
}

// A whole slice of slice_words words into slice_bytes bytes.
void encode_slice(const std::uint16_t* words, unsigned char* bytes);
