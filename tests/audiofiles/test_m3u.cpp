// The play-list reader over list texts; the play-list dialog's tests open lists from disk.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "audiofiles/m3u.h"

namespace {

using namespace std::string_literals;
using Entries = std::vector<std::pair<std::string, std::string>>;  // folder, name

// File lines resolved beside the list; comments, URLs, other files and overlong lines skipped.
TEST(M3u, TakesTheFileLinesWithinTheLengthLimit) {
    const std::string fits(255 - 7 - 4, 'n');  // "/lists/" + name + ".mp3" = 255
    const std::string sub(255 - 7, 's');       // "/lists/" + sub = 255
    const std::string cut(255 - 5 - 4, 'c');
    const struct { std::string text, list; Entries entries; } cases[] = {
        {"#EXTM3U\r\n\r\n#EXTINF:123,A - T\r\nSONG.MP3\r\ncover.jpg\r\nhttp://r.example/s.mp3\r\n"
         "Live\\Set 1\\Opening.Wav\r\nLive/Set 1/Encore.wav\n/music/abs.mp3\rD:\\Music\\drive.wav\r\nnoext\nlast.mp3",
         "/u/best.m3u", {{"/u", "SONG.MP3"}, {"/u/Live/Set 1", "Opening.Wav"}, {"/u/Live/Set 1", "Encore.wav"},
                         {"/music", "abs.mp3"}, {"D:/Music", "drive.wav"}, {"/u", "last.mp3"}}},
        // A byte-order mark before the first line; a NUL inside a line.
        {"\xEF\xBB\xBF" "first.mp3\nbad\0name.mp3\nok.mp3\n"s, "/l/x.m3u", {{"/l", "first.mp3"}, {"/l", "ok.mp3"}}},
        {"a.mp3\nsub\\b.mp3\n/root.mp3\n\\top.wav\n", "/x.m3u",
         {{"", "a.mp3"}, {"/sub", "b.mp3"}, {"", "root.mp3"}, {"", "top.wav"}}},
        {"a.mp3\n", "x.m3u", {}},  // a list path without a folder resolves nothing
        {"a.mp3x\na.wa\nv1.0/readme\n.mp3.txt\nfolder.mp3/\n", "/l/x.m3u", {}},
        // A bare name's path and a relative line's folder may have 255 bytes; bytes past that are dropped.
        {fits + ".mp3\n" + fits + "n.mp3\n" + sub + "\\a.mp3\n" + sub + "s\\a.mp3\n", "/lists/x.m3u",
         {{"/lists", fits + ".mp3"}, {"/lists/" + sub, "a.mp3"}}},
        {"/abs/" + std::string(300, 'z') + ".mp3\n/abs/" + cut + ".wavTRAILING\nafter.wav", "/l/x.m3u",
         {{"/abs", cut + ".wav"}, {"/l", "after.wav"}}},
        // A list whose own folder leaves no room still gives its absolute lines.
        {"a.mp3\nrel\\b.mp3\n/abs/c.mp3\n", "/" + std::string(300, 'd') + "/x.m3u", {{"/abs", "c.mp3"}}},
    };
    for (const auto& c : cases) {  // the list path need not exist; the reader closes the stream
        Entries entries;
        FILE* stream = tmpfile();
        ASSERT_TRUE(stream != nullptr && fwrite(c.text.data(), 1, c.text.size(), stream) == c.text.size());
        rewind(stream);
        const int count =
            ReadM3u(c.list.c_str(), stream, [&](const char* f, const char* name) { entries.emplace_back(f, name); });
        EXPECT_EQ(entries, c.entries) << c.text.substr(0, 40);
        EXPECT_EQ(count, int(entries.size())) << "the count returned";
    }
}

}  // namespace
