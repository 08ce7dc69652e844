// The play list, its folder table, the queue it moves to, and the shuffle.
#include <gtest/gtest.h>

#include <cstdio>

#include "player/play_queue.h"
#include "test_support.h"

namespace {

using testing_support::TempDir;
using testing_support::WriteFile;

// A list of n items "t<i>" with data 100 + i.
PlayList Numbered(int n) {
    PlayList list;
    for (int i = 0; i < n; ++i) list.AddItem(("t" + std::to_string(i)).c_str(), 100 + i);
    return list;
}

std::string Joined(const PlayList& list) {
    std::string text;
    for (int k = 0; k < list.Count(); ++k) text += list.ItemText(k) + (":" + std::to_string(list.ItemData(k))) + " ";
    return text;
}

TEST(DirectoryTable, StoresEachFolderOnceAndRefusesWhatDoesNotFit) {
    DirectoryTable table;
    // Stored without a trailing '/', compared case-sensitively; a prefix is another one.
    for (auto [folder, index] : {std::pair{"/music/a", 0}, {"/music/b", 1}, {"/music/a/", 0}, {"/music/A", 2}, {"/music", 3}, {"/", 4}})
        EXPECT_EQ(table.AddDirectory(folder), index) << folder;
    EXPECT_EQ(table.AddDirectory(std::string(256, 'x').c_str()), -1);
    char path[kTrackPathChars] = "x", large[1024] = "x";
    EXPECT_TRUE(table.BuildPath(4, "root.wav", path, sizeof path) && std::string(path) == "/root.wav");
    EXPECT_FALSE(table.BuildPath(3, std::string(253, 'n').c_str(), large, sizeof large) || large[0] != '\0');
    EXPECT_FALSE(table.BuildPath(5, "a.mp3", path, sizeof path));
    // A full table refuses new folders and still finds the stored ones.
    for (int i = table.Count(); i < kDirectorySlots; ++i) table.AddDirectory(("/d" + std::to_string(i)).c_str());
    EXPECT_EQ(table.AddDirectory("/one/too/many"), -1);
    EXPECT_EQ(table.AddDirectory("/music/b"), 1);
    EXPECT_EQ(table.Directory(kDirectorySlots), nullptr);
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

// Every item moves and, past four items, no two old neighbours stay side by side; an
// item's data stays with its text.
TEST(Shuffle, EveryItemMovesAndOldNeighboursPart) {
    for (int n = 2; n <= 40; ++n) {
        for (int round = 0; round < 20; ++round) {
            PlayList list = Numbered(n);
            Shuffle(list);
            std::vector<bool> seen(size_t(n), false);
            for (int k = 0; k < n; ++k) {
                const int former = list.ItemData(k) - 100;
                ASSERT_EQ(list.ItemText(k), "t" + std::to_string(former)) << Joined(list);
                ASSERT_FALSE(former == k || seen.at(size_t(former)) || (n >= 5 && k > 0 && former == list.ItemData(k - 1) - 99))
                    << Joined(list);
                seen[size_t(former)] = true;
            }
        }
    }
}

}  // namespace
