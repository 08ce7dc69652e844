// Position text and bar, transport buttons and the volume bar, read from the screen image.
#include <QFontMetrics>
#include <QPainter>

#include "panel_test_support.h"

namespace {

// The text box as the screen shows it, and the same text drawn independently.
QImage ShownTimeText(const Panel& p) {
    const Rect& box = p.panel.TimeTextRect();
    return p.screen.Image().copy((680 - box.Width()) / 2, 0, box.Width(), box.Height());
}
QImage ExpectedTimeText(const Panel& p, const char* text) {
    const Rect& box = p.panel.TimeTextRect();
    QImage image(box.Width(), box.Height(), QImage::Format_RGB32);
    image.fill(kBackground | kOpaque);
    QPainter painter(&image);
    painter.setFont(QGuiApplication::font());
    painter.drawText(QRect(0, 0, box.Width(), box.Height()), Qt::AlignCenter, QString::fromLatin1(text));
    return image;
}

// Strong columns of the position bar's inside from the left (row 239), checking that the
// rest is light.
int FilledColumns(const ScreenImage& screen) {
    int filled = 0;
    for (int x = 20; x < 659; ++x) {
        const bool strong = Px(screen, x, 239) == kStrong && filled == x - 20;
        filled += strong;
        EXPECT_TRUE(strong || Px(screen, x, 239) == kLight) << "column " << x;
    }
    return filled;
}

}  // namespace

TEST(StatusPanelPosition, TextShowsHoursMinutesSeconds) {
    Panel p;
    const Rect& box = p.panel.TimeTextRect();
    EXPECT_EQ(box.Width() % 8 + box.Height() % 8, 0);
    EXPECT_GE(box.Width(), QFontMetrics(QGuiApplication::font()).horizontalAdvance("Position: 00:00:00"));
    EXPECT_EQ(ShownTimeText(p), ExpectedTimeText(p, "Position: 00:00:00"));

    p.panel.ShowPosition(44100, 10'000'000, 3'723'000);
    EXPECT_STREQ(p.panel.TimeText(), "Position: 00:01:24");
    EXPECT_EQ(ShownTimeText(p), ExpectedTimeText(p, "Position: 00:01:24"));
    const uint64_t hundredHours = 100ull * 3600 * 44100;
    p.panel.ShowPosition(44100, 2 * hundredHours, hundredHours);
    EXPECT_STREQ(p.panel.TimeText(), "Position: 100:00:00");
    // The box widens for the longer text rather than cut its ends off.
    EXPECT_GE(box.Width(), QFontMetrics(QGuiApplication::font()).horizontalAdvance("Position: 100:00:00"));
    EXPECT_EQ(ShownTimeText(p), ExpectedTimeText(p, "Position: 100:00:00"));
    p.panel.ShowPosition(100, 1000, 2500);  // past the end wraps: the time of 500
    EXPECT_STREQ(p.panel.TimeText(), "Position: 00:00:05");
    p.panel.ShowPosition(0, 1000, 500);
    EXPECT_STREQ(p.panel.TimeText(), "Position: 00:00:00");

    char text[40];
    FormatPosition(text, sizeof text, 1, UINT64_MAX);
    EXPECT_STREQ(text, "Position: 5124095576030431:00:15");
    FormatPosition(text, sizeof text, 48000, 48000ull * 3599);
    EXPECT_STREQ(text, "Position: 00:59:59");
}

TEST(StatusPanelPosition, BarPaintsTheFractionPlayed) {
    Panel p;
    EXPECT_EQ(FilledColumns(p.screen), 0);
    // Position of 1000 -> columns up to trunc(fraction x 639) - 1; backwards refills.
    const std::pair<uint64_t, int> steps[] = {{2500, 318}, {750, 478}, {100, 62}, {1000, 638}};
    for (const auto& [position, columns] : steps) {
        p.panel.ShowPosition(100, 1000, position);
        EXPECT_EQ(FilledColumns(p.screen), columns) << position;
    }
    // A repaint draws the fraction from the stored state; after a stop it stays empty.
    p.panel.ShowPosition(100, 1000, 500);
    FillRect(p.screen.Image(), p.panel.PositionBarRect(), 0x00FF00);
    p.panel.DrawPositionBar();
    EXPECT_EQ(FilledColumns(p.screen), 318);
    EXPECT_EQ(Px(p.screen, 19, 239), kBlack);
    p.panel.ShowPosition(0, 0, 0);
    EXPECT_EQ(FilledColumns(p.screen), 0);
    p.panel.DrawPositionBar();
    EXPECT_EQ(FilledColumns(p.screen), 0);
}

