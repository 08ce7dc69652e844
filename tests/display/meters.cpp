// Level meters, layout and resizing of the status panel, read from the screen image.
#include "panel_test_support.h"

namespace {

// At 680 x 256: LED i spans columns 19 + 20i to 39 + 20i (its frame shares a column with
// the next LED), the left meter rows 159-179, the right 201-221.
constexpr int kLeftRow = 169, kRightRow = 211;

// Lit LEDs of one meter as the screen shows them; fails on any colour but lit or white.
int LitLeds(const ScreenImage& screen, int row) {
    int lit = 0;
    for (int i = 0; i < 32; ++i) {
        uint32_t p = Px(screen, 29 + 20 * i, row);
        lit += p == MakeColour(19 + i, false);
        EXPECT_TRUE(p == MakeColour(19 + i, false) || p == kWhite) << "LED " << i;
    }
    return lit;
}

}  // namespace

TEST(StatusPanelMeters, LedsStandFor1024StepsEach) {
    Panel p;
    EXPECT_EQ(LitLeds(p.screen, kLeftRow), 32) << "the first drawing shows every LED lit";
    const struct {
        int32_t left, right;
        int litLeft, litRight;
    } cases[] = {{1023, 1024, 0, 1}, {32767, 5000, 31, 4}, {0, 32768, 0, 32}, {-5, 1 << 30, 0, 32}};
    for (const auto& c : cases) {
        p.panel.SetMeterValues(false, c.left, c.right);
        p.panel.DrawMeters();
        EXPECT_EQ(LitLeds(p.screen, kLeftRow), c.litLeft) << c.left;
        EXPECT_EQ(LitLeds(p.screen, kRightRow), c.litRight) << c.right;
    }
}

TEST(StatusPanelMeters, OnlyChangedLedsAreRedrawn) {
    Panel p;
    p.panel.SetMeterValues(false, 4096, 4096);  // LEDs 0-3
    p.panel.DrawMeters();
    // Marks inside the composed meters: LED 2 stays lit, LED 10 stays dark, LED 5 lights up.
    BackBuffer& meters = p.panel.MetersBuffer();
    for (int i : {2, 5, 10}) {
        const Rect& led = p.panel.LeftLed(i);
        meters.Pixels()[(led.top + 3) * meters.Width() + led.left + 3] = 0xFF00FF00u;
    }
    p.panel.SetMeterValues(false, 6144, 4096);  // LEDs 0-5
    p.panel.DrawMeters();
    EXPECT_EQ(Px(p.screen, 22 + 20 * 2, 162), 0x00FF00u);
    EXPECT_EQ(Px(p.screen, 22 + 20 * 10, 162), 0x00FF00u);
    EXPECT_EQ(Px(p.screen, 22 + 20 * 5, 162), MakeColour(24, false));
}

TEST(StatusPanelMeters, ResetClearsMetersAndEmptiesHistory) {
    Panel p;
    for (int i = 0; i < 50; ++i) p.panel.SetMeterValues(false, 20000, 30000);
    EXPECT_EQ(p.panel.GetVisualiser().History().Count(), 50);
    p.panel.SetMeterValues(true, 20000, 30000);
    p.panel.DrawMeters();
    p.panel.GetVisualiser().Draw(&p.panel.VisualiserRect());
    EXPECT_EQ(LitLeds(p.screen, kLeftRow), 0);
    EXPECT_EQ(LitLeds(p.screen, kRightRow), 0);
    EXPECT_EQ(p.panel.GetVisualiser().History().Count(), 0);
    for (int y = 48; y < 138; ++y)
        for (int x = 19; x < 659; ++x) ASSERT_EQ(Px(p.screen, x, y), y == 93 ? kMiddleLine : kBlack) << x << "," << y;
}

