// Names and encoding of the slice files.
#include "volume/slice_format.h"

std::string slice_file_name(int n) { return "headsq." + std::to_string(n); }

std::string slice_path(const std::string& folder, int n) { return folder + "/" + slice_file_name(n); }

bool is_slice_file_name(const std::string& name)
{
    const std::string prefix = "headsq.";
    if (name.size() <= prefix.size() || name.size() > prefix.size() + 2 || name.compare(0, prefix.size(), prefix) != 0)
        return false;
    int n = 0;
    for (std::size_t i = prefix.size(); i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return false;
        n = n * 10 + (name[i] - '0');
    }
    return name[prefix.size()] != '0' && n >= 1 && n <= slice_count;
}

void encode_slice(const std::uint16_t* words, unsigned char* bytes)
{
    for (std::size_t i = 0; i < slice_words; ++i) encode_word(words[i], bytes + 2 * i);
}
