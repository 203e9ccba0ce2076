// The fuzz inputs kept in the repository, for the tests that replay them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// Every seed and every input that once broke something, for one target,
// in a stable order. CRANE_FUZZ_DIR names the fuzz/ folder.
inline std::vector<std::filesystem::path> fuzz_inputs_of(const std::string& target)
{
    std::vector<std::filesystem::path> files;
    for (const char* kind : {"corpus", "regressions"}) {
        const std::filesystem::path folder = std::filesystem::path(CRANE_FUZZ_DIR) / kind / target;
        if (std::filesystem::is_directory(folder))
            for (const auto& entry : std::filesystem::directory_iterator(folder))
                if (entry.is_regular_file()) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

inline std::vector<std::uint8_t> bytes_of(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
