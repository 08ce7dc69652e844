#include <gtest/gtest.h>

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

PlayEntry Entry(const std::string& name, int32_t directoryIndex) {
    PlayEntry entry;
    EXPECT_TRUE(MakePlayEntry(entry, name.c_str(), directoryIndex));
    return entry;
}

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
        const int i = std::atoi(list.ItemText(k) + 1);
        EXPECT_EQ(list.ItemData(k), 100 + i) << "item " << k;
        former.push_back(i);
    }
    return former;
}

std::string Joined(const PlayList& list) {
    std::string text;
    for (int k = 0; k < list.Count(); ++k) text += std::string(list.ItemText(k)) + " ";
    return text;
}

TEST(PlayQueue, IsFirstInFirstOut) {
    PlayQueue queue;
    PlayEntry entry;
    EXPECT_FALSE(queue.Take(entry));
    for (int round = 0; round < 2; ++round) {  // the second round reuses an emptied queue
        for (int i = 0; i < 3; ++i) ASSERT_TRUE(queue.Append(Entry("n" + std::to_string(i), i)));
        EXPECT_EQ(queue.Count(), 3u);
        for (int i = 0; i < 3; ++i) {
            ASSERT_TRUE(queue.Take(entry));
            EXPECT_EQ(std::string(entry.name), "n" + std::to_string(i));
            EXPECT_EQ(entry.directoryIndex, i);
        }
        EXPECT_FALSE(queue.Take(entry));
        EXPECT_EQ(queue.Count(), 0u);
    }
    queue.Append(Entry("a", 0));
    queue.Append(Entry("b", 0));
    queue.Clear();
    EXPECT_EQ(queue.Count(), 0u);
    EXPECT_FALSE(queue.Take(entry));
    queue.Append(Entry("c", 5));
    ASSERT_TRUE(queue.Take(entry));
    EXPECT_EQ(std::string(entry.name), "c");
}

TEST(PlayQueue, EntryNamesMustFitTheirBuffer) {
    PlayEntry entry;
    EXPECT_TRUE(MakePlayEntry(entry, std::string(247, 'a').c_str(), 1));
    EXPECT_EQ(std::string(entry.name), std::string(247, 'a'));
    EXPECT_FALSE(MakePlayEntry(entry, std::string(248, 'b').c_str(), 2));
    EXPECT_EQ(entry.name[0], 'a') << "a refused name leaves the entry alone";
    EXPECT_FALSE(MakePlayEntry(entry, nullptr, 3));
}

TEST(DirectoryTable, StoresEachFolderOnceAndRefusesWhatDoesNotFit) {
    DirectoryTable table;
    EXPECT_EQ(table.AddDirectory("/music/a"), 0);
    EXPECT_EQ(table.AddDirectory("/music/b"), 1);
    EXPECT_EQ(table.AddDirectory("/music/a"), 0);
    EXPECT_EQ(table.AddDirectory("/music/a/"), 0) << "stored without a trailing '/'";
    EXPECT_EQ(table.AddDirectory("/music/A"), 2) << "folders compare case-sensitively";
    EXPECT_EQ(table.AddDirectory("/"), 3);
    EXPECT_STREQ(table.Directory(3), "");
    EXPECT_EQ(table.AddDirectory("/music"), 4) << "a prefix of a stored folder is another folder";
    EXPECT_EQ(table.Count(), 5);

    EXPECT_EQ(table.AddDirectory(std::string(256, 'x').c_str()), -1);
    EXPECT_EQ(table.AddDirectory(nullptr), -1);
    EXPECT_EQ(table.AddDirectory(std::string(255, 'x').c_str()), 5);

    // A full table refuses new folders and still finds the stored ones.
    for (int i = table.Count(); i < kDirectorySlots; ++i)
        ASSERT_EQ(table.AddDirectory(("/d" + std::to_string(i)).c_str()), i);
    EXPECT_EQ(table.AddDirectory("/one/too/many"), -1);
    EXPECT_EQ(table.Count(), kDirectorySlots);
    EXPECT_EQ(table.AddDirectory("/music/b"), 1);
    EXPECT_STREQ(table.Directory(kDirectorySlots - 1), ("/d" + std::to_string(kDirectorySlots - 1)).c_str());
    EXPECT_EQ(table.Directory(kDirectorySlots), nullptr);
    EXPECT_EQ(table.Directory(-1), nullptr);

    table.ClearDirectories();
    EXPECT_EQ(table.Count(), 0);
    EXPECT_EQ(table.Directory(0), nullptr);
    EXPECT_EQ(table.AddDirectory("/music/b"), 0);
}

