#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "audiofiles/m3u.h"

namespace {

using namespace std::string_literals;
using Entries = std::vector<std::pair<std::string, std::string>>;  // folder, name

// Reads text as the list m3uPath; the stream is a temporary file, so the path need
// not exist.
Entries Read(const std::string& text, const char* m3uPath, int* count = nullptr) {
    Entries entries;
    FILE* stream = tmpfile();
    EXPECT_NE(stream, nullptr);
    if (stream == nullptr) return entries;
    EXPECT_EQ(fwrite(text.data(), 1, text.size(), stream), text.size());
    rewind(stream);
    const int n = ReadM3u(m3uPath, stream, [&](const char* folder, const char* name) {
        entries.emplace_back(folder, name);
    });
    if (count) *count = n;
    return entries;
}

TEST(M3u, TakesExactlyTheFileLinesOfAnExtendedList) {
    const std::string list =
        "#EXTM3U\r\n"
        "\r\n"
        "#EXTINF:123,Artist - Title\r\n"
        "SONG.MP3\r\n"
        "cover.jpg\r\n"
        "http://radio.example/stream.mp3\r\n"
        "https://radio.example/other.mp3\r\n"
        "\r\n\r\n"
        "Live\\Set 1\\Opening.Wav\r\n"
        "Live/Set 1/Encore.wav\n"
        "/music/abs.mp3\r"
        "D:\\Music\\drive.wav\r\n"
        "noextension\n"
        "#EXTINF:5,last\n"
        "last.mp3";  // no line end
    int count = -1;
    const Entries entries = Read(list, "/home/u/Lists/best.m3u", &count);
    const Entries expected = {
        {"/home/u/Lists", "SONG.mp3"},
        {"/home/u/Lists/Live/Set 1", "Opening.wav"},
        {"/home/u/Lists/Live/Set 1", "Encore.wav"},
        {"/music", "abs.mp3"},
        {"D:/Music", "drive.wav"},
        {"/home/u/Lists", "last.mp3"},
    };
    EXPECT_EQ(entries, expected);
    EXPECT_EQ(count, 6);
}

TEST(M3u, LineEndsInAnyMixAndOddBytes) {
    EXPECT_EQ(Read("a.wav\rb.wav\n\n\r\r\nc.wav\n\r#end", "/l/x.m3u"),
              (Entries{{"/l", "a.wav"}, {"/l", "b.wav"}, {"/l", "c.wav"}}));
    // A byte-order mark before the first line, a NUL inside a line.
    EXPECT_EQ(Read("\xEF\xBB\xBF" "first.mp3\nbad\0name.mp3\nok.mp3\n"s, "/l/x.m3u"),
              (Entries{{"/l", "first.mp3"}, {"/l", "ok.mp3"}}));
    EXPECT_TRUE(Read("\r\n\r\n", "/l/x.m3u").empty());
    // A list in the root folder resolves against ""; a list path without a folder
    // resolves nothing.
    EXPECT_EQ(Read("a.mp3\nsub\\b.mp3\n", "/x.m3u"), (Entries{{"", "a.mp3"}, {"/sub", "b.mp3"}}));
    EXPECT_TRUE(Read("a.mp3\n", "x.m3u").empty());
    EXPECT_TRUE(Read("a.mp3x\na.wa\nv1.0/readme\n.mp3.txt\nfolder.mp3/\n", "/l/x.m3u").empty());
}

TEST(M3u, KeepsEveryPathWithin255Bytes) {
    const std::string fits(255 - 7 - 4, 'n');  // "/lists/" + name + ".mp3" = 255
    const std::string sub(255 - 7 - 6, 's');   // "/lists/" + sub + "/a.mp3" = 255
    EXPECT_EQ(Read(fits + ".mp3\n" + fits + "n.mp3\n" + sub + "\\a.mp3\n" + sub + "s\\a.mp3\n", "/lists/x.m3u"),
              (Entries{{"/lists", fits + ".mp3"}, {"/lists/" + sub, "a.mp3"}}));
    // Bytes past the 255th are dropped, whether that loses the extension or keeps one;
    // the next line is read from its own start.
    const std::string cut(255 - 5 - 4, 'c');
    EXPECT_EQ(Read("/abs/" + std::string(300, 'z') + ".mp3\n/abs/" + cut + ".wavTRAILING\nafter.wav", "/l/x.m3u"),
              (Entries{{"/abs", cut + ".wav"}, {"/l", "after.wav"}}));
    // A list whose own folder leaves no room still gives its absolute lines.
    const std::string deep = "/" + std::string(300, 'd') + "/x.m3u";
    EXPECT_EQ(Read("a.mp3\nrel\\b.mp3\n/abs/c.mp3\n", deep.c_str()), (Entries{{"/abs", "c.mp3"}}));
}

}  // namespace
