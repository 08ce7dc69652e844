// Recording: Record-then-Play through the player on a device whose inputs hear a test
// tone, and the recorder's ring behind a stalled writer.
#include "player/device_watch.h"
#include "player_rig.h"

namespace {

using namespace player_test;

void StartRecording(Rig& rig) {
    rig.player->ToggleRecord();
    rig.player->PlayPause();
    ASSERT_TRUE(rig.player->RecordingActive());
}

// The take begins after the first three segments, and the meters show the input of the
// segment two records back. Stop (twice: a second take replaces the first), a device
// change, the player's end and the device's loss each close the take with every block
// that reached it; after the loss no new take starts by itself.
TEST(Recording, EveryWayATakeEndsLeavesTheInputAfterTheFirstThreeSegments) {
    for (const std::string end : {"stop", "change", "teardown", "loss"}) {
        SCOPED_TRACE(end);
        Rig rig({Device("A", 256, {Text("Input", "tone"), Dword("SampleRate", 44100)}), Device("B", 256, {Text("Input", "tone")})}, 0);
        DeviceWatch watch(*rig.player);
        StartRecording(rig);
        rig.RunSegments(end == "stop" ? 8 : 6);
        const auto levels = rig.Messages(WMU_LEVELS);
        ASSERT_EQ(levels.size(), end == "stop" ? 5u : 3u);
        EXPECT_TRUE(levels[0].wParam == 0 && levels[2].wParam > 16000u && levels[2].lParam > 16000) << "the tone at -6 dBFS";
        if (end == "stop") {
            rig.player->Stop();
            EXPECT_FALSE(rig.player->RecordArmed() || rig.player->RecordingActive());
            rig.Clear();
            StartRecording(rig);
            rig.RunSegments(6);
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
            EXPECT_FALSE(rig.player->RecordingActive() || rig.player->Playing());
            EXPECT_TRUE(rig.player->RecordArmed());
        }
        std::vector<int16_t> heard;  // the device's inputs over segments 3 to 5, interleaved as the file holds them
        for (size_t i = 3 * kSegment; i < 6 * kSegment; ++i) heard.insert(heard.end(), {rig.inLeft.at(i), rig.inRight.at(i)});
        EXPECT_EQ(std::filesystem::file_size(rig.Work("Out.wav")), 58u + 3 * kBlockBytes);
        EXPECT_EQ(Recorded(rig.Work("Out.wav"), 44100), heard);
    }
}

// Blocks whose every sample tells their number.
std::vector<int16_t> NumberedBlocks(std::initializer_list<int> numbers) {
    std::vector<int16_t> out;
    for (int b : numbers) out.insert(out.end(), kBlockBytes / 2, int16_t(b));
    return out;
}

TEST(Recorder, RefusesWhatItCannotCodeAndAStalledWriterDropsNewBlocksKeepingTheFileValid) {
    IsolatedScope scope;
    const std::string path = (scope.workDir() / "Out.wav").string();
    Recorder recorder;
    testing_support::WriteFile(path, "an earlier recording");
    EXPECT_FALSE(recorder.Start(path.c_str(), 22050, true)) << "a rate MP3 cannot code";
    EXPECT_EQ(testing_support::ReadFile(path), "an earlier recording");
    ASSERT_TRUE(recorder.Start(path.c_str(), 48000, false));
    EXPECT_FALSE(recorder.Start(path.c_str(), 48000, false));  // one at a time
    recorder.HoldWriter(true);
    for (int b = 0; b < 20; ++b) recorder.PushBlock(NumberedBlocks({b}).data());
    EXPECT_EQ(recorder.DroppedBlocks(), 4u);
    recorder.HoldWriter(false);
    // Once the writer has caught up there is room again.
    ASSERT_TRUE(testing_support::WaitUntil([&] { return recorder.WrittenBlocks() == 16; }, 30.0));
    for (int b = 20; b < 22; ++b) recorder.PushBlock(NumberedBlocks({b}).data());
    recorder.Stop();
    recorder.Stop();  // twice is harmless
    EXPECT_EQ(Recorded(path, 48000), NumberedBlocks({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 20, 21}));
}

}  // namespace
