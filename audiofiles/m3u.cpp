#include "audiofiles/m3u.h"

#include <strings.h>

#include <cstring>

namespace {

constexpr int kFolderChars = kM3uLineBytes + 1;

bool IsLineEnd(int c) { return c == '\r' || c == '\n'; }


// The list's own folder, for names without an absolute folder.
struct ListFolder {
    char text[kFolderChars];
    int length;  // -1: too long for any entry to fit beside it
};

// Makes an entry of one line (length bytes, no line end) and hands it on. False when
// the line is passed over.
bool TakeLine(char* line, int length, const ListFolder& list, const M3uEntryFn& onEntry) {
    if (length == 0 || line[0] == '#') return false;
    if (std::memchr(line, '\0', size_t(length)) != nullptr) return false;  // not text
    if (std::strncmp(line, "http:", 5) == 0) return false;
    line[length] = '\0';
    if (std::strstr(line, "://") != nullptr) return false;  // any other internet address

    for (int i = 0; i < length; ++i)
        if (line[i] == '\\') line[i] = '/';
    // The name stays as written: file names are case-sensitive here. Only the extension
    // is compared without regard to case.
    const char* dot = std::strrchr(line, '.');
    if (dot == nullptr || (strcasecmp(dot, ".wav") != 0 && strcasecmp(dot, ".mp3") != 0)) return false;

    char folder[2 * kFolderChars];
    const char* name = line;
    char* slash = std::strrchr(line, '/');
    if (slash == nullptr) {
        if (list.length < 0 || length + list.length + 1 > kM3uLineBytes) return false;
        std::memcpy(folder, list.text, size_t(list.length) + 1);
    } else {
        // Decided before the folder is cut off: "/name.mp3" has its slash at 0.
        const bool absolute = line[0] == '/' || (length > 1 && line[1] == ':');
        *slash = '\0';
        name = slash + 1;
        const int folderLength = int(slash - line);
        if (absolute) {
            std::memcpy(folder, line, size_t(folderLength) + 1);
        } else {
            // The folder made must fit; the name's room is checked when the entry plays.
            if (list.length < 0 || list.length + 1 + folderLength > kM3uLineBytes) return false;
            std::memcpy(folder, list.text, size_t(list.length));
            folder[list.length] = '/';
            std::memcpy(folder + list.length + 1, line, size_t(folderLength) + 1);
        }
    }
    onEntry(folder, name);
    return true;
}

}  // namespace

int ReadM3u(const char* m3uPath, FILE* stream, const M3uEntryFn& onEntry) {
    if (stream == nullptr) return 0;
    const char* lastSlash = m3uPath ? std::strrchr(m3uPath, '/') : nullptr;
    if (lastSlash == nullptr) {
        fclose(stream);
        return 0;
    }
    ListFolder list;
    list.length = int(lastSlash - m3uPath);
    if (list.length < kFolderChars) {
        std::memcpy(list.text, m3uPath, size_t(list.length));
        list.text[list.length] = '\0';
    } else {
        list.length = -1;
    }

    int entries = 0;
    bool firstLine = true;
    char line[kM3uLineBytes + 1];
    int c = getc(stream);
    while (c != EOF) {
        while (c != EOF && IsLineEnd(c)) c = getc(stream);
        int length = 0;
        while (c != EOF && !IsLineEnd(c)) {
            if (length < kM3uLineBytes) line[length++] = char(c);
            c = getc(stream);
        }
        char* start = line;
        // A byte-order mark in front of the first line is not part of the name.
        if (firstLine && length >= 3 && std::memcmp(line, "\xEF\xBB\xBF", 3) == 0) {
            start += 3;
            length -= 3;
        }
        firstLine = false;
        if (TakeLine(start, length, list, onEntry)) ++entries;
    }
    fclose(stream);
    return entries;
}
