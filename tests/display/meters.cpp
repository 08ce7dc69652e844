// Level meters, layout and resizing of the status panel, read from the screen image.
#include "display/colours.h"
#include "display/status_panel.h"
#include "panel_test_support.h"

namespace {

// At a client area of 680 x 256: LED i spans columns 19 + 20i to 39 + 20i (its frame
// shares a column with the next LED), the left meter rows 159-179, the right 201-221.
constexpr int kLeftRow = 169;
constexpr int kRightRow = 211;
int LedCentre(int i) { return 29 + 20 * i; }

struct Panel {
    ScreenImage screen{680, 256};
    StatusPanel panel{&screen};
    Panel() { panel.BuildAll(); }
};

// Lit LEDs of one meter as read from the screen; fails on any other colour.
int LitLeds(const ScreenImage& screen, int row) {
    int lit = 0;
    for (int i = 0; i < 32; ++i) {
        uint32_t p = Px(screen, LedCentre(i), row);
        if (p == MakeColour(19 + i, false)) {
            ++lit;
        } else {
            EXPECT_EQ(p, kWhite) << "LED " << i;
        }
    }
    return lit;
}

}  // namespace

TEST(StatusPanelMeters, LedsStandFor1024StepsEach) {
    Panel p;
    EXPECT_EQ(LitLeds(p.screen, kLeftRow), 32) << "the first drawing shows every LED lit";
    EXPECT_EQ(LitLeds(p.screen, kRightRow), 32);

    p.panel.SetMeterValues(false, 1023, 1024);
    p.panel.DrawMeters();
    EXPECT_EQ(LitLeds(p.screen, kLeftRow), 0);
    EXPECT_EQ(LitLeds(p.screen, kRightRow), 1);
    EXPECT_EQ(Px(p.screen, LedCentre(0), kRightRow), MakeColour(19, false));

    p.panel.SetMeterValues(false, 32767, 5000);
    p.panel.DrawMeters();
    EXPECT_EQ(LitLeds(p.screen, kLeftRow), 31);
    EXPECT_EQ(Px(p.screen, LedCentre(31), kLeftRow), kWhite);
    EXPECT_EQ(LitLeds(p.screen, kRightRow), 4);

    p.panel.SetMeterValues(false, 0, 32768);
    p.panel.DrawMeters();
    EXPECT_EQ(LitLeds(p.screen, kLeftRow), 0);
    EXPECT_EQ(LitLeds(p.screen, kRightRow), 32);

    // Values outside 0..32767 are harmless.
    p.panel.SetMeterValues(false, -5, 1 << 30);
    p.panel.DrawMeters();
    EXPECT_EQ(LitLeds(p.screen, kLeftRow), 0);
    EXPECT_EQ(LitLeds(p.screen, kRightRow), 32);
}

TEST(StatusPanelMeters, OnlyChangedLedsAreRedrawn) {
    Panel p;
    p.panel.SetMeterValues(false, 4096, 4096);  // LEDs 0-3
    p.panel.DrawMeters();
    // Marks inside the composed meters: LED 2 stays lit, LED 10 stays dark, LED 5 lights up.
    BackBuffer& meters = p.panel.MetersBuffer();
    constexpr uint32_t kMark = 0x00FF00;
    for (int i : {2, 5, 10}) {
        const Rect& led = p.panel.LeftLed(i);
        meters.Pixels()[(led.top + 3) * meters.Width() + led.left + 3] = kMark | kOpaque;
    }
    p.panel.SetMeterValues(false, 6144, 4096);  // LEDs 0-5
    p.panel.DrawMeters();
    const Rect& area = p.panel.MeterArea();
    auto markShown = [&](int i) {
        const Rect& led = p.panel.LeftLed(i);
        return Px(p.screen, area.left + led.left + 3, area.top + led.top + 3) == kMark;
    };
    EXPECT_TRUE(markShown(2));
    EXPECT_TRUE(markShown(10));
    EXPECT_FALSE(markShown(5));
    EXPECT_EQ(Px(p.screen, LedCentre(5), kLeftRow), MakeColour(24, false));
}

TEST(StatusPanelMeters, ResetClearsMetersAndEmptiesHistory) {
    Panel p;
    for (int i = 0; i < 50; ++i) p.panel.SetMeterValues(false, 20000, 30000);
    p.panel.DrawMeters();
    EXPECT_EQ(p.panel.GetVisualiser().History().Count(), 50);

    p.panel.SetMeterValues(true, 20000, 30000);
    p.panel.DrawMeters();
    p.panel.GetVisualiser().Draw(&p.panel.VisualiserRect());
    EXPECT_EQ(LitLeds(p.screen, kLeftRow), 0);
    EXPECT_EQ(LitLeds(p.screen, kRightRow), 0);
    EXPECT_EQ(p.panel.GetVisualiser().History().Count(), 0);
    const Rect& v = p.panel.VisualiserRect();
    for (int y = v.top; y < v.bottom; ++y) {
        for (int x = v.left; x < v.right - 1; ++x) {
            uint32_t expected = y - v.top == v.Height() / 2 ? kMiddleLine : kBlack;
            ASSERT_EQ(Px(p.screen, x, y), expected) << x << "," << y;
        }
    }
}

