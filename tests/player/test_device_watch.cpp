// The device failing under the player, on the virtual device's test clock: the driver's
// reset request, a device that does not open at first and then does, one that never
// comes back, and dropouts counted across the reset. The watch is given its times, so
// nothing here waits for them.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "host/asio_messages.h"
#include "host/audio_buffer.h"
#include "player/device_watch.h"
#include "player_rig.h"

namespace {

using namespace player_test;
using namespace std::chrono_literals;

const VirtualDeviceSpec kDevice = Device("Bellwave Virtual Device");
const VirtualDeviceSpec kUnplugged = Device("Bellwave Virtual Device", 256, {Text("FailInit", "unplugged")});

// The driver's reset request, as a device that went away makes it: the host posts it.
void DeviceGoesAway(Rig& rig) {
    rig.clock.reset();  // it holds the old driver
    EXPECT_EQ(asioMessage(kAsioResetRequest, 0, nullptr, nullptr), 1);
    EXPECT_EQ(rig.window.Count(WMU_ASIO_RESET), 1);
}

// Plays on from block 7 of 30 after the device went away playing (or paused), failed
// its first try and opened on the second, with the volume it had.
TEST(DeviceWatch, PlaybackGoesOnFromTheBlockWhereTheDeviceWentAway) {
    for (const bool paused : {false, true}) {
        SCOPED_TRACE(paused ? "paused" : "playing");
        Rig rig({kDevice});
        const std::vector<int16_t> file = WriteRampWav(rig.Work("ramp.wav"), 30 * kSegment, 2, 48000);
        rig.Queue("ramp.wav");
        DeviceWatch watch(*rig.player, {60s, 1s});
        rig.player->SetVolume(12);  // 3 steps down: samples shifted right by 3
        rig.player->PlayPause();
        rig.RunSegments(7);
        for (size_t i = 0; i < rig.outLeft.size(); ++i)
            ASSERT_EQ(rig.outLeft[i], file[2 * i] >> 3) << "before the loss, frame " << i;
        if (paused) rig.player->PlayPause();

        rig.scope.WriteMachineHive(host_test::MachineHive({kUnplugged}));
        DeviceGoesAway(rig);
        const auto lost = DeviceWatch::Clock::now();
        EXPECT_EQ(watch.OnResetRequest(lost), DeviceEvent::Gone);
        EXPECT_TRUE(watch.Waiting());
        EXPECT_FALSE(rig.player->DeviceReady());
        EXPECT_FALSE(rig.player->Playing());
        EXPECT_FALSE(deviceUsable.load());
        EXPECT_EQ(watch.Tick(lost + 1s), DeviceEvent::None) << "still unplugged";
        rig.scope.WriteMachineHive(host_test::MachineHive({kDevice}));
        EXPECT_EQ(watch.Tick(lost + 1900ms), DeviceEvent::None) << "the next try is due at 2 s";
        ASSERT_EQ(watch.Tick(lost + 2s), DeviceEvent::Back);
        EXPECT_EQ(watch.Waited(), 2s);
        EXPECT_FALSE(watch.Waiting());
        EXPECT_TRUE(deviceUsable.load());
        ASSERT_TRUE(rig.player->Playing());
        EXPECT_EQ(rig.player->Paused(), paused);
        EXPECT_STREQ(rig.player->Title(), "ramp.wav");
        EXPECT_EQ(rig.player->Volume(), 12);
        EXPECT_EQ(Host().soundBuffers[0]->GetAttenuation(), 3);

        rig.ReachClock();
        rig.ClearCaptured();
        if (paused) rig.player->PlayPause();
        rig.RunSegments(3);
        ASSERT_EQ(rig.outLeft.size(), 3u * kSegment);
        const size_t from = 7 * kSegment;
        for (size_t i = 0; i < rig.outLeft.size(); ++i) {
            ASSERT_EQ(rig.outLeft[i], file[2 * (from + i)] >> 3) << "frame " << i << " after the return";
            ASSERT_EQ(rig.outRight[i], file[2 * (from + i) + 1] >> 3) << "frame " << i << " after the return";
        }
        EXPECT_EQ(rig.player->Position(), int64_t(from + 3 * kSegment));
        rig.player->Stop();
    }
}

// Near its end the track goes on from the block it was at, not from four blocks before.
TEST(DeviceWatch, NearTheEndPlaybackGoesOnFromTheSameBlock) {
    Rig rig({kDevice});
    const std::vector<int16_t> file = WriteRampWav(rig.Work("ramp.wav"), 10 * kSegment, 2, 48000);
    rig.Queue("ramp.wav");
    DeviceWatch watch(*rig.player, {60s, 1s});
    rig.player->PlayPause();
    rig.RunSegments(8);
    DeviceGoesAway(rig);
    ASSERT_EQ(watch.OnResetRequest(), DeviceEvent::Back) << "it opens again at once";
    rig.ReachClock();
    rig.ClearCaptured();
    rig.RunSegments(2);
    for (size_t i = 0; i < rig.outLeft.size(); ++i)
        ASSERT_EQ(rig.outLeft[i], file[2 * (8 * kSegment + i)]) << "frame " << i << " after the return";
    rig.RunSegments(2);
    EXPECT_EQ(rig.Messages(WMU_TRACK_END).size(), 1u) << "two silent segments, then the end";
}

TEST(DeviceWatch, ADeviceThatDoesNotComeBackStopsTheTransport) {
    Rig rig({kDevice});
    WriteRampWav(rig.Work("ramp.wav"), 30 * kSegment, 2, 48000);
    rig.Queue("ramp.wav");
    DeviceWatch watch(*rig.player, {300ms, 100ms});
    rig.player->PlayPause();
    rig.RunSegments(3);
    rig.scope.WriteMachineHive(host_test::MachineHive({kUnplugged}));
    DeviceGoesAway(rig);
    const auto lost = DeviceWatch::Clock::now();
    ASSERT_EQ(watch.OnResetRequest(lost), DeviceEvent::Gone);
    EXPECT_EQ(watch.Tick(lost + 100ms), DeviceEvent::None);
    EXPECT_EQ(watch.Tick(lost + 200ms), DeviceEvent::None);
    rig.window.Clear();
    EXPECT_EQ(watch.Tick(lost + 300ms), DeviceEvent::GaveUp);
    EXPECT_FALSE(watch.Waiting());
    EXPECT_EQ(watch.Tick(lost + 400ms), DeviceEvent::None) << "no more tries";
    EXPECT_FALSE(rig.player->Playing());
    EXPECT_FALSE(rig.player->DeviceReady());
    EXPECT_STREQ(rig.player->Title(), "");
    const auto positions = rig.Messages(WMU_POSITION);
    ASSERT_EQ(positions.size(), 1u);
    EXPECT_EQ(positions[0].lParam, 0) << "the display is reset as by Stop";

    // The person picks the device again once it is back.
    rig.scope.WriteMachineHive(host_test::MachineHive({kDevice}));
    selectedDevice.store(0);
    EXPECT_TRUE(rig.player->ChangeDevice());
}

// Dropped buffers on the device before the reset and on the reopened device after it
// add up; each is logged (the log before the reset is the previous one by then: every
// start of the host begins a new log).
TEST(DeviceWatch, DropoutsAddUpAcrossTheResetAndAreLoggedWithTheirPosition) {
    Rig rig({kDevice});
    WriteRampWav(rig.Work("ramp.wav"), 30 * kSegment, 2, 48000);
    rig.Queue("ramp.wav");
    DeviceWatch watch(*rig.player, {60s, 1s});
    EXPECT_EQ(watch.PollDropouts(), DeviceEvent::None);
    rig.player->PlayPause();
    rig.RunSegments(4);
    EndWorker(0);  // nothing refills the ring from here
    rig.Run(2 * kSegment / 256 + 3);
    EXPECT_EQ(watch.PollDropouts(), DeviceEvent::Dropouts);
    EXPECT_EQ(watch.PollDropouts(), DeviceEvent::None) << "counted once";
    EXPECT_EQ(watch.Totals().droppedBuffers, 3u);

    DeviceGoesAway(rig);
    ASSERT_EQ(watch.OnResetRequest(), DeviceEvent::Back);
    rig.ReachClock();
    rig.RunSegments(2);
    EXPECT_EQ(watch.PollDropouts(), DeviceEvent::None) << "the new device counts from 0";
    EndWorker(0);
    rig.Run(2 * kSegment / 256 + 2);
    EXPECT_EQ(watch.PollDropouts(), DeviceEvent::Dropouts);
    EXPECT_EQ(watch.Totals().droppedBuffers, 5u);
    EXPECT_EQ(watch.Totals().Sum(), 5u);
    char text[64];
    FormatDropouts(watch.Totals(), text, sizeof text);
    EXPECT_STREQ(text, "5 dropped buffers");

    // (With the worker ended, as here, the host no longer tells the position.)
    auto logged = [](const std::vector<std::string>& lines, const std::string& what) {
        for (const std::string& line : lines)
            if (line.rfind("Dropout at frame ", 0) == 0 && line.size() > what.size() &&
                line.compare(line.size() - what.size(), what.size(), what) == 0)
                return true;
        return false;
    };
    const auto before = host_test::ReadLines(rig.Work("CorvaneDbg1.Log"));
    EXPECT_TRUE(logged(before, " s) of the track: 3 dropped buffers")) << host_test::Dump(before);
    const auto after = rig.Log();
    EXPECT_TRUE(logged(after, " s) of the track: 2 dropped buffers")) << host_test::Dump(after);
    rig.player->Stop();
}

}  // namespace
