// Recording: Record-then-Play through the player on a device whose inputs hear a test
// tone, the recorder's ring behind a stalled writer, and `bellwave-cli record` killed
// mid-take or writing into a pipe nobody reads.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "player/device_watch.h"
#include "player_rig.h"

namespace {

using namespace player_test;
using testing_support::ReadFile;

// The samples of a recorded file as our reader reads it (empty when it cannot).
std::vector<int16_t> Recorded(const std::filesystem::path& path, uint32_t rate) {
    const fixtures::Bytes image = fixtures::ReadBytes(path);
    SoundFile file;
    fixtures::Open(file, image, rate);
    return file.Ready() ? fixtures::ReadAll(file) : std::vector<int16_t>{};
}

// The device's inputs over whole segments, interleaved as the file holds them.
std::vector<int16_t> Heard(const Rig& rig, int fromSegment, int segments) {
    std::vector<int16_t> out;
    for (size_t i = size_t(fromSegment) * kSegment; i < size_t(fromSegment + segments) * kSegment; ++i)
        out.insert(out.end(), {rig.inLeft.at(i), rig.inRight.at(i)});
    return out;
}

VirtualDeviceSpec ToneDevice(const std::string& name, uint32_t rate = 48000) {
    return Device(name, 256, {Text("Input", "tone"), Dword("SampleRate", rate)});
}

void StartRecording(Rig& rig) {
    rig.player->ToggleRecord();
    ASSERT_TRUE(rig.player->RecordArmed());
    rig.player->PlayPause();
    ASSERT_TRUE(rig.player->Playing());
}

// The take begins after the first three segments; the meters show the input of the
// segment two records back; a second take replaces the first.
TEST(Recording, RecordThenPlayWritesTheInputAfterTheFirstThreeSegments) {
    for (const uint32_t rate : {48000u, 44100u}) {
        SCOPED_TRACE(rate);
        Rig rig({ToneDevice("Tone", rate)});
        for (const int segments : {8, 4}) {
            rig.ClearCaptured();
            rig.window.Clear();
            StartRecording(rig);
            ASSERT_TRUE(rig.player->RecordingActive());
            rig.RunSegments(segments);
            const auto levels = rig.Messages(WMU_LEVELS);
            ASSERT_EQ(levels.size(), size_t(segments - 3));
            EXPECT_EQ(levels[0].wParam, 0u);
            if (segments == 8) {
                EXPECT_GT(levels[2].wParam, 16000u);  // the tone at -6 dBFS
                EXPECT_GT(levels[2].lParam, 16000);
            }
            rig.player->Stop();
            EXPECT_FALSE(rig.player->RecordArmed());
            EXPECT_FALSE(rig.player->RecordingActive());
            EXPECT_EQ(rig.player->GetRecorder().DroppedBlocks(), 0u);
            EXPECT_EQ(std::filesystem::file_size(rig.Work("Out.wav")), 58u + (segments - 3) * kBlockBytes);
            EXPECT_EQ(Recorded(rig.Work("Out.wav"), rate), Heard(rig, 3, segments - 3));
        }
    }
}

// A start-up folder with no room for "/Out.wav": no take, and the device runs on.
TEST(Recording, NoTakeStartsWhereItsFileCannotBeNamed) {
    Rig rig({ToneDevice("Tone")});
    rig.player.reset();
    const std::string folder = "/" + std::string(248, 'd');
    rig.player = std::make_unique<Player>(&rig.window, folder.c_str(), 0);
    rig.ReachClock();
    StartRecording(rig);
    EXPECT_FALSE(rig.player->RecordingActive());
    EXPECT_TRUE(rig.player->RecordArmed());
    rig.RunSegments(3);
    EXPECT_EQ(rig.window.Count(WMU_LEVELS), 3) << "the meters show the input";
    rig.player->Stop();
    EXPECT_FALSE(std::filesystem::exists(folder));
}

// Stop, a device change, the player's end and the device's loss each close the take
// with every block that reached it; after the loss no new take starts by itself.
TEST(Recording, EveryWayATakeEndsLeavesACompleteFile) {
    for (const std::string end : {"stop", "change", "teardown", "loss"}) {
        SCOPED_TRACE(end);
        Rig rig({ToneDevice("A"), ToneDevice("B")}, 0);
        DeviceWatch watch(*rig.player);
        StartRecording(rig);
        rig.RunSegments(6);
        if (end == "stop") {
            rig.player->Stop();
        } else if (end == "change") {
            selectedDevice.store(1);
            EXPECT_TRUE(rig.player->ChangeDevice());
            EXPECT_FALSE(rig.player->RecordArmed());
        } else if (end == "teardown") {
            rig.clock.reset();
            rig.player.reset();
        } else {
            rig.clock.reset();
            ASSERT_EQ(watch.OnResetRequest(), DeviceEvent::Back) << "the device opens again at once";
            EXPECT_TRUE(watch.TookTake());
            EXPECT_FALSE(rig.player->RecordingActive());
            EXPECT_FALSE(rig.player->Playing());
            EXPECT_TRUE(rig.player->RecordArmed());
        }
        EXPECT_EQ(Recorded(rig.Work("Out.wav"), 48000), Heard(rig, 3, 3));
    }
}

// A block whose every sample tells its number.
std::vector<int16_t> NumberedBlock(int number) { return std::vector<int16_t>(kBlockBytes / 2, int16_t(number)); }

TEST(Recorder, RefusesWhatItCannotCodeAndAStalledWriterDropsNewBlocksKeepingTheFileValid) {
    IsolatedScope scope;
    const std::string path = (scope.workDir() / "Out.wav").string();
    Recorder recorder;
    testing_support::WriteFile(path, "an earlier recording");
    EXPECT_FALSE(recorder.Start(path.c_str(), 22050, true)) << "a rate MP3 cannot code";
    EXPECT_EQ(ReadFile(path), "an earlier recording");
    ASSERT_TRUE(recorder.Start(path.c_str(), 48000, false));
    EXPECT_FALSE(recorder.Start(path.c_str(), 48000, false));  // one at a time
    recorder.HoldWriter(true);
    for (int b = 0; b < 20; ++b) recorder.PushBlock(NumberedBlock(b).data());
    EXPECT_EQ(recorder.DroppedBlocks(), 4u);
    recorder.HoldWriter(false);
    // Once the writer has caught up there is room again.
    ASSERT_TRUE(testing_support::WaitUntil([&] { return recorder.WrittenBlocks() == 16; }, 30.0));
    for (int b = 20; b < 22; ++b) recorder.PushBlock(NumberedBlock(b).data());
    recorder.Stop();
    recorder.Stop();  // twice is harmless
    std::vector<int16_t> kept;
    for (int b : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 20, 21}) {
        const std::vector<int16_t> block = NumberedBlock(b);
        kept.insert(kept.end(), block.begin(), block.end());
    }
    EXPECT_EQ(Recorded(path, 48000), kept);
    EXPECT_EQ(recorder.WrittenBlocks(), 18u);
}

