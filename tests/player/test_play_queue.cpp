#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "player/play_queue.h"
#include "test_support.h"

namespace {

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

// A list of n items "t<i>" with data 100 + i.
PlayList Numbered(int n) {
    PlayList list;
    for (int i = 0; i < n; ++i) list.AddItem(("t" + std::to_string(i)).c_str(), 100 + i);
    return list;
}

// The former position of each item of a shuffled Numbered list; fails the test when an
// item's data no longer belongs to its text.
std::vector<int> FormerPositions(const PlayList& list) {
    std::vector<int> former;
    for (int k = 0; k < list.Count(); ++k) {
        former.push_back(std::atoi(list.ItemText(k) + 1));
        EXPECT_EQ(list.ItemData(k), 100 + former.back()) << "item " << k;
    }
    return former;
}

std::string Joined(const PlayList& list) {
    std::string text;
    for (int k = 0; k < list.Count(); ++k) text += std::string(list.ItemText(k)) + ":" + std::to_string(list.ItemData(k)) + " ";
    return text;
}

TEST(PlayQueue, MovesEntriesInOrderBetweenQueueAndList) {
    PlayQueue queue;
    PlayList list;
    for (int round = 0; round < 2; ++round) {  // the second round reuses the emptied queue
        for (int i = 0; i < 3; ++i) list.AddItem(("n" + std::to_string(i)).c_str(), i);
        EXPECT_TRUE(AppendListToQueue(list, queue));
        EXPECT_EQ(queue.Count(), 3u);
        list.Reset();
        MoveQueueToList(queue, list);
        EXPECT_EQ(queue.Count(), 0u);
        EXPECT_EQ(Joined(list), "n0:0 n1:1 n2:2 ");
        list.Reset();
    }
    PlayEntry entry;
    EXPECT_FALSE(queue.Take(entry));
    // Names that cannot become entries are refused by the list as by an entry.
    EXPECT_EQ(list.AddItem(std::string(247, 'a').c_str(), 5), 0);
    EXPECT_EQ(list.AddItem(std::string(248, 'a').c_str(), 6), -1);
    EXPECT_FALSE(MakePlayEntry(entry, std::string(248, 'b').c_str(), 2));
}

TEST(DirectoryTable, StoresEachFolderOnceAndRefusesWhatDoesNotFit) {
    DirectoryTable table;
    EXPECT_EQ(table.AddDirectory("/music/a"), 0);
    EXPECT_EQ(table.AddDirectory("/music/b"), 1);
    EXPECT_EQ(table.AddDirectory("/music/a/"), 0) << "stored without a trailing '/'";
    EXPECT_EQ(table.AddDirectory("/music/A"), 2) << "folders compare case-sensitively";
    EXPECT_EQ(table.AddDirectory("/music"), 3) << "a prefix of a stored folder is another folder";
    EXPECT_EQ(table.AddDirectory("/"), 4);
    EXPECT_EQ(table.AddDirectory(std::string(256, 'x').c_str()), -1);
    EXPECT_EQ(table.AddDirectory(std::string(255, 'x').c_str()), 5);

    char path[kTrackPathChars];
    EXPECT_TRUE(table.BuildPath(4, "root.wav", path, sizeof path));
    EXPECT_STREQ(path, "/root.wav");
    EXPECT_TRUE(table.BuildPath(3, std::string(252, 'n').c_str(), path, sizeof path));
    EXPECT_EQ(std::string(path).size(), 259u);  // the longest path
    char large[1024];
    EXPECT_FALSE(table.BuildPath(3, std::string(253, 'n').c_str(), large, sizeof large));
    EXPECT_STREQ(large, "");
    EXPECT_FALSE(table.BuildPath(6, "a.mp3", path, sizeof path));

    // A full table refuses new folders and still finds the stored ones.
    for (int i = table.Count(); i < kDirectorySlots; ++i)
        ASSERT_EQ(table.AddDirectory(("/d" + std::to_string(i)).c_str()), i);
    EXPECT_EQ(table.AddDirectory("/one/too/many"), -1);
    EXPECT_EQ(table.AddDirectory("/music/b"), 1);
    EXPECT_EQ(table.Directory(kDirectorySlots), nullptr);
    table.ClearDirectories();
    EXPECT_EQ(table.Directory(0), nullptr);
    EXPECT_EQ(table.AddDirectory("/music/b"), 0);
}

TEST(PlayList, AddsFilesAndM3uEntriesDroppingOnlyWhatDoesNotFit) {
    TempDir dir;
    const std::string m3u = (dir / "best.m3u").string();
    // The long name fits the reader's 255 bytes but not an entry; it comes first, so a
    // folder slot taken for it would leave none for "Live".
    WriteFile(m3u, "#EXTM3U\r\n/" + std::string(244, 'n') + ".mp3\r\nSONG.MP3\r\nLive\\a.wav\r\n"
                   "/full/b.mp3\r\nc.mp3\r\nlive/d.wav");
    PlayList list;
    DirectoryTable table;
    EXPECT_TRUE(AddFileToList(list, table, "/music/a.mp3"));
    EXPECT_TRUE(AddFileToList(list, table, "/music/b.wav"));
    EXPECT_FALSE(AddFileToList(list, table, "bare.mp3"));
    EXPECT_FALSE(AddFileToList(list, table, ("/long/" + std::string(248, 'n')).c_str()));
    EXPECT_EQ(table.Count(), 1) << "one folder, none for a refused name";
    for (int i = 1; i < kDirectorySlots - 2; ++i) table.AddDirectory(("/d" + std::to_string(i)).c_str());

    // Two slots left: the list's folder and "Live"; "/full" and "live" find the table full.
    EXPECT_EQ(AddM3uToList(list, table, m3u.c_str(), fopen(m3u.c_str(), "rb")), 3);
    EXPECT_EQ(Joined(list), "a.mp3:0 b.wav:0 SONG.mp3:62 a.wav:63 c.mp3:62 ");
    EXPECT_EQ(table.Directory(62), dir.path().string());
    EXPECT_EQ(table.Directory(63), (dir.path() / "Live").string());
    EXPECT_FALSE(AddFileToList(list, table, "/new/x.mp3"));
    EXPECT_TRUE(AddFileToList(list, table, "/music/again.mp3"));

    // Read twice into a roomy table, the list stores each folder once.
    table.ClearDirectories();
    EXPECT_EQ(AddM3uToList(list, table, m3u.c_str(), fopen(m3u.c_str(), "rb")), 5);
    EXPECT_EQ(AddM3uToList(list, table, m3u.c_str(), fopen(m3u.c_str(), "rb")), 5);
    EXPECT_EQ(table.Count(), 4);  // the list's folder, Live, /full, live
}

TEST(Shuffle, SmallListsSwapAndRotate) {
    PlayList one = Numbered(1);
    Shuffle(one);
    EXPECT_EQ(FormerPositions(one), std::vector<int>({0}));
    PlayList two = Numbered(2);
    Shuffle(two);
    EXPECT_EQ(FormerPositions(two), std::vector<int>({1, 0}));
    bool seen[2] = {false, false};
    for (int round = 0; round < 40; ++round) {
        PlayList three = Numbered(3);
        Shuffle(three);
        const std::vector<int> former = FormerPositions(three);
        const bool left = former == std::vector<int>({1, 2, 0});
        ASSERT_TRUE(left || former == std::vector<int>({2, 0, 1})) << Joined(three);
        seen[left ? 0 : 1] = true;
    }
    EXPECT_TRUE(seen[0] && seen[1]) << "both rotations turn up";
}

TEST(Shuffle, MovesEveryItemAndBreaksOldNeighbours) {
    for (int n = 4; n <= 40; ++n) {
        for (int round = 0; round < 50; ++round) {
            PlayList list = Numbered(n);
            Shuffle(list);
            const std::vector<int> former = FormerPositions(list);
            std::vector<int> sorted = former;
            std::sort(sorted.begin(), sorted.end());
            ASSERT_EQ(sorted, FormerPositions(Numbered(n))) << "the same items: " << Joined(list);
            for (int k = 0; k < n; ++k) {
                ASSERT_NE(former[k], k) << "in place: " << Joined(list);
                ASSERT_FALSE(n >= 5 && k > 0 && former[k] == former[k - 1] + 1) << "old neighbours: " << Joined(list);
            }
        }
    }
}

// A fresh process has drawn nothing from rand yet: the same list comes out alike in
// every run, and as rand gives it after srand(1), its state before any seeding. The
// test runs its own binary twice; with the variable set it only writes the order.
TEST(Shuffle, FreshProcessesShuffleAlike) {
    if (const char* orderFile = std::getenv("BELLWAVE_SHUFFLE_ORDER_FILE")) {
        PlayList list = Numbered(12);
        Shuffle(list);
        WriteFile(orderFile, Joined(list));
        return;
    }
    TempDir dir;
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    std::string orders[2];
    for (int run = 0; run < 2; ++run) {
        const std::string file = (dir / ("order" + std::to_string(run))).string();
        const std::string command = "BELLWAVE_SHUFFLE_ORDER_FILE=" + file + " " + self +
                                    " --gtest_filter=Shuffle.FreshProcessesShuffleAlike >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0);
        orders[run] = ReadFile(file);
    }
    EXPECT_EQ(orders[0], orders[1]);
    std::srand(1);
    PlayList list = Numbered(12);
    Shuffle(list);
    EXPECT_EQ(orders[0], Joined(list));
    EXPECT_NE(orders[0], Joined(Numbered(12)));
}

}  // namespace
