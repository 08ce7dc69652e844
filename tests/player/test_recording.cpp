// Recording: the recorder's ring and writer on their own, Record-then-Play through
// the player on a device whose inputs hear a test tone, and a take whose process is
// killed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "audiofiles/wav_writer.h"
#include "player/device_watch.h"
#include "player_rig.h"

namespace {

using namespace player_test;
using testing_support::ReadFile;

void PutLe(std::string& b, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b += char(v >> (8 * i));
}

// The recorder's file for interleaved samples at rateHz: the 58-byte header with its
// 18-byte format chunk and fact chunk, then the samples.
std::string WavImage(uint32_t rate, const std::vector<int16_t>& samples) {
    const uint32_t bytes = uint32_t(samples.size() * 2);
    std::string b = "RIFF";
    PutLe(b, 50 + bytes, 4);
    b += "WAVEfmt ";
    PutLe(b, 18, 4), PutLe(b, 1, 2), PutLe(b, 2, 2), PutLe(b, rate, 4), PutLe(b, rate * 4, 4);
    PutLe(b, 4, 2), PutLe(b, 16, 2), PutLe(b, 0, 2);
    b += "fact";
    PutLe(b, 4, 4), PutLe(b, bytes / 2, 4);
    b += "data";
    PutLe(b, bytes, 4);
    for (int16_t v : samples) PutLe(b, uint16_t(v), 2);
    return b;
}

// The device's inputs from segment `from` on, interleaved as the file holds them.
std::vector<int16_t> Heard(const Rig& rig, int fromSegment, int segments) {
    std::vector<int16_t> out;
    for (size_t i = size_t(fromSegment) * kSegment; i < size_t(fromSegment + segments) * kSegment; ++i) {
        out.push_back(rig.inLeft.at(i));
        out.push_back(rig.inRight.at(i));
    }
    return out;
}

VirtualDeviceSpec ToneDevice(const std::string& name, uint32_t rate = 48000) {
    return Device(name, 256, {Text("Input", "tone"), Dword("SampleRate", rate)});
}

// Record, then Play.
void StartRecording(Rig& rig) {
    rig.player->ToggleRecord();
    ASSERT_TRUE(rig.player->RecordArmed());
    rig.player->PlayPause();
    ASSERT_TRUE(rig.player->Playing());
}

TEST(Recording, RecordThenPlayWritesTheInputAfterTheFirstThreeSegmentsAndASecondReplacesIt) {
    Rig rig({ToneDevice("Tone")});
    StartRecording(rig);
    ASSERT_TRUE(rig.player->RecordingActive());
    rig.RunSegments(8);
    // The meters show the input of the segment two records back.
    const auto levels = rig.Messages(WMU_LEVELS);
    ASSERT_EQ(levels.size(), 5u);
    EXPECT_EQ(levels[0].wParam, 0u);
    EXPECT_GT(levels[2].wParam, 16000u);  // the tone at -6 dBFS
    EXPECT_GT(levels[2].lParam, 16000);
    rig.player->Stop();
    EXPECT_FALSE(rig.player->RecordArmed());
    EXPECT_FALSE(rig.player->RecordingActive());
    EXPECT_EQ(rig.player->GetRecorder().DroppedBlocks(), 0u);
    EXPECT_EQ(ReadFile(rig.Work("Out.wav")), WavImage(48000, Heard(rig, 3, 5)));

    rig.ClearCaptured();
    StartRecording(rig);
    rig.RunSegments(5);
    rig.player->Stop();
    EXPECT_EQ(ReadFile(rig.Work("Out.wav")), WavImage(48000, Heard(rig, 3, 2)));
}

TEST(Recording, OneBlockAt44100GivesTheSmallestFile) {
    Rig rig({ToneDevice("Tone", 44100)});
    StartRecording(rig);
    rig.RunSegments(4);
    rig.player->Stop();
    const std::string file = ReadFile(rig.Work("Out.wav"));
    EXPECT_EQ(file.size(), 58u + 18432u);
    EXPECT_EQ(file, WavImage(44100, Heard(rig, 3, 1)));
}

TEST(Recording, Mp3HoldsFourFramesPerBlockAndTheCloseAndDecodes) {
    Rig rig({ToneDevice("Tone")});
    rig.player->SetRecordMp3(true);
    StartRecording(rig);
    rig.RunSegments(6);
    rig.player->Stop();
    EXPECT_FALSE(std::filesystem::exists(rig.Work("Out.wav")));
    const fixtures::Bytes mp3 = fixtures::ReadBytes(rig.Work("Out.mp3"));
    // 128 kbit/s at 48000 Hz: 384 bytes a frame; three blocks and three closing frames.
    ASSERT_EQ(mp3.size(), (4u * 3 + 3) * 384);
    for (size_t at = 0; at < mp3.size(); at += 384) {
        ASSERT_EQ(mp3[at], 0xFF) << at;
        ASSERT_EQ(mp3[at + 1] & 0xE0, 0xE0) << at;
    }
    const std::vector<int16_t> decoded = fixtures::LameDecode(rig.scope.workDir(), mp3);
    ASSERT_GE(decoded.size(), 2u * 3 * kSegment);
    int32_t peak = 0;
    for (size_t i = 2 * kSegment; i < 4 * kSegment; ++i) peak = std::max(peak, std::abs(int32_t(decoded[i])));
    EXPECT_GT(peak, 12000);  // the tone comes back near -6 dBFS
    EXPECT_LT(peak, 21000);
}

TEST(Recording, OutputThatCannotBeMadeLeavesRecordModeArmedAndEarlierFilesAlone) {
    // A rate the encoder cannot code: no Out.mp3 is made, an old one is kept.
    {
        Rig rig({ToneDevice("Tone", 22050)});
        testing_support::WriteFile(rig.Work("Out.mp3"), "an earlier recording");
        rig.player->SetRecordMp3(true);
        StartRecording(rig);
        EXPECT_FALSE(rig.player->RecordingActive());
        EXPECT_TRUE(rig.player->RecordArmed());
        rig.RunSegments(3);  // the device runs and the meters show the input
        EXPECT_EQ(rig.window.Count(WMU_LEVELS), 3);
        rig.player->Stop();
        EXPECT_EQ(ReadFile(rig.Work("Out.mp3")), "an earlier recording");
    }
    // A start-up folder with no room for "/Out.wav".
    {
        Rig rig({ToneDevice("Tone")});
        rig.player.reset();
        const std::string folder = "/" + std::string(248, 'd');
        rig.player = std::make_unique<Player>(&rig.window, folder.c_str(), 0);
        rig.ReachClock();
        StartRecording(rig);
        EXPECT_FALSE(rig.player->RecordingActive());
        rig.RunSegments(1);
        rig.player->Stop();
        EXPECT_FALSE(std::filesystem::exists(rig.Work("Out.wav")));
        EXPECT_FALSE(std::filesystem::exists(folder));
    }
}

TEST(Recording, StopChangeDeviceAndTeardownDuringARecordingLeaveCompleteFiles) {
    for (const char* end : {"stop", "change", "teardown"}) {
        SCOPED_TRACE(end);
        Rig rig({ToneDevice("A"), ToneDevice("B")}, 0);
        StartRecording(rig);
        rig.RunSegments(6);
        const std::vector<int16_t> heard = Heard(rig, 3, 3);
        if (std::string(end) == "stop") {
            rig.player->Stop();
        } else if (std::string(end) == "change") {
            selectedDevice.store(1);
            EXPECT_TRUE(rig.player->ChangeDevice());
            EXPECT_FALSE(rig.player->RecordArmed());
        } else {
            rig.clock.reset();
            rig.player.reset();
        }
        EXPECT_EQ(ReadFile(rig.Work("Out.wav")), WavImage(48000, heard));
    }
}

TEST(Recording, ToggleRecordStopsAndUnloadsAPlayingTrackThenDisarms) {
    Rig rig({ToneDevice("Tone")});
    WriteRampWav(rig.Work("t.wav"), 8 * kSegment, 2, 48000);
    rig.Queue("t.wav");
    rig.player->PlayPause();
    rig.RunSegments(2);
    rig.player->ToggleRecord();
    EXPECT_FALSE(rig.player->Playing());
    EXPECT_FALSE(rig.player->Loaded());
    EXPECT_TRUE(rig.player->RecordArmed());
    rig.player->ToggleRecord();
    EXPECT_FALSE(rig.player->RecordArmed());
    EXPECT_FALSE(std::filesystem::exists(rig.Work("Out.wav")));
}

// A block whose every sample tells its number.
std::vector<int16_t> NumberedBlock(int number) {
    return std::vector<int16_t>(kBlockBytes / 2, int16_t(number));
}

TEST(Recorder, AStalledWriterDropsNewBlocksAndKeepsTheFileValid) {
    IsolatedScope scope;
    const std::string path = (scope.workDir() / "Out.wav").string();
    Recorder recorder;
    ASSERT_TRUE(recorder.Start(path.c_str(), 48000, false));
    EXPECT_FALSE(recorder.Start(path.c_str(), 48000, false));  // one at a time
    recorder.HoldWriter(true);
    for (int b = 0; b < 20; ++b) recorder.PushBlock(NumberedBlock(b).data());
    EXPECT_EQ(recorder.DroppedBlocks(), 4u);
    recorder.HoldWriter(false);
    // Once the writer has caught up there is room again.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (recorder.WrittenBlocks() < 16 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    ASSERT_EQ(recorder.WrittenBlocks(), 16u);
    for (int b = 20; b < 22; ++b) recorder.PushBlock(NumberedBlock(b).data());
    recorder.Stop();
    recorder.Stop();  // twice is harmless
    // The first sixteen blocks in order, then the two pushed after the writer caught up.
    std::vector<int16_t> kept;
    for (int b : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 20, 21}) {
        const std::vector<int16_t> block = NumberedBlock(b);
        kept.insert(kept.end(), block.begin(), block.end());
    }
    EXPECT_EQ(ReadFile(path), WavImage(48000, kept));
    EXPECT_EQ(recorder.WrittenBlocks(), 18u);
}