std::string Cli() { return (testing_support::BuildDir() / "bin" / "bellwave-cli").string(); }

// `bellwave-cli record` on a device whose inputs hear the tone (eight times as fast as
// real time), killed with SIGKILL mid-take: every block reached the file whole, and it
// reads back in our reader, sox (the WAV, sample for sample) and lame (the MP3).
TEST(Recording, ATakeKilledMidwayReadsBackUpToItsLastBlock) {
    for (const bool mp3 : {false, true}) {
        SCOPED_TRACE(mp3 ? "Out.mp3" : "Out.wav");
        IsolatedScope scope;
        scope.WriteMachineHive(host_test::MachineHive(
            {{"Tone", {Text("Input", "tone"), Dword("SampleType", kInt16), Dword("Speed", 8)}}}));
        std::vector<std::string> args = {Cli(), "record", "--device", "Tone", "--seconds", "600"};
        if (mp3) args.push_back("--mp3");
        const pid_t pid = testing_support::StartProcess(args, "/dev/null", "/dev/null");
        ASSERT_GT(pid, 0);
        const std::filesystem::path path = scope.workDir() / (mp3 ? "Out.mp3" : "Out.wav");
        const uintmax_t enough = mp3 ? 41 * 4 * 384 : 58 + 41 * kBlockBytes;  // 41 blocks, 3.9 s
        testing_support::WaitUntil(
            [&] {
                std::error_code error;
                return (std::filesystem::file_size(path, error) >= enough && !error) || waitpid(pid, nullptr, WNOHANG) == pid;
            },
            60.0);
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

// `bellwave-cli record` into an "Out.wav" that is a pipe nobody reads for a while: the
// ring fills, the blocks dropped show on the status line as they happen, and once the
// pipe is read the take goes to its end, which tells them too.
TEST(Recording, BlocksDroppedBehindABusyWriterShowOnTheCommandsStatusLine) {
    IsolatedScope scope;
    scope.WriteMachineHive(host_test::MachineHive(
        {{"Tone", {Text("Input", "tone"), Dword("SampleType", kInt16), Dword("Speed", 4)}}}));
    const std::string pipe = (scope.workDir() / "Out.wav").string();
    ASSERT_EQ(mkfifo(pipe.c_str(), 0644), 0);
    const int reader = open(pipe.c_str(), O_RDONLY | O_NONBLOCK);  // the command can open it; nothing is read yet
    ASSERT_GE(reader, 0);
    const std::string out = (scope.workDir() / "cli.out").string(), err = (scope.workDir() / "cli.err").string();
    const pid_t pid = testing_support::StartProcess({Cli(), "record", "--device", "Tone", "--seconds", "4"}, out, err);
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
    const size_t told = text.find("\ndropouts: ");
    ASSERT_NE(told, std::string::npos) << text;
    EXPECT_NE(text.find("  dropouts: ", told), std::string::npos) << "later status lines carry the count:\n" << text;
    unsigned blocks = 0, dropped = 0;
    const size_t wrote = text.find("wrote Out.wav: ");
    ASSERT_NE(wrote, std::string::npos) << text;
    ASSERT_EQ(std::sscanf(text.c_str() + text.find('(', wrote), "(%u blocks, %u dropped)", &blocks, &dropped), 2);
    EXPECT_GT(dropped, 0u);
    EXPECT_GE(blocks + dropped, 42u) << "4 s in whole blocks";
    const std::string lost = std::to_string(dropped) + (dropped == 1 ? " block was" : " blocks were");
    EXPECT_NE(ReadFile(err).find(lost + " lost: writing did not keep up"), std::string::npos) << ReadFile(err);
}

}  // namespace
