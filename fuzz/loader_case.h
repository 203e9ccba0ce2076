// One input of fuzz_loader: a slice folder made from bytes, loaded, checked.
//
// The bytes (any missing one reads as 0):
//   0      n: headsq.1 .. headsq.n are made (n = byte % 95), the rest absent
//   1, 2   the kind of those files and its parameter (see below)
//   3      shift: file i's content starts i * shift bytes into the pattern
//   4      m % 16 records follow, 3 bytes each, that remake one file:
//          slice number (1 + byte % 94), kind, parameter; when bits 4 to 6
//          of m are all set, the files are made on disk, otherwise the
//          loader reads them from memory, answering as the files would
//   rest   the pattern, repeated to each file's length (its first 64 KiB;
//          no pattern: all zeros)
// Kinds (byte % 8): 0 exactly 131,072 bytes; 1 longer by 1 + parameter
// bytes; 2 short, min(parameter * 515, 131,071) bytes; 3 empty; 4 a
// folder; 5 absent; 6 a FIFO; 7 a symbolic link, to a complete file
// (parameter even) or to nothing (odd).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Writes the folder's slice files into folder (an empty scratch folder) or
// holds them in memory, runs read_head_slices on them with standard output as it is, checks
// the result and the grids against the files, then empties folder and
// zeroes what the loader wrote. Returns the first broken invariant, or
// an empty string.
std::string run_loader_case(const std::uint8_t* data, std::size_t size, const std::string& folder);
