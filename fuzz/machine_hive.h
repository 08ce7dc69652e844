// The machine hive of the registry fuzz targets: machine.reg in a temp folder of its
// own, which BELLWAVE_REGISTRY_DIR names from the first use on and which is removed when
// the process ends normally.
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

namespace fuzz {

inline const std::string& MachineHivePath() {
    struct Folder {
        std::string path;
        Folder() {
            char pattern[] = "/tmp/bellwave-fuzz-registry-XXXXXX";
            if (const char* made = mkdtemp(pattern)) path = made;
            setenv("BELLWAVE_REGISTRY_DIR", path.empty() ? "/nonexistent" : path.c_str(), 1);
        }
        ~Folder() {
            std::error_code ignored;
            if (!path.empty()) std::filesystem::remove_all(path, ignored);
        }
    };
    static const Folder folder;
    static const std::string file = folder.path + "/machine.reg";
    return file;
}

// Replaces machine.reg with the given bytes; false when it cannot be written.
inline bool WriteMachineHive(const uint8_t* data, size_t size) {
    std::FILE* file = std::fopen(MachineHivePath().c_str(), "wb");
    if (file == nullptr) return false;
    const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && written;
}

}  // namespace fuzz
