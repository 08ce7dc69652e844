// The click handler: the transport buttons and their refusals, the volume segments, the
// position bar, and takes in the format the menu chooses.
#include "shell_test_support.h"

namespace {

using namespace shell_test;

TEST(Clicks, WithoutADeviceTheTransportOnlyExplains) {
    Session s(std::vector<VirtualDeviceSpec>{});  // no driver installed
    const QImage before = s.window->Screen().Image().copy();
    s.ClickPlay();
    s.ClickRecord();
    s.ClickStop();
    s.Click(QPoint(0, s.window->Panel().PlayRect().bottom - 1));  // the strip's corner counts as Play
    EXPECT_EQ(s.prompts.TakeMessages(), (Messages{{"You need a device!", "On play..."},
                                                  {"You need a device!", "On record..."},
                                                  {"You need a device!", "On play..."}}));
    EXPECT_FALSE(s.player().RecordArmed());
    EXPECT_EQ(s.window->Screen().Image(), before);
}

// Nothing in the queue can be read: the device stays stopped and the person is told which file.
TEST(Clicks, PlayWithNothingReadableNamesTheFile) {
    Session s;
    testing_support::WriteFile(s.Work("junk.wav"), "RIFF but not a sound file at all");
    for (const auto& [queue, text] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"junk.wav"}, "Sorry - we can't read \"junk.wav\"."},
             {{"missing.wav", "junk.wav", "gone.mp3"}, "Sorry - we can't read \"missing.wav\" nor 2 other files."}}) {
        s.Queue(queue);
        s.ClickPlay();
        EXPECT_EQ(s.prompts.TakeMessages(), (Messages{{text, "On play..."}}));
        EXPECT_EQ(s.player().Link().State(), DeviceState::Prepared);
        EXPECT_FALSE(ShowsPause(*s.window));
    }
}

// Neighbouring segments share a column: the left one owns it. Left of the first segment is
// the quietest step; the strip's top and bottom rows count; beyond the last segment and
// below the strip are not the volume bar.
TEST(Clicks, VolumeSegmentsSetTheLevel) {
    Session s;
    StatusPanel& panel = s.window->Panel();
    const Rect& strip = panel.VolumeRect();
    const std::pair<QPoint, int> cases[] = {
        {{panel.VolumeSegment(7).right - 1, strip.top}, 7},     {{strip.left, strip.bottom}, 0},
        {{panel.VolumeSegment(9).right - 1, strip.bottom}, 9}, {{panel.VolumeSegment(15).right, 12}, 9},
        {{panel.VolumeSegment(2).left, strip.bottom + 1}, 9},   {{panel.VolumeSegment(15).left + 1, 12}, 15}};
    for (const auto& [at, level] : cases) {
        s.Click(at);
        EXPECT_EQ(s.player().Volume(), level) << at.x() << "," << at.y();
    }
}

// The bar seeks a loaded track from its top row to its bottom one, inside its frame, and
// shows the position at once while paused; armed, it does nothing.
TEST(Clicks, PositionBarSeeksInsideItsFrameButNotWhileArmed) {
    Session s;
    WriteTrack(s, "long.wav", 20.0);
    s.Queue({"long.wav"});
    s.ClickPlay();
    s.ClickPlay();
    ASSERT_TRUE(s.player().Paused());
    const Rect bar = s.window->Panel().PositionBarRect();
    const int32_t blocks = s.player().Track()->BlockCount();
    auto at = [&](int x) { return int64_t(float(blocks) * (float(x - bar.left) / float(bar.right - bar.left))) * 4608; };
    const int64_t mid = at(bar.left + 300);
    const std::pair<QPoint, int64_t> cases[] = {
        {{bar.left + 1, bar.top}, 0},  {{bar.right - 2, bar.bottom}, at(bar.right - 2)}, {{bar.left + 300, bar.top}, mid},
        {{bar.left, bar.top}, mid},    {{bar.right, bar.top}, mid},                      {{bar.left + 10, bar.bottom + 1}, mid},
        {{bar.left + 10, bar.top - 1}, mid}};
    for (const auto& [click, position] : cases) {
        s.Click(click);
        Pump();
        EXPECT_EQ(s.player().Position(), position) << click.x() << "," << click.y();
    }
    char expected[40];
    FormatPosition(expected, sizeof expected, 48000, uint64_t(mid));
    EXPECT_STREQ(s.window->Panel().TimeText(), expected);
    s.ClickStop();
    s.player().ToggleRecord();  // armed with the title still shown
    const int64_t stopped = s.player().Position();
    s.Click(QPoint(bar.left + 100, bar.top));
    EXPECT_EQ(s.player().Position(), stopped);
}

// The menu item chooses the take's format; a take in one leaves the other's file alone.
TEST(Clicks, RecordsToWavOrToMp3AsTheMenuSays) {
    Session s({Device("Bellwave Virtual Device", 256, {Text("Input", "tone")})});
    for (const bool mp3 : {false, true}) {
        if (mp3) s.window->Action(IDM_RECORD_MP3)->trigger();
        s.ClickRecord();
        s.ClickPlay();
        s.RunSegments(8);
        s.ClickStop();
        EXPECT_EQ(std::filesystem::exists(s.Work("Out.mp3")), mp3);
        const std::string take = testing_support::ReadFile(s.Work(mp3 ? "Out.mp3" : "Out.wav"));
        ASSERT_GT(take.size(), 4u * 417);
        EXPECT_TRUE(mp3 ? uint8_t(take[0]) == 0xFF && (uint8_t(take[1]) & 0xFE) == 0xFA  // MPEG-1 Layer III
                        : take.rfind("RIFF", 0) == 0);
    }
}

}  // namespace
