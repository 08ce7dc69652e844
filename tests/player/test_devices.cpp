// Device choice: buffer sizes, refused devices, a device change mid-session and a
// stored number that names no driver any more.
#include <gtest/gtest.h>

#include "player_rig.h"

namespace {

using namespace player_test;
using host_test::ExpectInOrder;

TEST(Devices, BufferSizesThatDivideASegmentAtLeastTwiceAreAccepted) {
    for (int size : {64, 256, 512, 1152, 2304}) {
        SCOPED_TRACE(size);
        Rig rig({Device("Sized", size)});
        ASSERT_TRUE(rig.player->DeviceReady());
        EXPECT_TRUE(deviceUsable.load());
        EXPECT_EQ(selectedDevice.load(), 0);
        EXPECT_EQ(rig.player->Link().State(), DeviceState::Prepared);
        const std::vector<int16_t> source = WriteRampWav(rig.Work("t.wav"), 3 * kSegment, 2, 48000);
        rig.Queue("t.wav");
        rig.player->PlayPause();
        rig.RunSegments(3);
        EXPECT_EQ(rig.outLeft, Channel(source, 2, 0));
    }
    for (int size : {4608, 3000}) {
        SCOPED_TRACE(size);
        Rig rig({Device("Sized", size)});
        EXPECT_FALSE(rig.player->DeviceReady());
        EXPECT_FALSE(deviceUsable.load());
        EXPECT_EQ(selectedDevice.load(), -1);
        EXPECT_EQ(rig.player->DeviceNumber(), kNoDevice);
        EXPECT_EQ(rig.player->Link().State(), DeviceState::Ready);  // buffers made, then refused
    }
}

TEST(Devices, ARefusedDeviceLeavesThePlayerUsableAndAChangeStoresTheNewNumber) {
    Rig rig({Device("A Odd", 3000), Device("B Good", 256)}, 0);
    ASSERT_FALSE(rig.player->DeviceReady());
    // Without a device the transport does nothing and nothing breaks.
    WriteRampWav(rig.Work("t.wav"), 2 * kSegment, 2, 48000);
    rig.Queue("t.wav");
    rig.player->PlayPause();
    rig.player->ToggleRecord();
    rig.player->Stop();
    rig.player->SetVolume(3);
    EXPECT_FALSE(rig.player->Playing());
    EXPECT_FALSE(rig.player->RecordArmed());
    EXPECT_EQ(rig.player->Queue().Count(), 1u);

    selectedDevice.store(-1);
    EXPECT_FALSE(rig.player->ChangeDevice());
    selectedDevice.store(1);
    ASSERT_TRUE(rig.player->ChangeDevice());
    rig.ReachClock();
    EXPECT_TRUE(rig.player->DeviceReady());
    EXPECT_EQ(rig.player->DeviceNumber(), 1);
    int32_t stored = -1;
    ASSERT_TRUE(LoadDeviceNumber(stored));
    EXPECT_EQ(stored, 1);
    rig.player->PlayPause();
    rig.RunSegments(2);
    EXPECT_STREQ(rig.player->Title(), "t.wav");
    EXPECT_EQ(CurrentDeviceRecord()->soundBuffers[0]->DroppedBuffers(), 0u);
}

TEST(Devices, ChangeDeviceWhilePlayingStopsUnloadsAndPlaysOnTheNewDevice) {
    Rig rig({Device("A First", 256), Device("B Second", 512, {Dword("SampleRate", 44100)})}, 0);
    ASSERT_TRUE(rig.player->DeviceReady());
    EXPECT_EQ(rig.player->DeviceNumber(), 0);
    WriteRampWav(rig.Work("t.wav"), 8 * kSegment, 2, 48000);
    rig.Queue("t.wav");
    rig.Queue("t.wav");
    rig.player->PlayPause();
    rig.RunSegments(3);
    selectedDevice.store(1);
    ASSERT_TRUE(rig.player->ChangeDevice());
    rig.ReachClock();
    EXPECT_FALSE(rig.player->Playing());
    EXPECT_FALSE(rig.player->Loaded());
    EXPECT_EQ(rig.player->Link().State(), DeviceState::Prepared);
    EXPECT_EQ(ASIOSetSampleRate(), 44100);
    EXPECT_EQ(ASIOGetPrimaryBufferSizeSamples(), 512);
    // The next entry plays, resampled to the new device's rate.
    rig.ClearCaptured();
    rig.player->PlayPause();
    ASSERT_TRUE(rig.player->Loaded());
    EXPECT_LT(rig.player->TotalFrames(), uint32_t(8 * kSegment));
    rig.RunSegments(2);
    uint32_t channels = 0;
    const std::vector<int16_t> blocks = ReaderBlocks(rig.Work("t.wav"), 44100, &channels);
    const std::vector<int16_t> left = Channel(blocks, 2, 0);
    ASSERT_GE(left.size(), size_t(2 * kSegment));
    EXPECT_EQ(rig.outLeft, std::vector<int16_t>(left.begin(), left.begin() + 2 * kSegment));
}

TEST(Devices, AStoredNumberThatNamesNoDriverStartsWithoutADevice) {
    {
        Rig rig({Device("A", 256), Device("B", 256)}, kStoredDevice, 5);
        EXPECT_FALSE(rig.player->DeviceReady());
        EXPECT_FALSE(deviceUsable.load());
        EXPECT_EQ(rig.player->Link().State(), DeviceState::Closed);
        rig.player->PlayPause();
        EXPECT_FALSE(rig.player->Playing());
        rig.player.reset();
        ExpectInOrder(rig.Log(), {"nRequestedDrvNum: 5, Num devices: 2"});
    }
    // A stored number that does name a driver opens it.
    Rig rig({Device("A", 256), Device("B", 256)}, kStoredDevice, 1);
    EXPECT_TRUE(rig.player->DeviceReady());
    EXPECT_EQ(rig.player->DeviceNumber(), 1);
    EXPECT_EQ(selectedDevice.load(), 1);
}

}  // namespace