TEST(DirectoryTable, BuildsOnlyPathsThatFit) {
    DirectoryTable table;
    table.AddDirectory("/music");
    table.AddDirectory("/");
    char path[kTrackPathChars];
    EXPECT_TRUE(table.BuildPath(0, "a.mp3", path, sizeof path));
    EXPECT_STREQ(path, "/music/a.mp3");
    EXPECT_TRUE(table.BuildPath(1, "root.wav", path, sizeof path));
    EXPECT_STREQ(path, "/root.wav");
    EXPECT_FALSE(table.BuildPath(2, "a.mp3", path, sizeof path));
    EXPECT_STREQ(path, "");
    EXPECT_FALSE(table.BuildPath(-1, "a.mp3", path, sizeof path));

    // "/music/" is 7 characters: a name of 252 makes the longest path, 259.
    EXPECT_TRUE(table.BuildPath(0, std::string(252, 'n').c_str(), path, sizeof path));
    EXPECT_EQ(std::string(path).size(), 259u);
    EXPECT_FALSE(table.BuildPath(0, std::string(253, 'n').c_str(), path, sizeof path));
    EXPECT_STREQ(path, "");
    // A larger buffer does not lift the limit; a smaller one lowers it.
    char large[1024];
    EXPECT_FALSE(table.BuildPath(0, std::string(253, 'n').c_str(), large, sizeof large));
    char small[10];
    EXPECT_TRUE(table.BuildPath(0, "ab", small, sizeof small));
    EXPECT_STREQ(small, "/music/ab");
    EXPECT_FALSE(table.BuildPath(0, "abc", small, sizeof small));
}

TEST(PlayList, HoldsItemsWithTheirData) {
    PlayList list;
    EXPECT_EQ(list.AddItem("one.mp3", 3), 0);
    EXPECT_EQ(list.AddItem("two.wav", 4), 1);
    EXPECT_EQ(list.AddItem(std::string(247, 'a').c_str(), 5), 2);
    EXPECT_EQ(list.AddItem(std::string(248, 'a').c_str(), 6), -1);
    EXPECT_EQ(list.AddItem(nullptr, 7), -1);
    EXPECT_EQ(list.Count(), 3);
    EXPECT_STREQ(list.ItemText(1), "two.wav");
    EXPECT_EQ(list.ItemData(1), 4);
    EXPECT_EQ(list.ItemText(3), nullptr);
    EXPECT_EQ(list.ItemData(-1), -1);
    EXPECT_TRUE(list.SetItemData(0, 9));
    EXPECT_EQ(list.ItemData(0), 9);
    EXPECT_FALSE(list.SetItemData(3, 9));

    EXPECT_TRUE(list.DeleteItem(1));
    EXPECT_FALSE(list.DeleteItem(2));
    EXPECT_EQ(list.Count(), 2);
    EXPECT_STREQ(list.ItemText(0), "one.mp3");
    EXPECT_EQ(list.ItemData(1), 5);
    list.Reset();
    EXPECT_EQ(list.Count(), 0);
}

TEST(Shuffle, SmallListsSwapAndRotate) {
    PlayList empty;
    Shuffle(empty);
    EXPECT_EQ(empty.Count(), 0);
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
        const bool right = former == std::vector<int>({2, 0, 1});
        ASSERT_TRUE(left || right) << Joined(three);
        seen[left ? 0 : 1] = true;
    }
    EXPECT_TRUE(seen[0] && seen[1]) << "both rotations turn up";
}