TEST(Recorder, TheSizeLimitEndsTheFileAtWholeBlocksAndLaterBlocksAreDiscarded) {
    IsolatedScope scope;
    const std::string path = (scope.workDir() / "Out.wav").string();
    WavSetDataLimit(2 * kBlockBytes + 100);
    Recorder recorder;
    ASSERT_TRUE(recorder.Start(path.c_str(), 44100, false));
    for (int b = 0; b < 5; ++b) recorder.PushBlock(NumberedBlock(b + 1).data());
    recorder.Stop();
    WavSetDataLimit(kWavWriterMaxDataBytes);
    // Two whole blocks and what of the third fits; the header holds the true sizes.
    std::vector<int16_t> kept = NumberedBlock(1);
    const std::vector<int16_t> second = NumberedBlock(2);
    kept.insert(kept.end(), second.begin(), second.end());
    kept.resize(kept.size() + 50, 3);
    EXPECT_EQ(ReadFile(path), WavImage(44100, kept));
    EXPECT_EQ(recorder.WrittenBlocks(), 2u);
}

// The tone's frequency on the left channel of interleaved stereo, from its rises
// through zero (from below -2000 to above +2000, so coding noise near zero is ignored).
double ToneHz(const std::vector<int16_t>& samples, uint32_t rate) {
    size_t rises = 0, first = 0, last = 0;
    bool low = false;
    for (size_t i = 0; i < samples.size(); i += 2) {
        if (samples[i] < -2000) low = true;
        if (!low || samples[i] <= 2000) continue;
        low = false;
        if (rises++ == 0) first = i / 2;
        last = i / 2;
    }
    return rises < 2 ? 0.0 : double(rises - 1) * rate / double(last - first);
}

