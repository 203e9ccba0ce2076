// Start-up: the command line and the volume it asks for.
#pragma once

#include <string>

enum class data_source { head, sphere, usage };

// Examines argv[1] only: none means the head scan, 1 the sphere hook,
// anything else prints the usage text.
data_source parse_command_line(int argc, char** argv);

// Loads folder/headsq.1 .. headsq.94 with the loader's console lines: a dot
// per slice and the largest density, or the error naming the file. Returns
// 0, or -1 at the first slice that cannot be opened or read whole.
int load_head_volume_from(const std::string& folder);

// The viewer's loader: the folder "fullHead" below the working directory.
int load_head_volume();

// Announces and prepares the chosen volume, copying the window title into
// title (room for 8 bytes). Returns 0, or -1 when the head scan failed to load.
int prepare_volume(data_source source, char* title);
