// Saving the window's picture.
#include "app/saving.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "app/console.h"
#include "app/interaction.h"
#include "app/png_file.h"
#include "app/status.h"
#include "render/frame.h"

namespace {

std::string snapshot_program = "crane-snapshot";
bool started_on_sphere = false;

std::string folder_of(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {};
    return path.substr(0, slash + 1);
}

std::string working_folder()
{
    std::vector<char> buffer(4096);
    while (!::getcwd(buffer.data(), buffer.size())) {
        if (errno != ERANGE) return ".";
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

}  // namespace

void note_program(const std::string& viewer_path, bool sphere)
{
    // The viewer's own file, wherever it was started from; the name it was
    // started with when the system does not tell.
    std::vector<char> own(4096);
    const ssize_t length = ::readlink("/proc/self/exe", own.data(), own.size() - 1);
    const std::string path = length > 0 ? std::string(own.data(), std::size_t(length)) : viewer_path;
    snapshot_program = folder_of(path) + "crane-snapshot";
    started_on_sphere = sphere;
}

std::string shell_quote(const std::string& text)
{
    const char* plain = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._/:=@%+,-";
    if (!text.empty() && text.find_first_not_of(plain) == std::string::npos) return text;
    std::string quoted = "'";
    for (const char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

std::string snapshot_command(const std::string& folder, const std::string& name)
{
    std::string command = "cd " + shell_quote(folder) + " && " + shell_quote(snapshot_program);
    command += " --size " + std::to_string(win_width) + "x" + std::to_string(win_height);
    const std::string keys = keys_so_far();
    if (!keys.empty()) command += " --keys " + shell_quote(keys);
    command += " --legend";
    if (overlay_shown) command += " --overlay";
    if (started_on_sphere) command += " --sphere";
    return command + " --out " + shell_quote(name);
}

void save_shown_image(const std::uint8_t* rgb, int width, int height)
{
    const std::string folder = working_folder();
    std::string path;
    const std::string error = save_png_numbered(folder, rgb, width, height, path);
    if (!error.empty()) {
        say_cannot_save(folder, error);
        return;
    }
    if (image_replayable())
        say_image_saved(path, snapshot_command(folder, path.substr(path.rfind('/') + 1)));
    else
        say_image_saved_alone(path);
}