// `bellwave-cli record` on a device whose inputs hear the 997 Hz tone (eight times as
// fast as real time), killed with SIGKILL mid-take: what reached the file reads back
// in sox, lame and our own reader, all but at most its last block.
TEST(Recording, ATakeKilledMidwayReadsBackUpToItsLastBlock) {
    for (const bool mp3 : {false, true}) {
        SCOPED_TRACE(mp3 ? "Out.mp3" : "Out.wav");
        IsolatedScope scope;
        scope.WriteMachineHive(host_test::MachineHive(
            {{"Tone", {Text("Input", "tone"), Dword("SampleType", kInt16), Dword("Speed", 8)}}}));
        const std::string cli = (testing_support::BuildDir() / "bin" / "bellwave-cli").string();
        std::vector<std::string> args = {cli, "record", "--device", "Tone", "--seconds", "600"};
        if (mp3) args.push_back("--mp3");
        const pid_t pid = testing_support::StartProcess(args, "/dev/null", "/dev/null");
        ASSERT_GT(pid, 0);

        // Killed once 41 blocks (3.9 s of sound) have reached the file.
        const std::filesystem::path path = scope.workDir() / (mp3 ? "Out.mp3" : "Out.wav");
        const uintmax_t enough = mp3 ? 41 * 4 * 384 : 58 + 41 * kBlockBytes;
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
        // Each block reaches the file whole when it is written: none is left half in a buffer.
        EXPECT_EQ(mp3 ? image.size() % (4 * 384) : (image.size() - 58) % kBlockBytes, 0u);

        // The frames that reached the file: whole 384-byte frames of 1152 at 48000 Hz
        // and 128 kbit/s, or whole 4-byte frames after the 58-byte header.
        const size_t reached = mp3 ? image.size() / 384 * 1152 : (image.size() - 58) / 4;
        SoundFile file;
        fixtures::Open(file, image, 48000);
        ASSERT_TRUE(file.Ready());
        const std::vector<int16_t> samples = fixtures::ReadAll(file);
        EXPECT_GE(samples.size() / 2 + 48000 / 5, reached) << "more than the last 0.2 s is missing";
        EXPECT_LE(samples.size() / 2, reached);
        EXPECT_NEAR(ToneHz(samples, 48000), 997.0, 3.0);
        int32_t peak = 0;
        for (int16_t v : samples) peak = std::max(peak, std::abs(int32_t(v)));
        EXPECT_GT(peak, 12000);  // -6 dBFS
        EXPECT_LT(peak, 21000);

        // Other programs read it too: sox the WAV, sample for sample; lame decodes the MP3.
        if (mp3) {
            const std::vector<int16_t> decoded = fixtures::LameDecode(scope.workDir(), image);
            EXPECT_GE(decoded.size() / 2 + 48000 / 5, reached);
        } else {
            const std::filesystem::path raw = scope.workDir() / "sox.raw";
            ASSERT_TRUE(fixtures::Run("sox -q '" + path.string() + "' -t s16 '" + raw.string() + "'"));
            const fixtures::Bytes bytes = fixtures::ReadBytes(raw);
            EXPECT_TRUE(fixtures::ToSamples(bytes.data(), bytes.size()) == samples);
        }
    }
}

