// The click handler: the transport buttons and their refusals, the volume segments and
// the position bar.
#include "shell_test_support.h"

#include "display/colours.h"

namespace {

using namespace shell_test;

TEST(Clicks, WithoutADeviceTheTransportOnlyExplains) {
    Session s(std::vector<VirtualDeviceSpec>{});  // no driver installed
    ASSERT_FALSE(deviceUsable.load());
    const QImage before = s.window->Screen().Image().copy();

    s.ClickPlay();
    s.ClickRecord();
    s.ClickStop();
    EXPECT_EQ(s.prompts.TakeMessages(), (std::vector<ShownMessage>{{"You need a device!", "On play..."},
                                                                    {"You need a device!", "On record..."}}));
    EXPECT_FALSE(s.player().RecordArmed());
    EXPECT_FALSE(s.player().Playing());
    // The corners of the strip count as buttons too; nothing was redrawn.
    s.Click(QPoint(0, s.window->Panel().PlayRect().bottom - 1));
    EXPECT_EQ(s.prompts.TakeMessages(), (std::vector<ShownMessage>{{"You need a device!", "On play..."}}));
    EXPECT_EQ(s.window->Screen().Image(), before);
}

TEST(Clicks, TransportWithADevice) {
    Session s;
    ASSERT_TRUE(deviceUsable.load());
    ASSERT_TRUE(s.player().DeviceReady());

    s.ClickPlay();
    EXPECT_EQ(s.prompts.TakeMessages(), (std::vector<ShownMessage>{{"You need to load a file!", "On play..."}}));
    EXPECT_FALSE(s.player().Playing());

    // Record arms and disarms without a word; an armed Play needs no file.
    s.ClickRecord();
    EXPECT_TRUE(s.player().RecordArmed());
    s.ClickRecord();
    EXPECT_FALSE(s.player().RecordArmed());

    WriteTrack(s, "one.wav", 2.0);
    s.Queue({"one.wav"});
    s.ClickPlay();
    EXPECT_TRUE(s.prompts.TakeMessages().empty());
    EXPECT_TRUE(s.player().Playing());
    EXPECT_STREQ(s.window->TitleText(), "one.wav");
    const Rect& play = s.window->Panel().PlayRect();
    // Playing shows two bars: the gap between them is face-coloured, the bars strong.
    EXPECT_EQ(Px(*s.window, play.left + 15, (play.top + play.bottom) / 2), kStrong);
    EXPECT_EQ(Px(*s.window, play.left + 18, (play.top + play.bottom) / 2), kLight);

    s.ClickPlay();
    EXPECT_TRUE(s.player().Paused());
    s.ClickPlay();
    EXPECT_FALSE(s.player().Paused());

    s.ClickStop();
    EXPECT_FALSE(s.player().Playing());
    EXPECT_TRUE(s.player().Loaded());  // the track stays for the next Play
    EXPECT_EQ(Px(*s.window, play.left + 18, (play.top + play.bottom) / 2), kStrong);  // the triangle again

    // With a track loaded Play needs no queue.
    s.ClickPlay();
    EXPECT_TRUE(s.player().Playing());
    EXPECT_TRUE(s.prompts.TakeMessages().empty());
    s.ClickStop();
}

// Play with a queue of which nothing can be read: the device stays stopped, the buttons
// show it, and the person is told which file it was.
TEST(Clicks, PlayWithNothingReadableNamesTheFile) {
    Session s;
    testing_support::WriteFile(s.Work("junk.wav"), "RIFF but not a sound file at all");
    for (const auto& [queue, text] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"junk.wav"}, "Sorry - we can't read \"junk.wav\"."},
             {{"missing.wav", "junk.wav", "gone.mp3"}, "Sorry - we can't read \"missing.wav\" nor 2 other files."}}) {
        s.Queue(queue);
        s.ClickPlay();
        EXPECT_EQ(s.prompts.TakeMessages(), (std::vector<ShownMessage>{{text, "On play..."}}));
        EXPECT_FALSE(s.player().Playing());
        EXPECT_EQ(s.player().Link().State(), DeviceState::Prepared);
        const Rect& play = s.window->Panel().PlayRect();
        EXPECT_EQ(Px(*s.window, play.left + 18, (play.top + play.bottom) / 2), kStrong);  // the triangle
    }
}

