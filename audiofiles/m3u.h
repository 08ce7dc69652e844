// The play-list reader: turns the lines of an ".m3u" file into (folder, file name) pairs
// for the play list. Nothing is looked up on disk here; a missing file is dropped later,
// when the queue reaches it.
//
// Lines end at CR or LF in any mix; empty lines, "#" comments (#EXTM3U, #EXTINF),
// internet addresses and files other than ".wav" and ".mp3" are passed over. Only the
// first kM3uLineBytes bytes of a line count. A line may separate folders with '/' or
// '\'; the folders handed on always use '/'.
//
//   song.mp3          the list's own folder
//   /music/song.wav   absolute: the folder as written ("D:\Music\x.wav" likewise)
//   Live\song.mp3     relative: the list's folder + "/" + "Live"
#pragma once

#include <cstdio>
#include <functional>

// Bytes of a line that count, and the longest folder an entry may make (for a bare
// name, the longest folder + "/" + name): lines that would make a longer one are passed
// over.
constexpr int kM3uLineBytes = 255;

// Receives one entry: its folder (without a trailing '/'; empty for the root folder)
// and its file name as the list writes it. Both strings live only for the call.
using M3uEntryFn = std::function<void(const char* folder, const char* name)>;

// Reads the list at m3uPath from stream (opened by the caller, "rb") and closes the
// stream in every case. A path without a '/' has no folder to resolve names against
// and gives nothing. Returns the number of entries handed to onEntry.
int ReadM3u(const char* m3uPath, FILE* stream, const M3uEntryFn& onEntry);
