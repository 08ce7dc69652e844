#include "player/play_queue.h"

#include <dirent.h>
#include <strings.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <utility>

#include "audiofiles/m3u.h"

bool MakePlayEntry(PlayEntry& entry, const char* name, int32_t directoryIndex) {
    if (name == nullptr) return false;
    const size_t length = std::strlen(name);
    if (length >= size_t(kEntryNameChars)) return false;
    std::memset(entry.name, 0, sizeof entry.name);
    std::memcpy(entry.name, name, length);
    entry.directoryIndex = directoryIndex;
    entry.formerIndex = 0;
    return true;
}

bool PlayQueue::Append(const PlayEntry& entry) {
    Node* node = new (std::nothrow) Node{entry, nullptr};
    if (node == nullptr) return false;
    if (tail_ != nullptr)
        tail_->next = node;
    else
        head_ = node;
    tail_ = node;
    ++count_;
    return true;
}

bool PlayQueue::Take(PlayEntry& entry) {
    if (head_ == nullptr) return false;
    Node* node = head_;
    head_ = node->next;
    if (head_ == nullptr) tail_ = nullptr;
    --count_;
    entry = node->entry;
    delete node;
    return true;
}

void PlayQueue::Clear() {
    PlayEntry entry;
    while (Take(entry)) {
    }
}

int DirectoryTable::AddDirectory(const char* path) {
    if (path == nullptr) return -1;
    size_t length = std::strlen(path);
    while (length > 0 && path[length - 1] == '/') --length;
    if (length >= size_t(kDirectoryChars)) return -1;
    for (int i = 0; i < directoryCount_; ++i)
        if (std::strncmp(slots_[i], path, length) == 0 && slots_[i][length] == '\0') return i;
    if (directoryCount_ == kDirectorySlots) return -1;
    std::memcpy(slots_[directoryCount_], path, length);
    slots_[directoryCount_][length] = '\0';
    return directoryCount_++;
}

const char* DirectoryTable::Directory(int index) const {
    return index >= 0 && index < directoryCount_ ? slots_[index] : nullptr;
}

bool DirectoryTable::BuildPath(int index, const char* name, char* path, size_t pathBytes) const {
    if (path == nullptr || pathBytes == 0) return false;
    path[0] = '\0';
    const char* folder = Directory(index);
    if (folder == nullptr || name == nullptr) return false;
    const size_t room = pathBytes < size_t(kTrackPathChars) ? pathBytes : size_t(kTrackPathChars);
    const size_t folderLength = std::strlen(folder);
    const size_t nameLength = std::strlen(name);
    if (folderLength + 1 + nameLength >= room) return false;
    std::memcpy(path, folder, folderLength);
    path[folderLength] = '/';
    std::memcpy(path + folderLength + 1, name, nameLength + 1);
    return true;
}

bool MatchNameIgnoringCase(char* path) {
    char* slash = path != nullptr ? std::strrchr(path, '/') : nullptr;
    if (slash == nullptr || access(path, F_OK) == 0) return false;
    const char* name = slash + 1;
    *slash = '\0';
    DIR* folder = opendir(path[0] != '\0' ? path : "/");
    *slash = '/';
    if (folder == nullptr) return false;
    const char* match = nullptr;
    int matches = 0;
    while (const dirent* e = readdir(folder)) {
        if (strcasecmp(e->d_name, name) != 0) continue;
        match = e->d_name;
        if (++matches > 1) break;
    }
    // Names that differ only in case have the same length, so the match fits in place.
    const bool found = matches == 1 && std::strlen(match) == std::strlen(name);
    if (found) std::memcpy(slash + 1, match, std::strlen(match));
    closedir(folder);
    return found;
}

int PlayList::AddItem(const char* text, int32_t data) {
    PlayEntry entry;
    if (!MakePlayEntry(entry, text, data)) return -1;
    items_.push_back(entry);
    return int(items_.size()) - 1;
}

const char* PlayList::ItemText(int index) const {
    return index >= 0 && index < Count() ? items_[size_t(index)].name : nullptr;
}

int32_t PlayList::ItemData(int index) const {
    return index >= 0 && index < Count() ? items_[size_t(index)].directoryIndex : -1;
}

bool PlayList::SetItemData(int index, int32_t data) {
    if (index < 0 || index >= Count()) return false;
    items_[size_t(index)].directoryIndex = data;
    return true;
}

bool PlayList::DeleteItem(int index) {
    if (index < 0 || index >= Count()) return false;
    items_.erase(items_.begin() + index);
    return true;
}

