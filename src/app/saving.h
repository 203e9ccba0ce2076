// F12: the window's picture saved to crane-NNNN.png in the working folder,
// with the crane-snapshot command that makes the same file.
#pragma once

#include <cstdint>
#include <string>

// How the viewer was started, for the command: crane-snapshot is the
// program beside the viewer's own, and the empty volume needs --sphere.
void note_program(const std::string& viewer_path, bool sphere);

// text as one word for a POSIX shell: as it is when it holds only letters,
// digits and . _ / : = @ % + , -, in single quotes otherwise.
std::string shell_quote(const std::string& text);

// The command, run anywhere, that writes the picture shown now to
// folder/name: cd folder && crane-snapshot --size WxH --keys KEYS --legend
// [--overlay] [--sphere] --out name.
std::string snapshot_command(const std::string& folder, const std::string& name);

// Saves width x height RGB pixels, bottom row first, as the next free
// crane-NNNN.png in the working folder and says on standard error where it
// went and how to make it again, or why it could not be saved.
void save_shown_image(const std::uint8_t* rgb, int width, int height);
