// Whole sessions on the virtual device's test clock, as a person would run them: a
// play list of two files played through to the end, and recordings to WAV and MP3.
#include "shell_test_support.h"

#include <cstring>

#include <QPushButton>

#include "display/colours.h"
#include "shell/dialogs.h"

namespace {

using namespace shell_test;

TEST(Session, TwoTracksPlayThroughAndTheLastEndPressesStop) {
    Session s;
    MainWindow& w = *s.window;
    WriteTrack(s, "one.wav", 3.0);
    WriteTrack(s, "two.wav", 1.0);
    s.prompts.selections = {{s.WorkPath("one.wav"), s.WorkPath("two.wav")}};
    s.prompts.onDialog = [](QDialog& dialog) {
        PlaylistDialog& d = dynamic_cast<PlaylistDialog&>(dialog);
        QTest::mouseClick(d.AddButton(), Qt::LeftButton);
        QTest::mouseClick(d.OkButton(), Qt::LeftButton);
    };
    w.Action(IDM_OPEN)->trigger();
    ASSERT_EQ(s.player().Queue().Count(), 2u);

    const Rect title = TitleBand(w);
    EXPECT_EQ(CountOther(w, title, {kBackground}), 0);
    s.ClickPlay();
    ASSERT_TRUE(s.player().Playing());
    EXPECT_STREQ(w.TitleText(), "one.wav");
    EXPECT_GT(CountOther(w, title, {kBackground}), 20);  // the title's text

    // Positions are posted every fourth segment handed out, two of them before the
    // start: after 14 played segments of 4608 frames at 48000 Hz, 1.3 s.
    s.RunSegments(14);
    EXPECT_STREQ(w.Panel().TimeText(), "Position: 00:00:01");
    const Rect bar = w.Panel().PositionBarRect();
    EXPECT_EQ(Px(w, bar.left + 2, (bar.top + bar.bottom) / 2), kStrong);
    EXPECT_EQ(Px(w, bar.right - 3, (bar.top + bar.bottom) / 2), kLight);
    // The meters and the visualiser show the music.
    const Rect& meters = w.Panel().MeterArea();
    const Rect& led0 = w.Panel().LeftLed(0);
    EXPECT_NE(Px(w, meters.left + (led0.left + led0.right) / 2, meters.top + (led0.top + led0.bottom) / 2), kWhite);
    EXPECT_GT(CountOther(w, w.Panel().VisualiserRect(), {kBlack, kMiddleLine}), 50);

    // The first track's end loads the second and plays on.
    int segments = 14;
    while (std::strcmp(w.TitleText(), "one.wav") == 0 && segments < 60) {
        s.RunSegments(1);
        ++segments;
    }
    EXPECT_STREQ(w.TitleText(), "two.wav");
    EXPECT_TRUE(s.player().Playing());
    EXPECT_EQ(s.player().Queue().Count(), 0u);

    // The last track's end presses Stop.
    segments = 0;
    while (s.player().Playing() && segments < 40) {
        s.RunSegments(1);
        ++segments;
    }
    EXPECT_FALSE(s.player().Playing());
    EXPECT_STREQ(w.TitleText(), "");
    EXPECT_EQ(CountOther(w, title, {kBackground}), 0);
    EXPECT_STREQ(w.Panel().TimeText(), "Position: 00:00:00");
    EXPECT_FALSE(s.player().Loaded());
    const Rect& play = w.Panel().PlayRect();
    EXPECT_EQ(Px(w, play.left + 18, (play.top + play.bottom) / 2), kStrong);  // the triangle, not the bars

    // Play again has nothing left to play.
    s.ClickPlay();
    EXPECT_EQ(s.prompts.TakeMessages(), (std::vector<ShownMessage>{{"You need to load a file!", "On play..."}}));
}

// The menu item chooses the recording's format; a take in one leaves the other's file alone.
TEST(Session, RecordsToWavOrToMp3AsTheMenuSays) {
    Session s({Device("Bellwave Virtual Device", 256, {Text("Input", "tone")})});
    for (const bool mp3 : {false, true}) {
        if (mp3) s.window->Action(IDM_RECORD_MP3)->trigger();
        const std::string wav = testing_support::ReadFile(s.Work("Out.wav"));
        s.ClickRecord();
        s.ClickPlay();
        ASSERT_TRUE(s.player().RecordingActive());
        s.RunSegments(8);
        s.ClickStop();
        EXPECT_FALSE(s.player().RecordingActive());
        const std::string take = testing_support::ReadFile(s.Work(mp3 ? "Out.mp3" : "Out.wav"));
        ASSERT_GT(take.size(), 4u * 417);
        if (mp3) {
            EXPECT_EQ(uint8_t(take[0]), 0xFF);
            EXPECT_EQ(uint8_t(take[1]) & 0xFE, 0xFA);  // MPEG-1 Layer III
            EXPECT_EQ(testing_support::ReadFile(s.Work("Out.wav")), wav);
        } else {
            EXPECT_EQ(take.substr(0, 4), "RIFF");
            EXPECT_FALSE(std::filesystem::exists(s.Work("Out.mp3")));
        }
    }
}

}  // namespace