TEST(StatusPanelLayout, At680Wide) {
    Panel p;
    EXPECT_EQ(p.panel.MeterArea(), (Rect{19, 159, 660, 222}));
    EXPECT_EQ(p.panel.VisualiserRect(), (Rect{19, 48, 660, 138}));
    EXPECT_EQ(p.panel.PositionBarRect(), (Rect{19, 235, 660, 243}));
    for (int i = 0; i < 32; ++i) {
        EXPECT_EQ(p.panel.MeterArea().left + p.panel.LeftLed(i).left, 19 + 20 * i);
        EXPECT_EQ(p.panel.MeterArea().left + p.panel.RightLed(i).right, 40 + 20 * i);
        EXPECT_EQ(Px(p.screen, 19 + 20 * i, kLeftRow), kBlack) << i;
        EXPECT_EQ(Px(p.screen, 20 + 20 * i, kLeftRow), MakeColour(19 + i, false)) << i;
        EXPECT_EQ(Px(p.screen, 38 + 20 * i, kRightRow), MakeColour(19 + i, false)) << i;
        EXPECT_EQ(Px(p.screen, 39 + 20 * i, kRightRow), kBlack) << i;
    }
    // Outside the meters, the band between them, and the position bar from 19 to 660.
    const struct {
        int x, y;
        uint32_t pixel;
    } spots[] = {{18, kLeftRow, kBackground}, {660, kLeftRow, kBackground}, {300, 185, kBackground},
                 {18, 239, kBackground},      {19, 239, kBlack},           {20, 239, kLight},
                 {658, 239, kLight},          {659, 239, kBlack},          {660, 239, kBackground}};
    for (const auto& s : spots) EXPECT_EQ(Px(p.screen, s.x, s.y), s.pixel) << s.x << "," << s.y;
    // The labels are written into the band above the right meter.
    int dark = 0;
    for (int y = 183; y < 201; ++y)
        for (int x = 19; x < 660; ++x) dark += Px(p.screen, x, y) != kBackground;
    EXPECT_GT(dark, 20);
}

TEST(StatusPanelLayout, MetersTitleAndVolumeFollowAResize) {
    Panel p;
    p.panel.SetMeterValues(false, 8192, 0);  // LEDs 0-7 on the left
    p.panel.DrawMeters();
    ASSERT_TRUE(p.screen.Resize(1000, 400));
    FillRect(p.screen.Image(), Rect{0, 25, 1000, 43}, 0xFF0000);  // for the new band to cover
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
    // The volume strip keeps to the right edge: 890-1000, marker on segment 7's centre.
    EXPECT_EQ(p.panel.VolumeRect(), (Rect{890, 0, 1000, 24}));
    EXPECT_EQ(p.panel.VolumeSegment(7), (Rect{939, 5, 946, 20}));
    EXPECT_EQ(Px(p.screen, 895, 12), kLight);
    EXPECT_EQ(Px(p.screen, 942, 12), kBlack);
    EXPECT_EQ(Px(p.screen, 942, 11), kBlack);
    EXPECT_EQ(Px(p.screen, 943, 11), MakeColour(19 + (943 - 890 - 8) * 32 / 95, false));
    // Titles are centred in the band of the new width; a shorter one replaces a longer.
    auto inked = [&](int from, int to) {
        int n = 0;
        for (int y = 25; y < 43; ++y)
            for (int x = from; x < to; ++x) n += Px(p.screen, x, y) != kBackground;
        return n;
    };
    p.panel.DrawTitle("A rather long title that reaches far to both sides.mp3");
    EXPECT_GT(inked(300, 400), 0);
    p.panel.DrawTitle("x");
    EXPECT_EQ(inked(0, 480) + inked(520, 1000), 0);
    EXPECT_GT(inked(480, 520), 0);
    ASSERT_TRUE(p.screen.Resize(900, 400));  // the repaint after a resize draws no band first
    p.panel.DrawTitle("x");
    EXPECT_EQ(inked(0, 430) + inked(470, 900), 0);
    EXPECT_GT(inked(430, 470), 0);
}

TEST(StatusPanelLayout, TooSmallOrUnusableWindowDrawsNothing) {
    ScreenImage none{0, 0};
    StatusPanel panel{&none};
    panel.BuildAll();
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
