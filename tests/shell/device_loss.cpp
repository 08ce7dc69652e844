// The window when its device goes away (made to fail its opens) and comes back, or not:
// the title says it is waited for, playback goes on where it stopped, a take is closed at
// the loss and the person told, and a device that stays away stops everything.
#include "shell_test_support.h"

#include "host/asio_messages.h"
#include "host/wav_buf.h"
#include "player/device_watch.h"

namespace {

using namespace shell_test;

const VirtualDeviceSpec kDevice = Device("Bellwave Virtual Device", 256, {Text("Input", "tone")});
const VirtualDeviceSpec kUnplugged =
    Device("Bellwave Virtual Device", 256, {Text("Input", "tone"), Text("FailInit", "unplugged")});

// The device stops opening and asks for a reset, as one that was unplugged does.
void Unplug(Session& s) {
    s.scope.WriteMachineHive(host_test::MachineHive({kUnplugged}));
    s.clock.reset();  // it holds the old driver
    asioMessage(kAsioResetRequest, 0, nullptr, nullptr);
    Pump();
}

TEST(DeviceLoss, TheWindowWaitsPlaysOnClosesATakeAndStopsWhenTheDeviceStaysAway) {
    testing_support::EnvironmentScope wait("BELLWAVE_DEVICE_WAIT_MS", "1000");
    testing_support::EnvironmentScope retry("BELLWAVE_DEVICE_RETRY_MS", "50");
    Session s({kDevice});
    MainWindow& w = *s.window;
    WriteTrack(s, "one.wav", 5.0);
    s.Queue({"one.wav"});
    s.ClickPlay();
    s.RunSegments(22);

    Unplug(s);
    EXPECT_STREQ(w.TitleText(), "The device has gone away - waiting for it to come back...");
    EXPECT_GT(Ink(w, Rect{0, 25, w.ClientArea()->width(), 43}), 20);  // the title band
    EXPECT_FALSE(s.player().Playing());
    EXPECT_TRUE(w.Watch()->Waiting());
    s.scope.WriteMachineHive(host_test::MachineHive({kDevice}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.player().Playing(); }, 20000)) << "the device was never opened again";
    EXPECT_STREQ(w.TitleText(), "one.wav");
    s.ReachClock();
    s.RunSegments(8);
    EXPECT_STREQ(w.Panel().TimeText(), "Position: 00:00:02");
    EXPECT_TRUE(s.prompts.messages.empty());

    // An MP3 take ("Record to mp3") is closed at the loss; this time the device stays away.
    // Before it goes, its worker stops and three buffers are dropped: the count shows.
    s.window->Action(IDM_RECORD_MP3)->trigger();
    s.ClickStop();
    s.ClickRecord();
    s.ClickPlay();
    ASSERT_TRUE(s.player().RecordingActive());
    s.RunSegments(6);
    EndWorker(0);
    s.clock->Advance(2 * 4608 / 256 + 3);
    Unplug(s);
    EXPECT_GT(Ink(w, w.Panel().DropoutsRect()), 20) << "Dropouts: 3";
    EXPECT_EQ(s.prompts.TakeMessages(),
              (Messages{{"The device went away during the recording. Out.mp3 holds the take up to there.",
                         "On record..."}}));
    EXPECT_EQ(testing_support::ReadFile(s.Work("Out.mp3")).substr(0, 1), "\xFF");  // an MPEG frame, not a WAV header
    EXPECT_FALSE(std::filesystem::exists(s.Work("Out.wav")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.Watch()->Waiting(); }, 20000));
    EXPECT_EQ(s.prompts.TakeMessages(), (Messages{{"The device did not come back, so everything has stopped. "
                                                   "Choose a device under ASIO Devices.", "On device..."}}));
    EXPECT_STREQ(w.TitleText(), "");
    EXPECT_FALSE(s.player().RecordArmed());
    s.ClickPlay();
    EXPECT_EQ(s.prompts.TakeMessages(), (Messages{{"You need a device!", "On play..."}}));
}

}  // namespace
