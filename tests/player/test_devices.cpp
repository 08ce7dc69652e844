// Device choice and loss under the player: buffer sizes, a change mid-session, the
// device number kept in the user's settings, a device that opens again at once or on a
// later try, and dropped buffers counted across the reset (the watch is given its times,
// so nothing here waits for them); then the takes on a device whose inputs hear a tone,
// and the recorder's ring behind a stalled writer.
#include "host/asio_messages.h"
#include "host/audio_buffer.h"
#include "player/device_watch.h"
#include "player_rig.h"

namespace {

using namespace player_test;
using namespace std::chrono_literals;
using testing_support::ReadFile;

TEST(Devices, BufferSizesThatDivideASegmentAtLeastTwiceAreAccepted) {
    for (int size : {64, 256, 512, 1152, 2304, 4608, 3000}) {
        SCOPED_TRACE(size);
        const bool fits = size <= 2304;
        Rig rig({Device("Sized", size)});
        EXPECT_EQ(rig.player->DeviceReady(), fits);
        EXPECT_EQ(deviceUsable.load(), fits);
        EXPECT_EQ(selectedDevice.load(), fits ? 0 : -1);
        EXPECT_EQ(rig.player->Link().State(), fits ? DeviceState::Prepared : DeviceState::Ready);  // buffers made, then refused
    }
}

// A change to a good device stores its number and, while playing, unloads the track.
TEST(Devices, AChangeStoresTheNewNumberAndUnloadsTheTrack) {
    Rig rig({Device("A Odd", 3000), Device("B Good", 256), Device("C Good", 512, {Dword("SampleRate", 44100)})}, 0);
    EXPECT_FALSE(rig.player->ChangeDevice()) << "none selected";
    WriteRampWav(rig.Work("t.wav"), 8 * kSegment, 2, 48000);
    for (int32_t device : {1, 2}) {
        selectedDevice.store(device);
        ASSERT_TRUE(rig.player->ChangeDevice());
        rig.ReachClock();
        int32_t stored = -1;
        EXPECT_TRUE(LoadDeviceNumber(stored) && stored == device && rig.player->DeviceNumber() == device);
        EXPECT_FALSE(rig.player->Playing() || rig.player->Loaded());
        rig.Queue("t.wav");
        rig.player->PlayPause();
        rig.RunSegments(2);
    }
    EXPECT_LT(rig.player->TotalFrames(), uint32_t(8 * kSegment)) << "resampled to the device's 44100 Hz";
}

// A key without the number loads nothing; where the settings file cannot be written (a
// folder stands in its place) the number is not reported saved.
TEST(Settings, NothingIsLoadedThatWasNotSavedNorReportedSavedThatCannotBeKept) {
    IsolatedScope scope;
    scope.WriteUserHive("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Marrow Lane Works\\Bellwave\\Options]\n");
    int32_t number = -1;
    EXPECT_FALSE(LoadDeviceNumber(number));
    std::filesystem::remove(scope.registryDir() / "user.reg");
    std::filesystem::create_directories(scope.registryDir() / "user.reg" / "taken");
    EXPECT_FALSE(SaveDeviceNumber(3));
    EXPECT_FALSE(LoadDeviceNumber(number));
    EXPECT_EQ(number, -1) << "left alone";
}

const VirtualDeviceSpec kDevice = Device("Bellwave Virtual Device");

// The driver's reset request, as a device that went away makes it: the host posts it.
void DeviceGoesAway(Rig& rig) {
    rig.clock.reset();  // it holds the old driver
    EXPECT_EQ(asioMessage(kAsioResetRequest, 0, nullptr, nullptr), 1);
    EXPECT_EQ(rig.window.Count(WMU_ASIO_RESET), 1);
}

// Playback goes on from the block where the device went away (near the end too, not
// from four blocks before), paused or not, with the volume it had.
TEST(DeviceWatch, PlaybackGoesOnFromTheBlockWhereTheDeviceWentAway) {
    const struct { bool paused; int blocks; bool unpluggedAtFirst; } rows[] = {{false, 30, true}, {true, 30, true}, {false, 10, false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.paused << " " << row.blocks);
        Rig rig({kDevice});
        const std::vector<int16_t> file = WriteRampWav(rig.Work("ramp.wav"), uint32_t(row.blocks) * kSegment, 2, 48000);
        rig.Queue("ramp.wav");
        DeviceWatch watch(*rig.player, {60s, 1s});
        rig.player->SetVolume(12);  // 3 steps down: samples shifted right by 3
        rig.player->PlayPause();
        rig.RunSegments(7);
        if (row.paused) rig.player->PlayPause();
        if (row.unpluggedAtFirst)
            rig.scope.WriteMachineHive(host_test::MachineHive({Device(kDevice.name, 256, {Text("FailInit", "unplugged")})}));
        DeviceGoesAway(rig);
        const auto lost = DeviceWatch::Clock::now();
        if (row.unpluggedAtFirst) {
            EXPECT_EQ(watch.OnResetRequest(lost), DeviceEvent::Gone);
            EXPECT_FALSE(rig.player->DeviceReady() || rig.player->Playing() || deviceUsable.load());
            EXPECT_EQ(watch.Tick(lost + 1s), DeviceEvent::None) << "still unplugged";
            rig.scope.WriteMachineHive(host_test::MachineHive({kDevice}));
            EXPECT_EQ(watch.Tick(lost + 1900ms), DeviceEvent::None) << "the next try is due at 2 s";
            ASSERT_EQ(watch.Tick(lost + 2s), DeviceEvent::Back);
        } else {
            ASSERT_EQ(watch.OnResetRequest(lost), DeviceEvent::Back) << "it opens again at once";
        }
        EXPECT_TRUE(!watch.Waiting() && deviceUsable.load());
        ASSERT_TRUE(rig.player->Playing());
        EXPECT_EQ(rig.player->Paused(), row.paused);
        EXPECT_STREQ(rig.player->Title(), "ramp.wav");

        rig.ReachClock();
        rig.Clear();
        if (row.paused) rig.player->PlayPause();
        rig.RunSegments(2);
        const size_t from = 7 * kSegment;
        std::vector<int16_t> want[2];
        for (size_t i = 2 * from; i < 2 * (from + 2 * kSegment); ++i) want[i % 2].push_back(int16_t(file[i] >> 3));
        EXPECT_TRUE(rig.outLeft == want[0] && rig.outRight == want[1]) << "the samples after the return";
        EXPECT_EQ(rig.player->Position(), int64_t(from + 2 * kSegment));
    }
}

// A worker that stops serving leaves the device's switches without a queued segment:
// each such switch is a dropped buffer. The player's counts before the reset and on the
// reopened device add up, and each is logged (every start of the host begins a new log).
TEST(DeviceWatch, DroppedBuffersAddUpAcrossTheResetAndAreLogged) {
    Rig rig({kDevice});
    WriteRampWav(rig.Work("ramp.wav"), 30 * kSegment, 2, 48000);
    rig.Queue("ramp.wav");
    DeviceWatch watch(*rig.player, {60s, 1s});
    rig.player->PlayPause();
    for (const uint32_t dropped : {3u, 2u}) {
        rig.RunSegments(4);
        EXPECT_EQ(watch.PollDropouts(), DeviceEvent::None);
        EndWorker(0);  // nothing refills the ring from here
        rig.Run(2 * kSegment / 256 + int(dropped));  // the ring's two segments play out first
        EXPECT_EQ(rig.player->Dropouts().device.droppedBuffers, dropped);
        EXPECT_EQ(watch.PollDropouts(), DeviceEvent::Dropouts);
        EXPECT_EQ(watch.PollDropouts(), DeviceEvent::None) << "counted once";
        if (dropped == 3) {
            DeviceGoesAway(rig);
            ASSERT_EQ(watch.OnResetRequest(), DeviceEvent::Back);
            rig.ReachClock();
        }
    }
    char text[64];
    FormatDropouts(watch.Totals(), text, sizeof text);
    EXPECT_STREQ(text, "5 dropped buffers");
    for (const auto& [log, dropped] : {std::pair{"CorvaneDbg1.Log", 3}, {"CorvaneDbg.Log", 2}})
        EXPECT_NE(ReadFile(rig.Work(log)).find(" s) of the track: " + std::to_string(dropped) + " dropped buffers\n"), std::string::npos) << log;
}

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
