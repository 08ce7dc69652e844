// `bellwave-cli play` and `record` as a person runs them, on a virtual device running
// faster than real time.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "player_rig.h"
#include "tests/cli/cli_test_support.h"

namespace {

using namespace player_test;
using cli_test::RunCli;
using testing_support::ReadFile;

// A device whose inputs hear the tone, speed times as fast as real time.
void ToneDevice(IsolatedScope& scope, int speed) {
    scope.WriteMachineHive(host_test::MachineHive({{"Tone", {Text("Input", "tone"), Dword("SampleType", 16), Dword("Speed", speed)}}}));
}

// A list made where file names ignore case, and files that cannot be read.
TEST(CliPlay, AListNamingFilesInAnotherCaseAndFilesThatCannotBeRead) {
    IsolatedScope scope;
    scope.WriteMachineHive(host_test::MachineHive({{"Bellwave Virtual Device", {Dword("Speed", 50)}}}));
    ASSERT_FALSE(fixtures::LameEncode(scope.workDir(), "SONG", 9000, 2, 48000, "-b 128").empty());
    std::filesystem::rename(scope.workDir() / "SONG.mp3", scope.workDir() / "SONG.MP3");
    WriteRampWav(scope.workDir() / "other.wav", 5000, 2, 48000);
    testing_support::WriteFile(scope.workDir() / "list.m3u", "#EXTM3U\r\nSONG.MP3\r\nOTHER.WAV\r\n");  // made on Windows
    std::string out, err;
    EXPECT_EQ(RunCli("play list.m3u", &out, &err), 0) << err;
    for (const char* line : {"title: SONG.MP3\n", "title: OTHER.WAV\n", "played 2 tracks\n"}) EXPECT_NE(out.find(line), std::string::npos) << out;
    // Nothing that can be read: the first is named, the others counted.
    testing_support::WriteFile(scope.workDir() / "junk.wav", "RIFF but not a sound file at all");
    EXPECT_EQ(RunCli("play junk.wav missing.wav", &out, &err), 1);
    EXPECT_NE(err.find("cannot read '" + (scope.workDir() / "junk.wav").string() + "' nor 1 other file;"), std::string::npos) << err;
}

// A take killed with SIGKILL midway: every block reached the file whole, and it reads
// back in our reader, sox (the WAV, sample for sample) and lame (the MP3).
TEST(Recording, ATakeKilledMidwayReadsBackUpToItsLastBlock) {
    for (const bool mp3 : {false, true}) {
        SCOPED_TRACE(mp3 ? "Out.mp3" : "Out.wav");
        IsolatedScope scope;
        ToneDevice(scope, 8);
        std::vector<std::string> args = {cli_test::CliPath().string(), "record", "--device", "Tone", "--seconds", "600"};
        if (mp3) args.push_back("--mp3");
        const pid_t pid = testing_support::StartProcess(args, "/dev/null", "/dev/null");
        ASSERT_GT(pid, 0);
        const std::filesystem::path path = scope.workDir() / (mp3 ? "Out.mp3" : "Out.wav");
        const uintmax_t enough = mp3 ? 41 * 4 * 384 : 58 + 41 * kBlockBytes;  // 41 blocks, 3.9 s
        testing_support::WaitUntil([&] {
            std::error_code error;
            return (std::filesystem::file_size(path, error) >= enough && !error) || waitpid(pid, nullptr, WNOHANG) == pid;
        }, 60.0);
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        const fixtures::Bytes image = fixtures::ReadBytes(path);
        ASSERT_GE(image.size(), enough) << "the recording never got going";
        EXPECT_EQ(mp3 ? image.size() % (4 * 384) : (image.size() - 58) % kBlockBytes, 0u);
        // Whole 384-byte frames of 1152 (48000 Hz, 128 kbit/s), or 4-byte frames after the header.
        const size_t reached = mp3 ? image.size() / 384 * 1152 : (image.size() - 58) / 4;
        const std::vector<int16_t> samples = Recorded(path, 48000);
        EXPECT_GE(samples.size() / 2 + 48000 / 5, reached) << "more than the last 0.2 s is missing";
        EXPECT_LE(samples.size() / 2, reached);
        if (mp3) {
            EXPECT_GE(fixtures::LameDecode(scope.workDir(), image).size() / 2 + 48000 / 5, reached);
        } else {
            const std::filesystem::path raw = scope.workDir() / "sox.raw";
            ASSERT_TRUE(fixtures::Run("sox -q '" + path.string() + "' -t s16 '" + raw.string() + "'"));
            const fixtures::Bytes bytes = fixtures::ReadBytes(raw);
            EXPECT_TRUE(fixtures::ToSamples(bytes.data(), bytes.size()) == samples);
        }
    }
}

// Into an "Out.wav" that is a pipe nobody reads for a while: the ring fills, the blocks
// dropped show on the status line as they happen, and once the pipe is read the take
// goes to its end, which tells them too.
TEST(Recording, BlocksDroppedBehindABusyWriterShowOnTheCommandsStatusLine) {
    IsolatedScope scope;
    ToneDevice(scope, 4);
    const std::string pipe = (scope.workDir() / "Out.wav").string();
    ASSERT_EQ(mkfifo(pipe.c_str(), 0644), 0);
    const int reader = open(pipe.c_str(), O_RDONLY | O_NONBLOCK);  // the command can open it; nothing is read yet
    const std::string out = (scope.workDir() / "cli.out").string(), err = (scope.workDir() / "cli.err").string();
    const pid_t pid = testing_support::StartProcess({cli_test::CliPath().string(), "record", "--device", "Tone", "--seconds", "4"}, out, err);
    ASSERT_GT(pid, 0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    EXPECT_TRUE(testing_support::WaitUntil([&] { return ReadFile(out).find("dropouts: ") != std::string::npos; }, 60.0))
        << "nothing told while the writer was held up";
    int status = -1;
    char drained[65536];
    while (waitpid(pid, &status, WNOHANG) != pid) {
        if (std::chrono::steady_clock::now() > deadline) kill(pid, SIGKILL);
        if (read(reader, drained, sizeof drained) <= 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    close(reader);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << ReadFile(err);
    const std::string text = ReadFile(out);
    EXPECT_NE(text.find("  dropouts: ", text.find("\ndropouts: ")), std::string::npos) << "later status lines carry the count:\n" << text;
    const size_t wrote = text.find('(', text.find("wrote Out.wav: "));
    ASSERT_NE(wrote, std::string::npos) << text;
    unsigned blocks = 0, dropped = 0;
    ASSERT_EQ(std::sscanf(text.c_str() + wrote, "(%u blocks, %u dropped)", &blocks, &dropped), 2) << text;
    EXPECT_GT(dropped, 0u);
    EXPECT_GE(blocks + dropped, 42u) << "4 s in whole blocks";
    const std::string lost = std::to_string(dropped) + (dropped == 1 ? " block was" : " blocks were");
    EXPECT_NE(ReadFile(err).find(lost + " lost: writing did not keep up"), std::string::npos) << ReadFile(err);
}

}  // namespace
