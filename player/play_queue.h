// The play list: the queue of entries still to play, the table of their folders, and
// the list a play-list dialog shows and edits (with its shuffle).
//
// An entry names a file by its short name and an index into the DirectoryTable, so a
// list of many files from a few folders stores each folder once. Everything here runs
// on the user-interface thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

constexpr int kEntryNameChars = 248;  // a name of up to 247 characters and its terminator
constexpr int kDirectorySlots = 64;
constexpr int kDirectoryChars = 256;  // a folder of up to 255 characters and its terminator
constexpr int kTrackPathChars = 260;  // folder + "/" + name, up to 259 characters

struct PlayEntry {
    char name[kEntryNameChars];  // the file name without its folder, zero-filled
    int32_t directoryIndex;      // into the DirectoryTable
    int32_t formerIndex;         // position in the list before a shuffle; only while shuffling
};

// Fills entry (zero-filled name) with name and directoryIndex. False, and entry left
// alone, when name is missing or has kEntryNameChars or more characters.
bool MakePlayEntry(PlayEntry& entry, const char* name, int32_t directoryIndex);

// First-in first-out queue of the entries not yet played.
class PlayQueue {
public:
    PlayQueue() = default;
    ~PlayQueue() { Clear(); }
    PlayQueue(const PlayQueue&) = delete;
    PlayQueue& operator=(const PlayQueue&) = delete;

    // Appends a copy of entry at the tail. False when no memory is left for it.
    bool Append(const PlayEntry& entry);
    // Takes the head entry into entry. False when the queue is empty.
    bool Take(PlayEntry& entry);
    void Clear();
    uint32_t Count() const { return count_; }

private:
    struct Node {
        PlayEntry entry;
        Node* next;
    };
    uint32_t count_ = 0;
    Node* head_ = nullptr;
    Node* tail_ = nullptr;
};

// The folders that entries refer to, without a trailing '/' (the root folder is "").
class DirectoryTable {
public:
    // The index of path in the table, storing it first when it is new (exact,
    // case-sensitive comparison). -1 when path is missing, has kDirectoryChars or more
    // characters, or is new and all kDirectorySlots slots are taken: that folder's
    // entries are refused and the stored ones are untouched.
    int AddDirectory(const char* path);
    void ClearDirectories() { directoryCount_ = 0; }
    int Count() const { return directoryCount_; }
    // The folder at index, or nullptr when index names no stored folder.
    const char* Directory(int index) const;
    // Writes folder + "/" + name into path (pathBytes long, at most kTrackPathChars
    // used). False, with path empty, when index names no stored folder or the whole
    // path does not fit: such an entry cannot be played and is dropped.
    bool BuildPath(int index, const char* name, char* path, size_t pathBytes) const;

private:
    char slots_[kDirectorySlots][kDirectoryChars] = {};
    int directoryCount_ = 0;
};

// For lists made where file names ignore case: when no file is at path (folder + "/" +
// name), the one file of that folder whose name differs from it only in case takes its
// place in path. False, path unchanged, when there is none or more than one.
bool MatchNameIgnoringCase(char* path);

// The list a play-list dialog shows: items with a text (an entry's name) and a data
// value (its directory index), in order.
class PlayList {
public:
    // Appends an item; its index, or -1 when text is missing or too long to become a
    // queue entry (kEntryNameChars or more characters).
    int AddItem(const char* text, int32_t data);
    int Count() const { return int(items_.size()); }
    // nullptr outside 0 .. Count() - 1.
    const char* ItemText(int index) const;
    // -1 outside 0 .. Count() - 1.
    int32_t ItemData(int index) const;
    bool SetItemData(int index, int32_t data);
    bool DeleteItem(int index);
    void Reset() { items_.clear(); }

private:
    std::vector<PlayEntry> items_;
};

// Reorders the list with the C library's rand, never seeded, so every run of the
// program shuffles the same list alike. Two items swap; three rotate; with four or more
// no item stays at its place, and with five or more no two items that followed each
// other still do.
void Shuffle(PlayList& list);

// Moves every queued entry to the end of list, emptying the queue (a dialog opening).
void MoveQueueToList(PlayQueue& queue, PlayList& list);
// Appends every item of list to the queue in order (a dialog closing). False when the
// queue ran out of memory; the items up to then are queued.
bool AppendListToQueue(const PlayList& list, PlayQueue& queue);
// Adds the file at path: its folder to directories, its name to list. False when path
// has no '/', or its folder or name is refused.
bool AddFileToList(PlayList& list, DirectoryTable& directories, const char* path);
// Reads an ".m3u" list (stream opened "rb" by the caller, closed here) into list and
// its folders into directories. Returns the items added; entries whose folder or name
// is refused are dropped, the rest still added.
int AddM3uToList(PlayList& list, DirectoryTable& directories, const char* m3uPath, FILE* stream);
// Adds a path given from outside (a command line, a drop), relative to the current
// folder: an ".m3u" (any case) is read as a list, anything else added as a file. False
// when nothing was added.
bool AddPathToList(PlayList& list, DirectoryTable& directories, const char* path);
