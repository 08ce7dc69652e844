// A read-only memory mapping of a whole file. The sound file reader works on the mapped
// bytes directly, so a track is never copied as a whole.
//
// Another process may cut a mapped file short (re-encoding it in place, a network share
// going away, a download restarting). A read of a page past its new end would raise
// SIGBUS and end the program; here such pages read as zeros instead, on any thread, and
// CutShort() tells the reader that what it read past the new end is not the file's.
#pragma once

#include <atomic>
#include <cstdint>

class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile() { Close(); }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // Maps the file at path. True on success (size != 0). A missing, unreadable or empty
    // file, or one the system will not map, leaves size 0. Files of 4 GiB or more are
    // mapped up to their first 4 GiB - 1 bytes. At most kGuardedMappings files are
    // mapped at a time.
    bool Open(const char* path);
    // Releases the mapping and the file; size becomes 0. Safe to call twice. Not while
    // another thread reads the mapping.
    void Close();
    // The file was found cut short under the mapping (any thread).
    bool CutShort() const { return cutShort.load(std::memory_order_acquire); }

    static constexpr int kGuardedMappings = 64;

    char path[260] = {};          // copied in only when the mapping succeeded
    int fileHandle = -1;          // the open file, or -1
    uint32_t size = 0;            // bytes mapped; 0 = not open
    const uint8_t* view = nullptr;
    std::atomic<bool> cutShort{false};  // set by the SIGBUS handler
};
