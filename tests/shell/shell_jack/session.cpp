// The window on the JACK driver against a real server (the tests' shared one): a track
// plays to its end and the window stops itself; a recording from the inputs lands in
// Out.wav.
//
// Not in the race detector's run: the server's thread runs freely, so the player's
// worker posts into Qt's event queue while this thread reads it, under Qt's own lock,
// which the detector (with Qt not built for it) cannot see. The virtual device's tests
// cover the same hand-over on the test clock.
#include "tests/shell/shell_test_support.h"
#include "tests/jack/jack_server.h"

#include <cstring>

namespace {

using namespace shell_test;

std::string JackHive() {
    const std::string clsid = "{0cad8258-a536-4162-8980-a550e360e14c}";
    const std::string library = (testing_support::BuildDir() / "lib/bellwave/drivers/jack.so").string();
    return "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\software\\asio\\JACK]\n\"clsid\"=\"" + clsid +
           "\"\n\"description\"=\"JACK\"\n\n[HKEY_CLASSES_ROOT\\clsid\\" + clsid + "\\InprocServer32]\n@=\"" +
           library + "\"\n";
}

TEST(JackSession, PlaysToTheEndAndRecords) {
    if (!jack_test::SharedServerAnswers()) GTEST_SKIP() << jack_test::kNoServerMessage;
    IsolatedScope scope;
    scope.WriteMachineHive(JackHive());
    ScriptedPrompts prompts;
    deviceUsable.store(false);
    selectedDevice.store(-1);
    MainWindow window;
    window.show();
    ASSERT_TRUE(deviceUsable.load()) << "the window could not open the JACK driver";
    Player& player = *window.GetPlayer();

    const uint32_t rate = 44100;  // not the server's rate: the reader resamples
    fixtures::WriteBytes(scope.workDir() / "one.wav",
                         fixtures::MakeWav(1, 2, rate, 16, fixtures::Samples(fixtures::Music(rate, 2, rate))));
    const int folder = player.Directories().AddDirectory(scope.workDir().c_str());
    PlayEntry entry;
    ASSERT_TRUE(MakePlayEntry(entry, "one.wav", folder));
    ASSERT_TRUE(player.Queue().Append(entry));

    QTest::mouseClick(window.ClientArea(), Qt::LeftButton, Qt::NoModifier, Centre(window.Panel().PlayRect()));
    ASSERT_TRUE(player.Playing());
    EXPECT_STREQ(window.TitleText(), "one.wav");
    bool moved = false;
    EXPECT_TRUE(RunUntil([&] {
        moved = moved || std::strcmp(window.Panel().TimeText(), "Position: 00:00:00") != 0 ||
                window.Panel().GetVisualiser().History().Count() > 0;
        return !player.Playing();
    })) << "the track did not play out";
    EXPECT_TRUE(moved);
    EXPECT_STREQ(window.TitleText(), "");
    EXPECT_TRUE(prompts.messages.empty());

    QTest::mouseClick(window.ClientArea(), Qt::LeftButton, Qt::NoModifier, Centre(window.Panel().RecordRect()));
    QTest::mouseClick(window.ClientArea(), Qt::LeftButton, Qt::NoModifier, Centre(window.Panel().PlayRect()));
    ASSERT_TRUE(player.RecordingActive());
    EXPECT_TRUE(RunUntil([&] { return std::strcmp(window.Panel().TimeText(), "Position: 00:00:01") >= 0; }));
    QTest::mouseClick(window.ClientArea(), Qt::LeftButton, Qt::NoModifier, Centre(window.Panel().StopRect()));
    EXPECT_FALSE(player.RecordingActive());
    const std::string wav = testing_support::ReadFile(scope.workDir() / "Out.wav");
    ASSERT_GT(wav.size(), 58u);
    EXPECT_EQ((wav.size() - 58) % 18432, 0u);
    EXPECT_GE(wav.size() - 58, 4u * 18432);  // at least a second's worth of blocks
}

}  // namespace