namespace {

// A draw of 0 .. n - 1 from the C library's generator.
int Draw(int n) { return std::rand() % n; }

bool HasEntryInPlace(const std::vector<PlayEntry>& entries) {
    for (size_t k = 0; k < entries.size(); ++k)
        if (entries[k].formerIndex == int32_t(k)) return true;
    return false;
}

bool HasOldNeighboursInOrder(const std::vector<PlayEntry>& entries) {
    for (size_t k = 1; k < entries.size(); ++k)
        if (entries[k].formerIndex == entries[k - 1].formerIndex + 1) return true;
    return false;
}

// One pass of swaps over five or more entries. Each draw refuses at most four
// candidates, so with n >= 5 one is always left. The pass moves no entry back to its
// former place, but a later swap can put old neighbours next to each other again.
void SwapPass(std::vector<PlayEntry>& e) {
    const int n = int(e.size());
    for (int i = 0; i < n; ++i) {
        int j;
        for (;;) {
            j = Draw(n);
            if (j == i || e[j].formerIndex == i || e[i].formerIndex == j) continue;
            if (i > 0 && e[j].formerIndex == e[i - 1].formerIndex + 1) continue;
            break;
        }
        std::swap(e[i], e[j]);
    }
}

}  // namespace

void Shuffle(PlayList& list) {
    const int n = list.Count();
    if (n < 2) return;
    std::vector<PlayEntry> e(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        MakePlayEntry(e[i], list.ItemText(i), list.ItemData(i));
        e[i].formerIndex = i;
    }

    if (n == 2) {
        std::swap(e[0], e[1]);
    } else if (n == 3) {
        do {
            for (int i = 0; i < 3; ++i) {
                int j;
                do j = Draw(3);
                while (j == i || e[j].formerIndex == i);
                std::swap(e[i], e[j]);
            }
        } while (HasEntryInPlace(e));
    } else if (n == 4) {
        for (int i = 0; i < 4; ++i) {
            int j;
            do j = Draw(4);
            while (j == i || e[j].formerIndex == i || e[i].formerIndex == j);
            std::swap(e[i], e[j]);
        }
    } else {
        do SwapPass(e);
        while (HasEntryInPlace(e) || HasOldNeighboursInOrder(e));
    }

    list.Reset();
    for (const PlayEntry& entry : e) list.AddItem(entry.name, entry.directoryIndex);
}

void MoveQueueToList(PlayQueue& queue, PlayList& list) {
    PlayEntry entry;
    while (queue.Take(entry)) list.AddItem(entry.name, entry.directoryIndex);
}

bool AppendListToQueue(const PlayList& list, PlayQueue& queue) {
    for (int i = 0; i < list.Count(); ++i) {
        PlayEntry entry;
        MakePlayEntry(entry, list.ItemText(i), list.ItemData(i));
        if (!queue.Append(entry)) return false;
    }
    return true;
}

bool AddFileToList(PlayList& list, DirectoryTable& directories, const char* path) {
    const char* slash = path ? std::strrchr(path, '/') : nullptr;
    if (slash == nullptr) return false;
    const char* name = slash + 1;
    if (name[0] == '\0' || std::strlen(name) >= size_t(kEntryNameChars)) return false;
    const size_t folderLength = size_t(slash - path);
    if (folderLength >= size_t(kDirectoryChars)) return false;
    char folder[kDirectoryChars];
    std::memcpy(folder, path, folderLength);
    folder[folderLength] = '\0';
    const int index = directories.AddDirectory(folder);
    return index >= 0 && list.AddItem(name, index) >= 0;
}

int AddM3uToList(PlayList& list, DirectoryTable& directories, const char* m3uPath, FILE* stream) {
    int added = 0;
    ReadM3u(m3uPath, stream, [&](const char* folder, const char* name) {
        // The name is checked first, so a refused entry takes no folder slot.
        if (std::strlen(name) >= size_t(kEntryNameChars)) return;
        const int index = directories.AddDirectory(folder);
        if (index >= 0 && list.AddItem(name, index) >= 0) ++added;
    });
    return added;
}

bool AddPathToList(PlayList& list, DirectoryTable& directories, const char* path) {
    if (path == nullptr || path[0] == '\0') return false;
    std::error_code error;
    const std::string full = std::filesystem::absolute(path, error).lexically_normal().string();
    if (error) return false;
    const size_t dot = full.rfind('.');
    if (dot != std::string::npos && full.find('/', dot) == std::string::npos &&
        strcasecmp(full.c_str() + dot, ".m3u") == 0) {
        FILE* stream = std::fopen(full.c_str(), "rb");
        return stream != nullptr && AddM3uToList(list, directories, full.c_str(), stream) > 0;
    }
    return AddFileToList(list, directories, full.c_str());
}
