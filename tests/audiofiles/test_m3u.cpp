#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "audiofiles/m3u.h"
#include "test_support.h"

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
    // CR only, LF only, runs of both, a comment at the very end without a line end.
    EXPECT_EQ(Read("a.wav\rb.wav\n\n\r\r\nc.wav\n\r#end", "/l/x.m3u"),
              (Entries{{"/l", "a.wav"}, {"/l", "b.wav"}, {"/l", "c.wav"}}));
    // A byte-order mark before the first line, a NUL inside a line, an empty list.
    EXPECT_EQ(Read("\xEF\xBB\xBF" "first.mp3\nbad\0name.mp3\nok.mp3\n"s, "/l/x.m3u"),
              (Entries{{"/l", "first.mp3"}, {"/l", "ok.mp3"}}));
    EXPECT_TRUE(Read("", "/l/x.m3u").empty());
    EXPECT_TRUE(Read("\r\n\r\n", "/l/x.m3u").empty());
    // The list's folder is the root: bare and relative names resolve against "".
    EXPECT_EQ(Read("a.mp3\nsub\\b.mp3\n", "/x.m3u"), (Entries{{"", "a.mp3"}, {"/sub", "b.mp3"}}));
    // Only a list path with a folder can resolve names.
    EXPECT_TRUE(Read("a.mp3\n", "x.m3u").empty());
    // Extensions that merely start like ours, or dots in folders only.
    EXPECT_TRUE(Read("a.mp3x\na.wa\nv1.0/readme\n.mp3.txt\nfolder.mp3/\n", "/l/x.m3u").empty());
}

TEST(M3u, KeepsEveryPathWithin255Bytes) {
    const std::string folder = "/lists";  // folder + "/" = 7 bytes
    const std::string path = folder + "/x.m3u";
    const std::string fits(255 - 7 - 4, 'n');
    const std::string tooLong = fits + "n";
    EXPECT_EQ(Read(fits + ".mp3\n" + tooLong + ".mp3\nnext.mp3\n", path.c_str()),
              (Entries{{folder, fits + ".mp3"}, {folder, "next.mp3"}}));

    // A relative line counts whole beside the list's folder.
    const std::string sub(255 - 7 - 6, 's');  // with "\a.mp3": 255 bytes in all
    EXPECT_EQ(Read(sub + "\\a.mp3\n" + sub + "s\\a.mp3\n", path.c_str()),
              (Entries{{folder + "/" + sub, "a.mp3"}}));

    // Bytes past the 255th are dropped: the extension of an over-long line is lost,
    // and the next line is read from its own start.
    const std::string longLine = "/abs/" + std::string(300, 'z') + ".mp3";
    EXPECT_EQ(Read(longLine + "\nafter.wav\n", path.c_str()), (Entries{{folder, "after.wav"}}));
    // ... and a line whose first 255 bytes end in an extension is taken cut there.
    const std::string cut = "/abs/" + std::string(255 - 5 - 4, 'c') + ".wav";
    EXPECT_EQ(Read(cut + "TRAILING\n", path.c_str()),
              (Entries{{"/abs", std::string(255 - 5 - 4, 'c') + ".wav"}}));

    // A list whose own folder leaves no room still gives its absolute lines.
    const std::string deep = "/" + std::string(300, 'd') + "/x.m3u";
    EXPECT_EQ(Read("a.mp3\nrel\\b.mp3\n/abs/c.mp3\n", deep.c_str()), (Entries{{"/abs", "c.mp3"}}));
}

TEST(M3u, ReadsARealFileAndClosesIt) {
    testing_support::TempDir dir;
    testing_support::WriteFile(dir / "one.m3u", "#EXTM3U\r\nsub\\track.MP3\r\n");
    const std::string path = (dir / "one.m3u").string();
    FILE* stream = fopen(path.c_str(), "rb");
    ASSERT_NE(stream, nullptr);
    Entries entries;
    EXPECT_EQ(ReadM3u(path.c_str(), stream, [&](const char* folder, const char* name) {
                  entries.emplace_back(folder, name);
              }),
              1);
    EXPECT_EQ(entries, (Entries{{dir.path().string() + "/sub", "track.mp3"}}));
    EXPECT_EQ(ReadM3u(path.c_str(), nullptr, [](const char*, const char*) {}), 0);
}

}  // namespace
