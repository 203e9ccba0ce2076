// A synthetic CT head in the slice-file format the viewer reads.
#pragma once

#include <cstdint>
#include <string>

// Fills words (256 x 256, row-major: word row * 256 + col) with the 12-bit
// densities of slice n (1 = top of the head .. 94 = neck). File row 0 is the
// side nearest the viewer (the face). Deterministic.
void make_phantom_slice(int n, std::uint16_t* words);

// Writes folder/headsq.1 .. headsq.94 through the atomic slice-folder
// writer: an existing folder is replaced only with force, and only when it
// holds nothing but slice files. Returns an empty string, or the reason it
// failed.
std::string write_phantom(const std::string& folder, bool force);
