#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

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

// The former positions of a shuffled Numbered(n), whose data must stay with its text.
std::vector<int> Shuffled(int n) {
    PlayList list = Numbered(n);
    Shuffle(list);
    std::vector<int> former;
    for (int k = 0; k < n; ++k) {
        former.push_back(std::atoi(list.ItemText(k) + 1));
        EXPECT_EQ(list.ItemData(k), 100 + former.back()) << Joined(list);
    }
    return former;
}

TEST(PlayQueue, MovesEntriesInOrderAndRefusesNamesTooLong) {
    PlayQueue queue;
    PlayList list = Numbered(3);
    for (int round = 0; round < 2; ++round) {  // the second round reuses the emptied queue
        EXPECT_TRUE(AppendListToQueue(list, queue));
        list.Reset();
        MoveQueueToList(queue, list);
        EXPECT_EQ(Joined(list), "t0:100 t1:101 t2:102 ");
    }
    EXPECT_EQ(queue.Count(), 0u);
    EXPECT_EQ(list.AddItem(std::string(247, 'a').c_str(), 5), 3);
    EXPECT_EQ(list.AddItem(std::string(248, 'a').c_str(), 6), -1);
}

TEST(DirectoryTable, StoresEachFolderOnceAndRefusesWhatDoesNotFit) {
    DirectoryTable table;
    // Stored without a trailing '/', compared case-sensitively; a prefix is another one.
    for (auto [folder, index] : {std::pair{"/music/a", 0}, {"/music/b", 1}, {"/music/a/", 0}, {"/music/A", 2},
                                 {"/music", 3}, {"/", 4}})
        EXPECT_EQ(table.AddDirectory(folder), index) << folder;
    EXPECT_EQ(table.AddDirectory(std::string(256, 'x').c_str()), -1);
    EXPECT_EQ(table.AddDirectory(std::string(255, 'x').c_str()), 5);

    char path[kTrackPathChars] = "x", large[1024] = "x";
    EXPECT_TRUE(table.BuildPath(4, "root.wav", path, sizeof path) && std::string(path) == "/root.wav");
    EXPECT_TRUE(table.BuildPath(3, std::string(252, 'n').c_str(), path, sizeof path) && strlen(path) == 259);
    EXPECT_FALSE(table.BuildPath(3, std::string(253, 'n').c_str(), large, sizeof large) || large[0] != '\0');
    EXPECT_FALSE(table.BuildPath(6, "a.mp3", path, sizeof path));
    // A full table refuses new folders and still finds the stored ones.
    for (int i = table.Count(); i < kDirectorySlots; ++i) table.AddDirectory(("/d" + std::to_string(i)).c_str());
    EXPECT_EQ(table.AddDirectory("/one/too/many"), -1);
    EXPECT_EQ(table.AddDirectory("/music/b"), 1);
    EXPECT_STREQ(table.Directory(kDirectorySlots - 1), "/d63");
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
    EXPECT_FALSE(AddFileToList(list, table, ("/long/" + std::string(248, 'n')).c_str()));
    for (int i = 1; i < kDirectorySlots - 2; ++i) table.AddDirectory(("/d" + std::to_string(i)).c_str());
    // Two slots left: the list's folder and "Live"; "/full" and "live" find the table full.
    EXPECT_EQ(AddM3uToList(list, table, m3u.c_str(), fopen(m3u.c_str(), "rb")), 3);
    EXPECT_EQ(Joined(list), "a.mp3:0 SONG.MP3:62 a.wav:63 c.mp3:62 ");
    EXPECT_EQ(table.Directory(63), (dir.path() / "Live").string());
    // Read twice into a roomy table, the list stores each folder once.
    table.ClearDirectories();
    EXPECT_EQ(AddM3uToList(list, table, m3u.c_str(), fopen(m3u.c_str(), "rb")), 5);
    EXPECT_EQ(AddM3uToList(list, table, m3u.c_str(), fopen(m3u.c_str(), "rb")), 5);
    EXPECT_EQ(table.Count(), 4);  // the list's folder, Live, /full, live
}

// A name from a list made where names ignore case finds the one file it means.
TEST(PlayList, NamesMatchTheOneFileThatDiffersOnlyInCase) {
    TempDir dir;
    for (const char* name : {"x.wav", "Song.mp3", "song.MP3", "Exact.wav", "exact.wav"}) WriteFile(dir / name, "");
    const struct { const char* asked; const char* found; } cases[] = {
        {"X.WAV", "x.wav"},          // one file of that name in another case
        {"SONG.MP3", "SONG.MP3"},    // two: which one is meant is not known
        {"Exact.wav", "Exact.wav"},  // the name as written exists
        {"none.wav", "none.wav"},
    };
    for (const auto& c : cases) {
        std::string path = (dir / c.asked).string();
        EXPECT_EQ(MatchNameIgnoringCase(path.data()), std::strcmp(c.asked, c.found) != 0) << c.asked;
        EXPECT_EQ(path, (dir / c.found).string());
    }
}

TEST(Shuffle, TwoSwapThreeRotateMoreMoveEveryItemAndBreakOldNeighbours) {
    EXPECT_EQ(Shuffled(1), std::vector<int>({0}));
    EXPECT_EQ(Shuffled(2), std::vector<int>({1, 0}));
    std::set<std::vector<int>> rotations;
    for (int round = 0; round < 40; ++round) rotations.insert(Shuffled(3));
    EXPECT_EQ(rotations, (std::set<std::vector<int>>{{1, 2, 0}, {2, 0, 1}})) << "both rotations, nothing else";
    for (int n = 4; n <= 40; ++n) {
        for (int round = 0; round < 50; ++round) {
            const std::vector<int> former = Shuffled(n);
            std::vector<int> sorted = former;
            std::sort(sorted.begin(), sorted.end());
            for (int k = 0; k < n; ++k) {
                ASSERT_EQ(sorted[k], k) << "the same items, n = " << n;
                ASSERT_NE(former[k], k) << "in place, n = " << n;
                ASSERT_FALSE(n >= 5 && k > 0 && former[k] == former[k - 1] + 1) << "old neighbours, n = " << n;
            }
        }
    }
}

// Fresh processes (this binary run twice; with the variable set it only writes the
// order) shuffle alike, as rand does after srand(1): it was never seeded.
TEST(Shuffle, FreshProcessesShuffleAlike) {
    auto order = [] {
        PlayList list = Numbered(12);
        Shuffle(list);
        return Joined(list);
    };
    if (const char* file = std::getenv("BELLWAVE_SHUFFLE_ORDER_FILE")) return WriteFile(file, order());
    TempDir dir;
    const std::string self = std::filesystem::read_symlink("/proc/self/exe");
    std::string orders[2];
    for (std::string& text : orders) {
        const std::string file = dir / ("order" + std::to_string(&text - orders));
        ASSERT_EQ(std::system(("BELLWAVE_SHUFFLE_ORDER_FILE=" + file + " " + self +
                               " --gtest_filter=Shuffle.FreshProcessesShuffleAlike >/dev/null 2>&1").c_str()), 0);
        text = testing_support::ReadFile(file);
    }
    EXPECT_EQ(orders[0], orders[1]);
    std::srand(1);
    EXPECT_EQ(orders[0], order());
    EXPECT_NE(orders[0], Joined(Numbered(12)));
}

}  // namespace
