// Device choice: buffer sizes, a refused device, a change mid-session, and the device
// number kept in the user's settings.
#include "player_rig.h"

namespace {

using namespace player_test;

TEST(Devices, BufferSizesThatDivideASegmentAtLeastTwiceAreAccepted) {
    for (int size : {64, 256, 512, 1152, 2304, 4608, 3000}) {
        SCOPED_TRACE(size);
        const bool fits = size <= 2304;
        Rig rig({Device("Sized", size)});
        EXPECT_EQ(rig.player->DeviceReady(), fits);
        EXPECT_EQ(deviceUsable.load(), fits);
        EXPECT_EQ(selectedDevice.load(), fits ? 0 : -1);
        EXPECT_EQ(rig.player->Link().State(), fits ? DeviceState::Prepared : DeviceState::Ready);  // buffers made, then refused
        if (!fits) continue;
        const std::vector<int16_t> source = WriteRampWav(rig.Work("t.wav"), 3 * kSegment, 2, 48000);
        rig.Queue("t.wav");
        rig.player->PlayPause();
        rig.RunSegments(3);
        EXPECT_EQ(rig.outLeft, Channel(source, 2, 0));
    }
}

// Without a device the transport does nothing and nothing breaks; a change to a good
// device stores its number, and a change while playing stops and unloads the track.
TEST(Devices, ARefusedDeviceLeavesThePlayerUsableAndAChangeStoresTheNewNumber) {
    Rig rig({Device("A Odd", 3000), Device("B Good", 256), Device("C Good", 512, {Dword("SampleRate", 44100)})}, 0);
    WriteRampWav(rig.Work("t.wav"), 8 * kSegment, 2, 48000);
    rig.Queue("t.wav");
    rig.player->PlayPause();
    rig.player->ToggleRecord();
    EXPECT_FALSE(rig.player->Playing() || rig.player->RecordArmed());
    EXPECT_EQ(rig.player->Queue().Count(), 1u);
    EXPECT_FALSE(rig.player->ChangeDevice()) << "none selected";

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
        EXPECT_STREQ(rig.player->Title(), "t.wav");
    }
    EXPECT_LT(rig.player->TotalFrames(), uint32_t(8 * kSegment)) << "resampled to the device's 44100 Hz";

    // The next start opens the stored device; a stored number that names no driver, none.
    for (const int32_t stored : {2, 5}) {
        rig.clock.reset();
        rig.player.reset();
        ASSERT_TRUE(stored == 2 || SaveDeviceNumber(stored));
        rig.player = std::make_unique<Player>(&rig.window, rig.scope.workDir().c_str(), kStoredDevice);
        EXPECT_EQ(rig.player->Link().State(), stored == 2 ? DeviceState::Prepared : DeviceState::Closed);
    }
    rig.player.reset();
    host_test::ExpectInOrder(rig.Log(), {"nRequestedDrvNum: 5, Num devices: 3"});
}

// Loads what was saved and nothing else; where the settings file cannot be written (a
// folder stands in its place) the number is not reported saved.
TEST(Settings, LoadsWhatWasSavedAndReportsWhatCannotBeKept) {
    IsolatedScope scope;
    int32_t number = -1;
    EXPECT_FALSE(LoadDeviceNumber(number));
    scope.WriteUserHive("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Marrow Lane Works\\Bellwave\\Options]\n");  // no value
    EXPECT_FALSE(LoadDeviceNumber(number));
    EXPECT_EQ(number, -1) << "left alone";
    for (int32_t saved : {2, -7}) {  // the second save finds the key
        ASSERT_TRUE(SaveDeviceNumber(saved));
        ASSERT_TRUE(LoadDeviceNumber(number));
        EXPECT_EQ(number, saved);
    }
    IsolatedScope unwritable;
    std::filesystem::create_directories(unwritable.registryDir() / "user.reg" / "taken");
    EXPECT_FALSE(SaveDeviceNumber(3));
    EXPECT_FALSE(LoadDeviceNumber(number));
}

}  // namespace
