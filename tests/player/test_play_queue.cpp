// The play list read from files and M3U lists into a folder table that can fill up.
#include <gtest/gtest.h>

#include <cstdio>

#include "player/play_queue.h"
#include "test_support.h"

namespace {

using testing_support::TempDir;
using testing_support::WriteFile;

std::string Joined(const PlayList& list) {
    std::string text;
    for (int k = 0; k < list.Count(); ++k) text += list.ItemText(k) + (":" + std::to_string(list.ItemData(k))) + " ";
    return text;
}

TEST(PlayList, AddsFilesAndM3uEntriesDroppingOnlyWhatDoesNotFit) {
    TempDir dir;
    const std::string m3u = (dir / "best.m3u").string();
    // A name that fits the reader's 255 bytes but not an entry comes first: a folder slot
    // taken for it would leave none for "Live".
    WriteFile(m3u, "/a/" + std::string(244, 'n') + ".mp3\nSONG.MP3\nLive\\a.wav\n/full/b.mp3\nc.mp3\nlive/d.wav");
    PlayList list;
    DirectoryTable table;
    EXPECT_TRUE(AddFileToList(list, table, "/music/a.mp3"));
    EXPECT_FALSE(AddFileToList(list, table, "bare.mp3"));
    for (int i = 1; i < kDirectorySlots - 2; ++i) table.AddDirectory(("/d" + std::to_string(i)).c_str());
    // Two slots left: the list's folder and "Live"; "/full" and "live" find the table full.
    EXPECT_EQ(AddM3uToList(list, table, m3u.c_str(), fopen(m3u.c_str(), "rb")), 3);
    EXPECT_EQ(Joined(list), "a.mp3:0 SONG.MP3:62 a.wav:63 c.mp3:62 ");
    // Read twice into a roomy table, the list stores each folder once.
    table.ClearDirectories();
    EXPECT_EQ(AddM3uToList(list, table, m3u.c_str(), fopen(m3u.c_str(), "rb")), 5);
    EXPECT_EQ(AddM3uToList(list, table, m3u.c_str(), fopen(m3u.c_str(), "rb")), 5);
    EXPECT_EQ(table.Count(), 4);  // the list's folder, Live, /full, live
}

}  // namespace