TEST(StatusPanelLayout, At680Wide) {
    Panel p;
    EXPECT_EQ(p.panel.MeterArea(), (Rect{19, 159, 660, 222}));
    EXPECT_EQ(p.panel.VisualiserRect(), (Rect{19, 48, 660, 138}));
    EXPECT_EQ(p.panel.PositionBarRect(), (Rect{19, 235, 660, 243}));
    for (int i = 0; i < 32; ++i) {
        // Window columns of LED i: frame at 19 + 20i and 39 + 20i, lit inside.
        EXPECT_EQ(Px(p.screen, 19 + 20 * i, kLeftRow), kBlack) << i;
        EXPECT_EQ(Px(p.screen, 20 + 20 * i, kLeftRow), MakeColour(19 + i, false)) << i;
        EXPECT_EQ(Px(p.screen, 38 + 20 * i, kRightRow), MakeColour(19 + i, false)) << i;
        EXPECT_EQ(Px(p.screen, 39 + 20 * i, kRightRow), kBlack) << i;
        EXPECT_EQ(p.panel.MeterArea().left + p.panel.LeftLed(i).left, 19 + 20 * i);
        EXPECT_EQ(p.panel.MeterArea().left + p.panel.LeftLed(i).right, 40 + 20 * i);
    }
    EXPECT_EQ(Px(p.screen, 18, kLeftRow), kBackground);
    EXPECT_EQ(Px(p.screen, 660, kLeftRow), kBackground);
    // The band between the meters, and the position bar from 19 to 660.
    EXPECT_EQ(Px(p.screen, 300, 185), kBackground);
    EXPECT_EQ(Px(p.screen, 18, 239), kBackground);
    EXPECT_EQ(Px(p.screen, 19, 239), kBlack);
    EXPECT_EQ(Px(p.screen, 20, 239), kLight);
    EXPECT_EQ(Px(p.screen, 658, 239), kLight);
    EXPECT_EQ(Px(p.screen, 659, 239), kBlack);
    EXPECT_EQ(Px(p.screen, 660, 239), kBackground);
    // The labels are written in black into the band above the right meter.
    int dark = 0;
    for (int y = 183; y < 201; ++y)
        for (int x = 19; x < 660; ++x) dark += Px(p.screen, x, y) != kBackground;
    EXPECT_GT(dark, 20);
}

TEST(StatusPanelLayout, MetersTitleAndVolumeFollowAResize) {
    Panel p;
    p.panel.SetMeterValues(false, 8192, 0);  // LEDs 0-7 on the left
    p.panel.DrawMeters();
    p.panel.DrawVolumeBar(7);

    ASSERT_TRUE(p.screen.Resize(1000, 400));
    // Something left in the title band that the rebuilt band must cover.
    FillRect(p.screen.Image(), Rect{0, 25, 1000, 43}, 0xFF0000);
    p.panel.DrawMeters();
    p.panel.ClearTitle();
    p.panel.DrawVolumeBar(7);

    // cell 31, x0 19: LED i from 19 + 30i; left meter rows 303-323.
    EXPECT_EQ(p.panel.MeterArea(), (Rect{19, 303, 980, 366}));
    for (int i = 0; i < 32; ++i) {
        EXPECT_EQ(Px(p.screen, 19 + 30 * i, 313), kBlack) << i;
        EXPECT_EQ(Px(p.screen, 34 + 30 * i, 313), i < 8 ? MakeColour(19 + i, false) : kWhite) << i;
    }
    for (int x = 0; x < 1000; ++x) ASSERT_EQ(Px(p.screen, x, 30), kBackground) << x;

    // The volume strip now spans 890-1000; the marker sits on segment 7's centre.
    EXPECT_EQ(p.panel.VolumeRect(), (Rect{890, 0, 1000, 24}));
    EXPECT_EQ(p.panel.VolumeSegment(7), (Rect{939, 5, 946, 20}));
    EXPECT_EQ(Px(p.screen, 895, 12), kLight);
    EXPECT_EQ(Px(p.screen, 942, 12), kBlack);
    EXPECT_EQ(Px(p.screen, 942, 11), kBlack);
    EXPECT_EQ(Px(p.screen, 943, 12), kBlack);
    EXPECT_EQ(Px(p.screen, 943, 11), MakeColour(19 + (943 - 890 - 8) * 32 / 95, false));
}

TEST(StatusPanelLayout, TooSmallOrUnusableWindowDrawsNothing) {
    ScreenImage none{0, 0};
    StatusPanel panel{&none};
    panel.BuildAll();
    panel.SetMeterValues(false, 100, 100);
    panel.DrawMeters();
    panel.ShowPosition(44100, 100, 50);
    EXPECT_FALSE(panel.DrawVolumeBar(3));

    ScreenImage tiny{20, 30};
    StatusPanel small{&tiny};
    small.BuildAll();
    small.SetMeterValues(false, 30000, 30000);
    small.DrawMeters();
    small.GetVisualiser().Draw(&small.VisualiserRect());
    small.DrawPositionBar();
    // No meters, frames or bars fit: below the button and volume strips all is background.
    for (int y = 24; y < 30; ++y)
        for (int x = 0; x < 20; ++x) ASSERT_EQ(Px(tiny, x, y), kBackground) << x << "," << y;
}
