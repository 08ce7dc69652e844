// Position text and bar, transport buttons and the volume bar, read from the screen image.
#include <QFontMetrics>
#include <QPainter>

#include "panel_test_support.h"

namespace {

// The panel's image of box, and the text drawn independently into a box of its size.
QImage Shown(const Panel& p, const Rect& r) { return p.screen.Image().copy(r.left, r.top, r.Width(), r.Height()); }
QImage Expected(const Rect& box, const char* text, int flags) {
    QImage image(box.Width(), box.Height(), QImage::Format_RGB32);
    image.fill(kBackground | kOpaque);
    QPainter painter(&image);
    painter.setFont(QGuiApplication::font());
    painter.drawText(QRect(0, 0, box.Width(), box.Height()), flags, QString::fromLatin1(text));
    return image;
}
Rect TimeBox(const Panel& p) {
    const Rect& box = p.panel.TimeTextRect();
    return Rect{(680 - box.Width()) / 2, 0, (680 + box.Width()) / 2, box.Height()};  // centred at the top
}

// Strong columns of the position bar's inside from the left (row 239), then light to its end.
int FilledColumns(const ScreenImage& screen) {
    int filled = 0;
    while (filled < 639 && Px(screen, 20 + filled, 239) == kStrong) ++filled;
    EXPECT_TRUE(filled == 639 || Px(screen, 658, 239) == kLight);
    return filled;
}

}  // namespace

TEST(StatusPanelPosition, TextShowsHoursMinutesSecondsAndDropouts) {
    Panel p;
    constexpr uint64_t kHundredHours = 100ull * 3600 * 44100;
    const struct { uint32_t rate; uint64_t total, position; const char* text; } cases[] = {
        {0, 0, 0, "Position: 00:00:00"},
        {44100, 10'000'000, 3'723'000, "Position: 00:01:24"},
        {44100, 2 * kHundredHours, kHundredHours, "Position: 100:00:00"},  // the box widens
        {100, 1000, 2500, "Position: 00:00:05"},                           // past the end wraps
        {0, 1000, 500, "Position: 00:00:00"}};
    for (const auto& c : cases) {
        p.panel.ShowPosition(c.rate, c.total, c.position);
        EXPECT_STREQ(p.panel.TimeText(), c.text);
        EXPECT_GE(p.panel.TimeTextRect().Width(), QFontMetrics(QGuiApplication::font()).horizontalAdvance(c.text));
        EXPECT_EQ(Shown(p, TimeBox(p)), Expected(p.panel.TimeTextRect(), c.text, Qt::AlignCenter)) << c.text;
    }
    // No count while there are none; once there are, beside the text, which keeps it on redrawing.
    const Rect beside{TimeBox(p).right, 0, 570, TimeBox(p).bottom};
    p.panel.ShowDropouts(0);
    EXPECT_EQ(Ink(p.screen, beside), 0);
    p.panel.ShowDropouts(3);
    p.panel.ShowPosition(44100, 10'000'000, 3'723'000);
    const Rect& box = p.panel.DropoutsRect();
    EXPECT_GT(box.left, beside.left);
    EXPECT_EQ(Shown(p, box), Expected(box, "Dropouts: 3", Qt::AlignLeft | Qt::AlignVCenter));
}

// The bar shows the fraction played, backwards too; armed, the text moves on, the bar stays.
TEST(StatusPanelPosition, BarPaintsTheFractionPlayedButNotWhileArmed) {
    Panel p;
    EXPECT_EQ(FilledColumns(p.screen), 0);
    for (const auto& [position, columns] : {std::pair{2500, 318}, {750, 478}, {100, 62}, {1000, 638}, {500, 318}}) {
        p.panel.ShowPosition(100, 1000, position);
        EXPECT_EQ(FilledColumns(p.screen), columns) << position;
    }
    p.panel.DrawButtons(false, false, true);
    p.panel.ShowPosition(100, 1000, 900);
    EXPECT_STREQ(p.panel.TimeText(), "Position: 00:00:09");
    EXPECT_EQ(FilledColumns(p.screen), 318);
    p.panel.DrawButtons(false, false, false);
    p.panel.ShowPosition(100, 1000, 900);
    EXPECT_EQ(FilledColumns(p.screen), 574);
}

// Play shows a triangle (strong at the centre row, 18 from the left), or pause bars (a light
// gap there) while playing; Record turns red when armed. The volume marker moves without a
// trace, and only to a level.
TEST(StatusPanelButtons, GlyphsFollowTheStateAndTheVolumeMarkerItsLevel) {
    Panel p, other;
    const Rect &play = p.panel.PlayRect(), &record = p.panel.RecordRect();
    const int row = (play.top + play.bottom) / 2;
    for (const auto& [playing, paused, armed] : {std::tuple{false, false, false}, {true, false, false},
                                                {true, true, false}, {false, false, true}, {true, false, true}}) {
        p.panel.DrawButtons(playing, paused, armed);
        EXPECT_EQ(Px(p.screen, play.left + 18, row), playing && !paused ? kLight : kStrong) << playing << paused;
        EXPECT_EQ(Px(p.screen, (record.left + record.right) / 2, row), armed ? kRecordColour : kStrong) << armed;
    }
    ASSERT_TRUE(p.panel.DrawVolumeBar(3));
    const QImage atThree = Shown(p, p.panel.VolumeRect());
    ASSERT_TRUE(p.panel.DrawVolumeBar(10));
    other.panel.DrawVolumeBar(10);  // the same picture as a panel that went straight to 10
    EXPECT_EQ(Shown(p, p.panel.VolumeRect()), Shown(other, other.panel.VolumeRect()));
    EXPECT_NE(Shown(p, p.panel.VolumeRect()), atThree);
    const QImage before = p.screen.Image().copy();
    EXPECT_FALSE(p.panel.DrawVolumeBar(16) || p.panel.DrawVolumeBar(-1));
    EXPECT_EQ(p.screen.Image(), before);
}
