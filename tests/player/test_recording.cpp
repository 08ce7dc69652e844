// Recording: Record-then-Play through the player on a device whose inputs hear a test
// tone, and the recorder's ring behind a stalled writer.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "player/device_watch.h"
#include "player_rig.h"

namespace {

using namespace player_test;
using testing_support::ReadFile;

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

}  // namespace
