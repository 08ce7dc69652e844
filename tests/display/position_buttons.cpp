// Position text and bar, transport buttons and the volume bar, read from the screen image.
#include <QFontMetrics>
#include <QPainter>

#include "display/colours.h"
#include "display/status_panel.h"
#include "panel_test_support.h"

namespace {

struct Panel {
    ScreenImage screen{680, 256};
    StatusPanel panel{&screen};
    Panel() { panel.BuildAll(); }
};

// The text box as the screen shows it, and as the same text drawn independently.
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
    painter.setPen(Qt::black);
    painter.setBackgroundMode(Qt::OpaqueMode);
    painter.setBackground(QColor(QRgb(kBackground)));
    painter.drawText(QRect(0, 0, box.Width(), box.Height()), Qt::AlignCenter, QString::fromLatin1(text));
    return image;
}

// Filled (strong) columns of the position bar's inside, read on its middle row: the
// count from the left, checking that the rest is empty (light).
int FilledColumns(const ScreenImage& screen) {
    int filled = 0;
    for (int x = 20; x < 659; ++x) {
        uint32_t p = Px(screen, x, 239);
        if (p == kStrong && filled == x - 20) {
            ++filled;
        } else {
            EXPECT_EQ(p, kLight) << "column " << x;
        }
    }
    return filled;
}

}  // namespace

TEST(StatusPanelPosition, TextShowsHoursMinutesSeconds) {
    Panel p;
    EXPECT_STREQ(p.panel.TimeText(), "Position: 00:00:00");
    const Rect& box = p.panel.TimeTextRect();
    EXPECT_EQ(box.Width() % 8, 0);
    EXPECT_EQ(box.Height() % 8, 0);
    EXPECT_GE(box.Width(), QFontMetrics(QGuiApplication::font()).horizontalAdvance("Position: 00:00:00"));
    EXPECT_EQ(ShownTimeText(p), ExpectedTimeText(p, "Position: 00:00:00"));

    p.panel.ShowPosition(44100, 10'000'000, 3'723'000);
    EXPECT_STREQ(p.panel.TimeText(), "Position: 00:01:24");
    EXPECT_EQ(ShownTimeText(p), ExpectedTimeText(p, "Position: 00:01:24"));
    EXPECT_NE(ShownTimeText(p), ExpectedTimeText(p, "Position: 00:00:00"));

    const uint64_t hundredHours = 100ull * 3600 * 44100;
    p.panel.ShowPosition(44100, 2 * hundredHours, hundredHours);
    EXPECT_STREQ(p.panel.TimeText(), "Position: 100:00:00");

    // Past the end wraps: 2500 of 1000 shows the time of 500.
    p.panel.ShowPosition(100, 1000, 2500);
    EXPECT_STREQ(p.panel.TimeText(), "Position: 00:00:05");
    // No rate or no position: zero.
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
    p.panel.ShowPosition(100, 1000, 2500);  // 500 of 1000: trunc(0.5 x 639) = 319
    EXPECT_EQ(FilledColumns(p.screen), 318);
    p.panel.ShowPosition(100, 1000, 750);
    EXPECT_EQ(FilledColumns(p.screen), 478);
    p.panel.ShowPosition(100, 1000, 100);  // backwards: refilled from the start
    EXPECT_EQ(FilledColumns(p.screen), 62);
    p.panel.ShowPosition(100, 1000, 1000);
    EXPECT_EQ(FilledColumns(p.screen), 638);
    EXPECT_EQ(Px(p.screen, 19, 239), kBlack);
    EXPECT_EQ(Px(p.screen, 659, 239), kBlack);

    // A repaint draws the same fraction straight from the stored state.
    p.panel.ShowPosition(100, 1000, 500);
    FillRect(p.screen.Image(), p.panel.PositionBarRect(), 0x00FF00);
    p.panel.DrawPositionBar();
    EXPECT_EQ(FilledColumns(p.screen), 318);

    // Stopped: the bar empties, and stays empty on a later repaint.
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
    EXPECT_STREQ(p.panel.TimeText(), "Position: 00:00:09");
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
    // Frames (shared between neighbours), faces, and the stop square.
    for (int x : {1, 37, 73, 109}) EXPECT_EQ(Px(p.screen, x, 12), kBlack) << x;
    for (int x : {5, 41, 77}) EXPECT_EQ(Px(p.screen, x, 12), kLight) << x;
    EXPECT_EQ(Px(p.screen, 0, 12), kWhite);
    EXPECT_EQ(Px(p.screen, 91, 12), kStrong);
    EXPECT_EQ(Px(p.screen, 83, 12), kBlack);
    EXPECT_EQ(Px(p.screen, 82, 12), kLight);

    struct Case {
        bool playing, paused, armed;
        bool bars;  // pause bars instead of the play triangle
    };
    for (const Case& c : {Case{false, false, false, false}, Case{true, false, false, true},
                          Case{true, true, false, false}, Case{false, false, true, false},
                          Case{true, false, true, true}}) {
        p.panel.DrawButtons(c.playing, c.paused, c.armed);
        SCOPED_TRACE(testing::Message() << c.playing << c.paused << c.armed);
        // (19, 12) lies inside the triangle, between the bars; (22, 7) inside the second
        // bar, above the triangle's slope; (15, 12) inside both.
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
    constexpr uint32_t kMark = 0x00FF00;
    BackBuffer& strip = p.panel.ButtonsBuffer();
    strip.Pixels()[12 * strip.Width() + 5] = kMark | kOpaque;
    FillRect(p.screen.Image(), Rect{0, 0, 110, 24}, 0x123456);
    p.panel.DrawButtons(true, false, false);
    EXPECT_EQ(Px(p.screen, 5, 12), kMark) << "copied, not redrawn";
    EXPECT_EQ(Px(p.screen, 41, 12), kLight) << "the strip was copied over the window";
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
    EXPECT_EQ(p.panel.VolumeRect(), (Rect{570, 0, 680, 24}));
    EXPECT_EQ(p.panel.VolumeSegment(3), (Rect{595, 5, 602, 20}));
    // The gradient runs from blue-violet on the left to red on the right.
    EXPECT_EQ(Px(p.screen, 578, 12), MakeColour(19, false));
    EXPECT_EQ(Px(p.screen, 672, 12), MakeColour(50, false));

    ASSERT_TRUE(p.panel.DrawVolumeBar(3));
    EXPECT_TRUE(marker(3));
    EXPECT_FALSE(marker(15));
    ASSERT_TRUE(p.panel.DrawVolumeBar(10));
    EXPECT_FALSE(marker(3));
    EXPECT_EQ(Px(p.screen, 598, 12), MakeColour(19 + 20 * 32 / 95, false));

    // The same picture as a panel that only ever showed level 10.
    Panel other;
    other.panel.DrawVolumeBar(10);
    EXPECT_EQ(p.screen.Image().copy(570, 0, 110, 24), other.screen.Image().copy(570, 0, 110, 24));

    const QImage before = p.screen.Image().copy();
    EXPECT_FALSE(p.panel.DrawVolumeBar(16));
    EXPECT_FALSE(p.panel.DrawVolumeBar(-1));
    EXPECT_EQ(p.screen.Image(), before);
}