TEST(StatusPanelPosition, RecordArmedMovesTheTextButNotTheBar) {
    Panel p;
    p.panel.ShowPosition(100, 1000, 200);
    const QImage bar = p.screen.Image().copy(19, 235, 641, 8);
    p.panel.DrawButtons(false, false, true);
    p.panel.ShowPosition(100, 1000, 900);
    EXPECT_EQ(ShownTimeText(p), ExpectedTimeText(p, "Position: 00:00:09"));
    EXPECT_EQ(p.screen.Image().copy(19, 235, 641, 8), bar);
    p.panel.DrawButtons(false, false, false);
    p.panel.ShowPosition(100, 1000, 900);
    EXPECT_EQ(FilledColumns(p.screen), 574);
}

TEST(StatusPanelButtons, GlyphsFollowTheState) {
    Panel p;
    EXPECT_EQ(p.panel.PlayRect(), (Rect{1, 1, 38, 24}));
    EXPECT_EQ(p.panel.RecordRect(), (Rect{37, 1, 74, 24}));
    EXPECT_EQ(p.panel.StopRect(), (Rect{73, 1, 110, 24}));
    // Shared frames, faces, the stop square and its outline.
    for (int x : {1, 37, 73, 109, 83}) EXPECT_EQ(Px(p.screen, x, 12), kBlack) << x;
    for (int x : {5, 41, 77, 82}) EXPECT_EQ(Px(p.screen, x, 12), kLight) << x;
    EXPECT_EQ(Px(p.screen, 0, 12), kWhite);

    // (19, 12) lies inside the triangle, between the pause bars; (22, 7) inside the
    // second bar, above the triangle's slope; (15, 12) inside both.
    const struct {
        bool playing, paused, armed, bars;
    } cases[] = {{false, false, false, false}, {true, false, false, true}, {true, true, false, false},
                 {false, false, true, false},  {true, false, true, true}};
    for (const auto& c : cases) {
        p.panel.DrawButtons(c.playing, c.paused, c.armed);
        SCOPED_TRACE(testing::Message() << c.playing << c.paused << c.armed);
        EXPECT_EQ(Px(p.screen, 19, 12), c.bars ? kLight : kStrong);
        EXPECT_EQ(Px(p.screen, 22, 7), c.bars ? kStrong : kLight);
        EXPECT_EQ(Px(p.screen, 15, 12), kStrong);
        EXPECT_EQ(Px(p.screen, 29, 12), kLight);
        EXPECT_EQ(Px(p.screen, 55, 12), c.armed ? kRecordColour : kStrong);
        EXPECT_EQ(Px(p.screen, 44, 12), kLight) << "outside the circle";
        EXPECT_EQ(Px(p.screen, 91, 12), kStrong);
    }
}

TEST(StatusPanelButtons, SameStateOnlyCopiesTheStrip) {
    Panel p;
    p.panel.DrawButtons(true, false, false);
    BackBuffer& strip = p.panel.ButtonsBuffer();
    strip.Pixels()[12 * strip.Width() + 5] = 0xFF00FF00u;
    FillRect(p.screen.Image(), Rect{0, 0, 110, 24}, 0x123456);
    p.panel.DrawButtons(true, false, false);
    EXPECT_EQ(Px(p.screen, 5, 12), 0x00FF00u) << "copied, not redrawn";
    EXPECT_EQ(Px(p.screen, 41, 12), kLight);
    p.panel.DrawButtons(true, true, false);
    EXPECT_EQ(Px(p.screen, 5, 12), kLight) << "redrawn on a change";
}

TEST(StatusPanelVolume, MarkerMovesWithoutATrace) {
    Panel p;
    // The strip spans 570-680; segment i is (577 + 6i, 5, 584 + 6i, 20), marker at its centre.
    auto marker = [&](int level) {
        const int x = 570 + (21 + 12 * level) / 2;
        return Px(p.screen, x, 12) == kBlack && Px(p.screen, x - 1, 12) == kBlack &&
               Px(p.screen, x + 1, 12) == kBlack && Px(p.screen, x, 11) == kBlack && Px(p.screen, x, 13) == kBlack;
    };
    EXPECT_TRUE(marker(15)) << "built with the marker on the loudest step";
    EXPECT_EQ(p.panel.VolumeSegment(3), (Rect{595, 5, 602, 20}));
    EXPECT_EQ(Px(p.screen, 578, 12), MakeColour(19, false));  // blue-violet to red
    EXPECT_EQ(Px(p.screen, 672, 12), MakeColour(50, false));
    ASSERT_TRUE(p.panel.DrawVolumeBar(3));
    EXPECT_TRUE(marker(3));
    EXPECT_FALSE(marker(15));
    ASSERT_TRUE(p.panel.DrawVolumeBar(10));
    EXPECT_FALSE(marker(3));
    // The same picture as a panel that only ever showed level 10.
    Panel other;
    other.panel.DrawVolumeBar(10);
    EXPECT_EQ(p.screen.Image().copy(570, 0, 110, 24), other.screen.Image().copy(570, 0, 110, 24));
    const QImage before = p.screen.Image().copy();
    EXPECT_FALSE(p.panel.DrawVolumeBar(16));
    EXPECT_FALSE(p.panel.DrawVolumeBar(-1));
    EXPECT_EQ(p.screen.Image(), before);
}
