// Start-up: the command line and the data source.
#include "app/startup.h"

#include <cstdio>
#include <cstring>

#include "app/console.h"
#include "volume/slice_loader.h"
#include "volume/voxel_store.h"

data_source parse_command_line(int argc, char** argv)
{
    if (argc <= 1) return data_source::head;
    int choice = 0;  // anything but 1, so that a word that does not parse is refused
    std::sscanf(argv[1], "%d", &choice);
    if (choice == 1) return data_source::sphere;
    say_usage(argv[0]);
    return data_source::usage;
}

int load_head_volume_from(const std::string& folder)
{
    const load_outcome outcome = read_head_slices(folder, [](int) { say_slice_loaded(); });
    switch (outcome.error) {
    case slice_error::cannot_open: say_cannot_open(outcome.path); return -1;
    case slice_error::cannot_read: say_cannot_read(outcome.path); return -1;
    case slice_error::none: break;
    }
    say_largest_density(max_density);
    return 0;
}

int load_head_volume() { return load_head_volume_from("fullHead"); }

int prepare_volume(data_source source, char* title)
{
    if (source == data_source::sphere) {
        say_making_sphere();
        make_sphere_volume();
        std::strcpy(title, "Sph\xE8re");  // Latin-1, handed to the window system as is
        return 0;
    }
    say_loading_head();
    if (load_head_volume() != 0) return -1;
    std::strcpy(title, "Crane");
    return 0;
}