// The device goes away mid-take: the take is closed with every block that reached it,
// and when the device is back record mode is selected but no new take has started.
TEST(Recording, ATakeIsClosedAtTheDevicesLossAndNoNewTakeStartsByItself) {
    Rig rig({ToneDevice("Tone")});
    DeviceWatch watch(*rig.player);
    StartRecording(rig);
    rig.RunSegments(8);
    rig.clock.reset();
    ASSERT_EQ(watch.OnResetRequest(), DeviceEvent::Back) << "the device opens again at once";
    EXPECT_TRUE(watch.TookTake());
    EXPECT_FALSE(rig.player->RecordingActive());
    EXPECT_FALSE(rig.player->Playing());
    EXPECT_TRUE(rig.player->RecordArmed());
    EXPECT_EQ(ReadFile(rig.Work("Out.wav")), WavImage(48000, Heard(rig, 3, 5)));
}

// `bellwave-cli record` into an "Out.wav" that is a pipe nobody reads for a while: the
// writer is held up, the ring fills, and the blocks dropped show on the status line as
// they happen; once the pipe is read the take goes to its end, which tells them too.
TEST(Recording, BlocksDroppedBehindABusyWriterShowOnTheCommandsStatusLine) {
    IsolatedScope scope;
    scope.WriteMachineHive(host_test::MachineHive(
        {{"Tone", {Text("Input", "tone"), Dword("SampleType", kInt16), Dword("Speed", 4)}}}));
    const std::string pipe = (scope.workDir() / "Out.wav").string();
    ASSERT_EQ(mkfifo(pipe.c_str(), 0644), 0);
    const int reader = open(pipe.c_str(), O_RDONLY | O_NONBLOCK);  // the command can open it; nothing is read yet
    ASSERT_GE(reader, 0);
    const std::string out = (scope.workDir() / "cli.out").string(), err = (scope.workDir() / "cli.err").string();
    const std::string cli = (testing_support::BuildDir() / "bin" / "bellwave-cli").string();
    const pid_t pid = testing_support::StartProcess({cli, "record", "--device", "Tone", "--seconds", "4"}, out, err);
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
    unsigned first = 0;
    EXPECT_EQ(std::sscanf(text.c_str() + told, "\ndropouts: %u dropped block", &first), 1) << text;
    EXPECT_GE(first, 1u);
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

// The counters the display polls: a worker that stops serving leaves the device's
// switches without a queued segment, and each such switch is a dropped buffer.
TEST(Recording, DroppedBuffersReachThePlayersCounters) {
    Rig rig({ToneDevice("Tone")});
    EXPECT_EQ(rig.player->Dropouts().device.droppedBuffers, 0u);
    StartRecording(rig);
    rig.RunSegments(4);
    EndWorker(0);  // nothing refills the ring from here
    rig.Run(2 * kSegment / 256 + 3);
    const PlayerDropouts dropouts = rig.player->Dropouts();
    EXPECT_EQ(dropouts.device.droppedBuffers, 3u) << "the ring's two segments play out, then three switches find none";
    EXPECT_EQ(dropouts.device.failedBuffers, 0u);
    EXPECT_EQ(dropouts.device.xruns, 0) << "the virtual device has no xruns to tell";
    EXPECT_EQ(dropouts.droppedBlocks, 0u);
    rig.player->Stop();
}

}  // namespace
