// Writes an RGB frame as an 8-bit PNG.
#pragma once

#include <cstdint>
#include <string>

// Writes width x height RGB pixels, stored bottom row first, as a PNG whose
// first row is the top of the frame. Returns an empty string, or the reason
// it failed; a failed write leaves no file behind.
std::string write_png(const char* path, const std::uint8_t* rgb, int width, int height);