TEST(Shuffle, MovesEveryItemAndBreaksOldNeighbours) {
    for (int n = 4; n <= 40; ++n) {
        for (int round = 0; round < 50; ++round) {
            PlayList list = Numbered(n);
            Shuffle(list);
            ASSERT_EQ(list.Count(), n);
            const std::vector<int> former = FormerPositions(list);
            std::vector<bool> present(size_t(n), false);
            for (int k = 0; k < n; ++k) {
                ASSERT_TRUE(former[k] >= 0 && former[k] < n && !present[former[k]]) << Joined(list);
                present[former[k]] = true;
                ASSERT_NE(former[k], k) << "n " << n << ": item in place: " << Joined(list);
                if (n >= 5 && k > 0) {
                    ASSERT_NE(former[k], former[k - 1] + 1) << "n " << n << ": old neighbours: " << Joined(list);
                }
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
        const std::string command = "BELLWAVE_SHUFFLE_ORDER_FILE=" + file +
                                    " " + self + " --gtest_filter=Shuffle.FreshProcessesShuffleAlike"
                                    " >/dev/null 2>&1";
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

TEST(PlayList, MovesBetweenQueueAndList) {
    PlayQueue queue;
    queue.Append(Entry("a.mp3", 0));
    queue.Append(Entry("b.wav", 1));
    PlayList list;
    list.AddItem("first.mp3", 2);
    MoveQueueToList(queue, list);
    EXPECT_EQ(queue.Count(), 0u);
    EXPECT_EQ(Joined(list), "first.mp3 a.mp3 b.wav ");
    EXPECT_EQ(list.ItemData(2), 1);

    EXPECT_TRUE(AppendListToQueue(list, queue));
    EXPECT_EQ(list.Count(), 3) << "the list stays as shown";
    PlayEntry entry;
    std::string order;
    while (queue.Take(entry)) order += std::string(entry.name) + ":" + std::to_string(entry.directoryIndex) + " ";
    EXPECT_EQ(order, "first.mp3:2 a.mp3:0 b.wav:1 ");
}

TEST(PlayList, AddsFilesUnderOneFolderAndDropsWhatDoesNotFit) {
    PlayList list;
    DirectoryTable table;
    EXPECT_TRUE(AddFileToList(list, table, "/music/a.mp3"));
    EXPECT_TRUE(AddFileToList(list, table, "/music/b.wav"));
    EXPECT_TRUE(AddFileToList(list, table, "/other/c.wav"));
    EXPECT_EQ(table.Count(), 2);
    EXPECT_EQ(list.ItemData(0), list.ItemData(1));
    EXPECT_STREQ(table.Directory(list.ItemData(2)), "/other");

    EXPECT_FALSE(AddFileToList(list, table, "bare.mp3"));
    EXPECT_FALSE(AddFileToList(list, table, "/music/"));
    EXPECT_FALSE(AddFileToList(list, table, ("/long/" + std::string(248, 'n')).c_str()));
    EXPECT_FALSE(AddFileToList(list, table, ("/" + std::string(256, 'f') + "/a.mp3").c_str()));
    EXPECT_EQ(table.Count(), 2) << "a refused name takes no folder";
    EXPECT_EQ(list.Count(), 3);

    for (int i = table.Count(); i < kDirectorySlots; ++i) table.AddDirectory(("/d" + std::to_string(i)).c_str());
    EXPECT_FALSE(AddFileToList(list, table, "/new/x.mp3"));
    EXPECT_TRUE(AddFileToList(list, table, "/music/again.mp3"));
    EXPECT_EQ(list.Count(), 4);
}

TEST(PlayList, AddsM3uEntriesAndDropsOnlyTheOnesThatDoNotFit) {
    TempDir dir;
    const std::string path = (dir / "best.m3u").string();
    // The long name fits the reader's 255 bytes but not an entry; it comes first, so a
    // folder slot taken for it would leave none for "Live".
    const std::string longName = std::string(244, 'n') + ".mp3";
    WriteFile(path, "#EXTM3U\r\n/" + longName + "\r\nSONG.MP3\r\nLive\\a.wav\r\n/full/b.mp3\r\nc.mp3\r\nlive/d.wav");

    PlayList list;
    DirectoryTable table;
    for (int i = 0; i < kDirectorySlots - 2; ++i) table.AddDirectory(("/d" + std::to_string(i)).c_str());
    // Two slots left: the list's folder and "Live"; "/full" finds the table full.
    EXPECT_EQ(AddM3uToList(list, table, path.c_str(), fopen(path.c_str(), "rb")), 3);
    EXPECT_EQ(Joined(list), "SONG.mp3 a.wav c.mp3 ");
    EXPECT_STREQ(table.Directory(list.ItemData(0)), dir.path().c_str());
    EXPECT_STREQ(table.Directory(list.ItemData(1)), (dir.path() / "Live").c_str());
    EXPECT_EQ(list.ItemData(2), list.ItemData(0));
    EXPECT_EQ(table.Count(), kDirectorySlots);

    // The same list again in a roomy table: the subfolder is stored once, by either
    // separator's spelling.
    table.ClearDirectories();
    list.Reset();
    EXPECT_EQ(AddM3uToList(list, table, path.c_str(), fopen(path.c_str(), "rb")), 5);
    EXPECT_EQ(table.Count(), 4);  // list folder, Live, /full, live
    EXPECT_EQ(AddM3uToList(list, table, path.c_str(), fopen(path.c_str(), "rb")), 5);
    EXPECT_EQ(table.Count(), 4);
    EXPECT_EQ(list.Count(), 10);
}

}  // namespace