TEST(Clicks, VolumeSegmentsSetTheLevel) {
    Session s;
    StatusPanel& panel = s.window->Panel();
    EXPECT_EQ(s.player().Volume(), 15);
    for (int level : {0, 7, 15, 3}) {
        const Rect& segment = panel.VolumeSegment(level);
        s.Click(QPoint(segment.right - 1, segment.top));  // neighbours share a column: the left one owns it
        EXPECT_EQ(s.player().Volume(), level);
        // The marker sits on the segment's centre.
        EXPECT_EQ(Px(*s.window, (segment.left + segment.right) / 2, (segment.top + segment.bottom) / 2), kBlack);
    }
    // Left of the first segment is still the quietest step; the strip's top and bottom
    // rows count.
    const Rect& strip = panel.VolumeRect();
    s.Click(QPoint(strip.left, strip.bottom));
    EXPECT_EQ(s.player().Volume(), 0);
    s.Click(QPoint(panel.VolumeSegment(9).right - 1, strip.top));
    EXPECT_EQ(s.player().Volume(), 9);
    // Right of the last segment and below the strip are not the volume bar.
    s.Click(QPoint(panel.VolumeSegment(15).right, 12));
    s.Click(QPoint(panel.VolumeSegment(2).left, strip.bottom + 1));
    EXPECT_EQ(s.player().Volume(), 9);
    EXPECT_TRUE(s.prompts.TakeMessages().empty());
}

TEST(Clicks, PositionBarSeeksAPausedTrack) {
    Session s;
    WriteTrack(s, "long.wav", 20.0);
    s.Queue({"long.wav"});
    s.ClickPlay();
    s.ClickPlay();
    ASSERT_TRUE(s.player().Paused());
    const Rect bar = s.window->Panel().PositionBarRect();
    const int32_t blocks = s.player().Track()->BlockCount();

    // A paused seek shows the new position at once: the block the fraction falls in.
    const int x = bar.left + (bar.right - bar.left) * 3 / 4;
    s.Click(QPoint(x, bar.top));
    Pump();
    const int32_t target = int32_t(float(blocks) * (float(x - bar.left) / float(bar.right - bar.left)));
    char expected[40];
    FormatPosition(expected, sizeof expected, 48000, uint64_t(target) * 4608);
    EXPECT_STREQ(s.window->Panel().TimeText(), expected);
    EXPECT_STRNE(expected, "Position: 00:00:00");

    // The bar's own frame columns and the rows outside it do not seek.
    s.Click(QPoint(bar.left, bar.top));
    s.Click(QPoint(bar.right, bar.top));
    s.Click(QPoint(bar.left + 10, bar.bottom + 1));
    Pump();
    EXPECT_STREQ(s.window->Panel().TimeText(), expected);
    s.ClickStop();
}

// Positions posted while recording count from the recording's start; a seek made
// while armed would move them to the middle of the loaded track.
TEST(Clicks, PositionBarDoesNothingWhileArmed) {
    Session s;
    WriteTrack(s, "long.wav", 20.0);
    s.Queue({"long.wav"});
    s.ClickPlay();
    s.ClickStop();
    ASSERT_TRUE(s.player().Loaded());
    ASSERT_STREQ(s.window->TitleText(), "long.wav");
    const Rect bar = s.window->Panel().PositionBarRect();

    s.player().ToggleRecord();  // armed with the title still shown
    ASSERT_TRUE(s.player().RecordArmed());
    s.Click(QPoint((bar.left + bar.right) / 2, (bar.top + bar.bottom) / 2));
    s.ClickPlay();
    ASSERT_TRUE(s.player().RecordingActive());
    s.RunSegments(9);
    EXPECT_STREQ(s.window->Panel().TimeText(), "Position: 00:00:00");
    s.ClickStop();
    EXPECT_FALSE(s.player().RecordArmed());

    // Record empties the title (the click handler's seek gate) until a track is prepared.
    s.ClickRecord();
    EXPECT_STREQ(s.window->TitleText(), "");
    s.ClickRecord();
    s.ClickPlay();
    EXPECT_STREQ(s.window->TitleText(), "long.wav");
    s.ClickStop();
}

}  // namespace
