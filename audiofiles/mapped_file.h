// A read-only memory mapping of a whole file. The sound file reader works on the mapped
// bytes directly, so a track is never copied as a whole.
#pragma once

#include <cstdint>

class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile() { Close(); }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // Maps the file at path. True on success (size != 0). A missing, unreadable or empty
    // file, or one the system will not map, leaves size 0. Files of 4 GiB or more are
    // mapped up to their first 4 GiB - 1 bytes.
    bool Open(const char* path);
    // Releases the mapping and the file; size becomes 0. Safe to call twice.
    void Close();

    char path[260] = {};          // copied in only when the mapping succeeded
    int fileHandle = -1;          // the open file, or -1
    uint32_t size = 0;            // bytes mapped; 0 = not open
    const uint8_t* view = nullptr;
};
