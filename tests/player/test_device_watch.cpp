// The device failing under the player, on the virtual device's test clock: a device
// that opens again at once or on a later try, and dropped buffers counted across the
// reset. The watch is given its times, so nothing here waits for them.
#include "host/asio_messages.h"
#include "host/audio_buffer.h"
#include "player/device_watch.h"
#include "player_rig.h"

namespace {

using namespace player_test;
using namespace std::chrono_literals;

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
        rig.player->SetVolume(16);  // out of range: ignored
        rig.player->SetVolume(-1);
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
        EXPECT_FALSE(watch.Waiting());
        EXPECT_TRUE(deviceUsable.load());
        ASSERT_TRUE(rig.player->Playing());
        EXPECT_EQ(rig.player->Paused(), row.paused);
        EXPECT_STREQ(rig.player->Title(), "ramp.wav");

        rig.ReachClock();
        rig.Clear();
        if (row.paused) rig.player->PlayPause();
        rig.RunSegments(2);
        const size_t from = 7 * kSegment;
        ASSERT_EQ(rig.outLeft.size(), 2u * kSegment);
        for (size_t i = 0; i < rig.outLeft.size(); ++i) {
            ASSERT_EQ(rig.outLeft[i], file[2 * (from + i)] >> 3) << "frame " << i << " after the return";
            ASSERT_EQ(rig.outRight[i], file[2 * (from + i) + 1] >> 3) << "frame " << i << " after the return";
        }
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
    auto logged = [](const std::vector<std::string>& lines, const std::string& what) {
        for (const std::string& line : lines)
            if (line.rfind("Dropout at frame ", 0) == 0 && line.ends_with(what)) return true;
        return false;
    };
    EXPECT_TRUE(logged(host_test::ReadLines(rig.Work("CorvaneDbg1.Log")), " s) of the track: 3 dropped buffers"));
    EXPECT_TRUE(logged(rig.Log(), " s) of the track: 2 dropped buffers")) << host_test::Dump(rig.Log());
}

}  // namespace
