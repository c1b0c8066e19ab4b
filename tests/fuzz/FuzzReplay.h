// The replay form of a fuzz target: every file named, and every file below a
// folder named, goes through LLVMFuzzerTestOneInput once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace palvex {

// what ends the closing line: "replayed N inputs through WHAT".
inline int ReplayFuzzInputs(int argc, char** argv, const char* what)
{
    const auto replay = [](const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
        return 1;
    };
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path arg = argv[i];
        // A missing sample folder would replay nothing and pass.
        if (!std::filesystem::exists(arg)) {
            std::fprintf(stderr, "no such file or folder: %s\n", argv[i]);
            return 1;
        }
        if (std::filesystem::is_directory(arg)) {
            for (const auto& entry : std::filesystem::recursive_directory_iterator(arg))
                if (entry.is_regular_file())
                    count += replay(entry.path());
        } else {
            count += replay(arg);
        }
    }
    std::printf("replayed %d inputs through %s\n", count, what);
    return 0;
}

} // namespace palvex
