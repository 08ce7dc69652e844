// Runs a fuzz target over files when the compiler has no libFuzzer (g++): each
// argument is a file or a folder of files, fed whole to LLVMFuzzerTestOneInput. With
// clang the targets link libFuzzer instead and this file is not built.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static void RunFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
}

int main(int argc, char** argv) {
    int runs = 0;
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path path(argv[i]);
        if (std::filesystem::is_directory(path)) {
            for (const auto& entry : std::filesystem::recursive_directory_iterator(path))
                if (entry.is_regular_file()) RunFile(entry.path()), ++runs;
        } else {
            RunFile(path), ++runs;
        }
    }
    std::printf("ran %d inputs\n", runs);
    return 0;
}
