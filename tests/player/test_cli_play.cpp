// `bellwave-cli play` as a person runs it, on the virtual device running faster than
// real time: a list made where file names ignore case, and files that cannot be read.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "player_rig.h"
#include "tests/cli/cli_test_support.h"

namespace {

using namespace player_test;
using cli_test::RunCli;

TEST(CliPlay, AListNamingFilesInAnotherCaseAndFilesThatCannotBeRead) {
    IsolatedScope scope;
    scope.WriteMachineHive(host_test::MachineHive({{"Bellwave Virtual Device", {Dword("Speed", 50)}}}));
    const std::filesystem::path work = scope.workDir();
    ASSERT_FALSE(fixtures::LameEncode(work, "SONG", 9000, 2, 48000, "-b 128").empty());
    std::filesystem::rename(work / "SONG.mp3", work / "SONG.MP3");
    WriteRampWav(work / "other.wav", 5000, 2, 48000);
    // Made on Windows: SONG.MP3 as on disk, OTHER.WAV in another case than on disk.
    testing_support::WriteFile(work / "list.m3u", "#EXTM3U\r\nSONG.MP3\r\nOTHER.WAV\r\n");
    std::string out, err;
    EXPECT_EQ(RunCli("play list.m3u", &out, &err), 0) << err;
    EXPECT_NE(out.find("title: SONG.MP3\n"), std::string::npos) << out;
    EXPECT_NE(out.find("title: OTHER.WAV\n"), std::string::npos) << out;
    EXPECT_NE(out.find("played 2 tracks\n"), std::string::npos) << out;

    // Nothing that can be read: the first is named, the others counted.
    testing_support::WriteFile(work / "junk.wav", "RIFF but not a sound file at all");
    EXPECT_EQ(RunCli("play junk.wav missing.wav", &out, &err), 1);
    EXPECT_NE(err.find("cannot read '" + (work / "junk.wav").string() + "' nor 1 other file;"), std::string::npos)
        << err;
}

}  // namespace
