// PNG files written as an editor saves them: to a temporary file beside
// the target, flushed to the disk, then renamed into place. What was at the
// target is never removed or cut short: a failed write leaves it as it
// was, and two writers at once leave one whole file. Shared by the window
// (F12) and crane-snapshot.
#pragma once

#include <cstdint>
#include <string>

// Writes width x height RGB pixels, stored bottom row first, as an 8-bit
// PNG whose first row is the top of the frame, replacing the regular file
// at path if there is one. Refuses a path that holds anything else (a
// folder, a device, a symbolic link...). Returns an empty string, or the
// reason it failed.
std::string save_png(const std::string& path, const std::uint8_t* rgb, int width, int height);

// Writes the PNG as folder/crane-NNNN.png with the lowest free number from
// 0001 (more digits past 9999), never replacing a file, even one that
// appears meanwhile. Returns an empty string and the file's path in
// saved_path, or the reason it failed.
std::string save_png_numbered(const std::string& folder, const std::uint8_t* rgb, int width, int height,
                              std::string& saved_path);
