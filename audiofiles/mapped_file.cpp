#include "audiofiles/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

bool MappedFile::Open(const char* filePath) {
    Close();
    if (filePath == nullptr) return false;
    fileHandle = ::open(filePath, O_RDONLY | O_CLOEXEC);
    if (fileHandle < 0) return false;
    struct stat info {};
    if (::fstat(fileHandle, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0) {
        Close();
        return false;
    }
    const uint64_t fileBytes = uint64_t(info.st_size);
    const uint32_t bytes = fileBytes > UINT32_MAX ? UINT32_MAX : uint32_t(fileBytes);
    void* mapped = ::mmap(nullptr, bytes, PROT_READ, MAP_PRIVATE, fileHandle, 0);
    if (mapped == MAP_FAILED) {
        Close();
        return false;
    }
    ::madvise(mapped, bytes, MADV_SEQUENTIAL);  // playback reads front to back
    view = static_cast<const uint8_t*>(mapped);
    size = bytes;
    std::snprintf(path, sizeof path, "%s", filePath);
    return true;
}

void MappedFile::Close() {
    if (view != nullptr) ::munmap(const_cast<uint8_t*>(view), size);
    if (fileHandle >= 0) ::close(fileHandle);
    view = nullptr;
    fileHandle = -1;
    size = 0;
    path[0] = '\0';
}
