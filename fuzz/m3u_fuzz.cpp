// Feeds arbitrary bytes to the play-list reader as a list in "/lists" and checks every
// entry it hands on: a ".wav" or ".mp3" name (in any case) without separators, a folder
// with '/' separators only, and a folder within the 255 bytes the reader promises.
#include <strings.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "audiofiles/m3u.h"

static void CheckEntry(const char* folder, const char* name) {
    const size_t nameLength = std::strlen(name);
    if (nameLength < 4 || std::strchr(name, '/') || std::strchr(name, '\\')) std::abort();
    const char* extension = name + nameLength - 4;
    if (strcasecmp(extension, ".wav") != 0 && strcasecmp(extension, ".mp3") != 0) std::abort();
    if (std::strchr(folder, '\\')) std::abort();
    if (std::strlen(folder) > size_t(kM3uLineBytes)) std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* stream = tmpfile();
    if (stream == nullptr) return 0;
    if (size > 0 && fwrite(data, 1, size, stream) != size) {
        fclose(stream);
        return 0;
    }
    rewind(stream);
    int entries = 0;
    const int count = ReadM3u("/lists/fuzz.m3u", stream, [&](const char* folder, const char* name) {
        CheckEntry(folder, name);
        ++entries;
    });
    if (count != entries) std::abort();
    return 0;
}
