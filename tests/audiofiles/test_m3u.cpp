#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "audiofiles/m3u.h"

namespace {

using namespace std::string_literals;
using Entries = std::vector<std::pair<std::string, std::string>>;  // folder, name

// Reads text as the list m3uPath (which need not exist: the stream is a temporary file,
// closed by the reader).
Entries Read(const std::string& text, const std::string& m3uPath) {
    Entries entries;
    FILE* stream = tmpfile();
    if (stream == nullptr || fwrite(text.data(), 1, text.size(), stream) != text.size()) return {{"unwritten", ""}};
    rewind(stream);
    const int n = ReadM3u(m3uPath.c_str(), stream, [&](const char* folder, const char* name) {
        entries.emplace_back(folder, name);
    });
    EXPECT_EQ(n, int(entries.size())) << "the count returned";
    return entries;
}

TEST(M3u, TakesExactlyTheFileLinesOfAnExtendedList) {
    const std::string list =
        "#EXTM3U\r\n\r\n#EXTINF:123,Artist - Title\r\nSONG.MP3\r\ncover.jpg\r\n"
        "http://radio.example/stream.mp3\r\nhttps://radio.example/other.mp3\r\n\r\n\r\n"
        "Live\\Set 1\\Opening.Wav\r\nLive/Set 1/Encore.wav\n/music/abs.mp3\rD:\\Music\\drive.wav\r\n"
        "noextension\n#EXTINF:5,last\nlast.mp3";  // no line end
    EXPECT_EQ(Read(list, "/home/u/Lists/best.m3u"),
              (Entries{{"/home/u/Lists", "SONG.MP3"}, {"/home/u/Lists/Live/Set 1", "Opening.Wav"},
                       {"/home/u/Lists/Live/Set 1", "Encore.wav"}, {"/music", "abs.mp3"}, {"D:/Music", "drive.wav"},
                       {"/home/u/Lists", "last.mp3"}}));
}

TEST(M3u, OddLinesAndTheLengthLimit) {
    const std::string fits(255 - 7 - 4, 'n');  // "/lists/" + name + ".mp3" = 255
    const std::string sub(255 - 7, 's');       // "/lists/" + sub = 255
    const std::string cut(255 - 5 - 4, 'c');
    const std::string folder100 = "/" + std::string(99, 'f');
    const std::string name150(150, 'm');
    const struct { std::string text, list; Entries entries; } cases[] = {
        {"a.wav\rb.wav\n\n\r\r\nc.wav\n\r#end", "/l/x.m3u", {{"/l", "a.wav"}, {"/l", "b.wav"}, {"/l", "c.wav"}}},
        // A byte-order mark before the first line; a NUL inside a line.
        {"\xEF\xBB\xBF" "first.mp3\nbad\0name.mp3\nok.mp3\n"s, "/l/x.m3u", {{"/l", "first.mp3"}, {"/l", "ok.mp3"}}},
        {"a.mp3\nsub\\b.mp3\n", "/x.m3u", {{"", "a.mp3"}, {"/sub", "b.mp3"}}},
        {"a.mp3\n", "x.m3u", {}},  // a list path without a folder resolves nothing
        // Files in the root folder, either separator.
        {"/root.mp3\n\\top.wav\n", "/l/x.m3u", {{"", "root.mp3"}, {"", "top.wav"}}},
        {"a.mp3x\na.wa\nv1.0/readme\n.mp3.txt\nfolder.mp3/\n", "/l/x.m3u", {}},
        // A bare name's path and a relative line's folder may have up to 255 bytes; the
        // name beside that folder does not count. Bytes past the 255th of a line are dropped.
        {fits + ".mp3\n" + fits + "n.mp3\n" + sub + "\\a.mp3\n" + sub + "s\\a.mp3\n", "/lists/x.m3u",
         {{"/lists", fits + ".mp3"}, {"/lists/" + sub, "a.mp3"}}},
        {"sub\\" + name150 + ".mp3\n", folder100 + "/x.m3u", {{folder100 + "/sub", name150 + ".mp3"}}},
        {"/abs/" + std::string(300, 'z') + ".mp3\n/abs/" + cut + ".wavTRAILING\nafter.wav", "/l/x.m3u",
         {{"/abs", cut + ".wav"}, {"/l", "after.wav"}}},
        // A list whose own folder leaves no room still gives its absolute lines.
        {"a.mp3\nrel\\b.mp3\n/abs/c.mp3\n", "/" + std::string(300, 'd') + "/x.m3u", {{"/abs", "c.mp3"}}},
    };
    for (const auto& c : cases) EXPECT_EQ(Read(c.text, c.list), c.entries) << c.text.substr(0, 40);
}

}  // namespace
