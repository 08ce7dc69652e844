// Position text and bar, transport buttons and the volume bar, read from the screen image.
#include <QFontMetrics>
#include <QPainter>

#include "panel_test_support.h"

namespace {

// The image of text drawn independently into box, as the panel should show it.
QImage Expected(const Rect& box, const char* text, int flags) {
    QImage image(box.Width(), box.Height(), QImage::Format_RGB32);
    image.fill(kBackground | kOpaque);
    QPainter painter(&image);
    painter.setFont(QGuiApplication::font());
    painter.drawText(QRect(0, 0, box.Width(), box.Height()), flags, QString::fromLatin1(text));
    return image;
}

// The position text as the screen shows it, centred at the top.
QImage ShownTimeText(const Panel& p) {
    const Rect& box = p.panel.TimeTextRect();
    return p.screen.Image().copy((680 - box.Width()) / 2, 0, box.Width(), box.Height());
}

// Strong columns of the position bar's inside from the left (row 239); the rest is light.
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
    constexpr uint64_t kHundredHours = 100ull * 3600 * 44100;
    const struct {
        uint32_t rate;
        uint64_t total, position;
        const char* text;
    } cases[] = {{0, 0, 0, "Position: 00:00:00"},
                 {44100, 10'000'000, 3'723'000, "Position: 00:01:24"},
                 {44100, 2 * kHundredHours, kHundredHours, "Position: 100:00:00"},  // the box widens
                 {100, 1000, 2500, "Position: 00:00:05"},                           // past the end wraps
                 {0, 1000, 500, "Position: 00:00:00"}};
    for (const auto& c : cases) {
        p.panel.ShowPosition(c.rate, c.total, c.position);
        EXPECT_STREQ(p.panel.TimeText(), c.text);
        EXPECT_GE(p.panel.TimeTextRect().Width(), QFontMetrics(QGuiApplication::font()).horizontalAdvance(c.text));
        EXPECT_EQ(ShownTimeText(p), Expected(p.panel.TimeTextRect(), c.text, Qt::AlignCenter)) << c.text;
    }
}

TEST(StatusPanelPosition, DropoutsShowBesideTheTextOnceThereAreAny) {
    Panel p;
    const Rect& time = p.panel.TimeTextRect();
    const Rect beside{(680 + time.Width()) / 2, 0, 570, time.Height()};
    p.panel.ShowDropouts(0);
    EXPECT_EQ(Ink(p.screen, beside), 0);
    p.panel.ShowDropouts(3);
    p.panel.ShowPosition(44100, 10'000'000, 3'723'000);  // redraws the text and keeps the count
    const Rect& box = p.panel.DropoutsRect();
    EXPECT_GT(box.left, beside.left);
    EXPECT_EQ(p.screen.Image().copy(box.left, box.top, box.Width(), box.Height()),
              Expected(box, "Dropouts: 3", Qt::AlignLeft | Qt::AlignVCenter));
    EXPECT_EQ(ShownTimeText(p), Expected(time, "Position: 00:01:24", Qt::AlignCenter));
}

TEST(StatusPanelPosition, BarPaintsTheFractionPlayedButNotWhileArmed) {
    Panel p;
    EXPECT_EQ(FilledColumns(p.screen), 0);
    // Of 1000 frames: columns up to trunc(fraction x 639) - 1; going backwards refills.
    for (const auto& [position, columns] : {std::pair{2500, 318}, {750, 478}, {100, 62}, {1000, 638}}) {
        p.panel.ShowPosition(100, 1000, position);
        EXPECT_EQ(FilledColumns(p.screen), columns) << position;
    }
    p.panel.ShowPosition(100, 1000, 500);
    // Armed for recording the text moves on, the bar stays.
    p.panel.DrawButtons(false, false, true);
    p.panel.ShowPosition(100, 1000, 900);
    EXPECT_EQ(ShownTimeText(p), Expected(p.panel.TimeTextRect(), "Position: 00:00:09", Qt::AlignCenter));
    EXPECT_EQ(FilledColumns(p.screen), 318);
    p.panel.DrawButtons(false, false, false);
    p.panel.ShowPosition(100, 1000, 900);
    EXPECT_EQ(FilledColumns(p.screen), 574);
}

TEST(StatusPanelButtons, GlyphsFollowTheState) {
    Panel p;
    // (19, 12) lies inside the triangle, between the pause bars; (22, 7) inside the second
    // bar, above the triangle's slope; (15, 12) inside both; (44, 12) outside the circle.
    const struct {
        bool playing, paused, armed, bars;
    } cases[] = {{false, false, false, false}, {true, false, false, true}, {true, true, false, false},
                 {false, false, true, false}, {true, false, true, true}};
    for (const auto& c : cases) {
        p.panel.DrawButtons(c.playing, c.paused, c.armed);
        SCOPED_TRACE(testing::Message() << c.playing << c.paused << c.armed);
        ExpectSpots(p.screen, {{19, 12, c.bars ? kLight : kStrong}, {22, 7, c.bars ? kStrong : kLight},
                               {15, 12, kStrong}, {29, 12, kLight}, {55, 12, c.armed ? kRecordColour : kStrong},
                               {44, 12, kLight}, {91, 12, kStrong}});
    }
}

TEST(StatusPanelVolume, MarkerMovesWithoutATrace) {
    Panel p;
    ExpectSpots(p.screen, {{578, 12, MakeColour(19, false)}, {672, 12, MakeColour(50, false)}});
    ASSERT_TRUE(p.panel.DrawVolumeBar(3));
    ASSERT_TRUE(p.panel.DrawVolumeBar(10));
    Panel other;  // the same picture as a panel that went straight to level 10: no trace of 3
    other.panel.DrawVolumeBar(10);
    EXPECT_EQ(p.screen.Image().copy(570, 0, 110, 24), other.screen.Image().copy(570, 0, 110, 24));
    // The strip spans 570-680; segment i is (577 + 6i, 5, 584 + 6i, 20), marker at its centre.
    ExpectSpots(p.screen, {{640, 12, kBlack}, {639, 12, kBlack}, {641, 12, kBlack}, {640, 11, kBlack}});
    const QImage before = p.screen.Image().copy();
    EXPECT_FALSE(p.panel.DrawVolumeBar(16));
    EXPECT_FALSE(p.panel.DrawVolumeBar(-1));
    EXPECT_EQ(p.screen.Image(), before);
}
