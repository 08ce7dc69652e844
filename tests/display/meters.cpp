// Level meters, layout and resizing of the status panel, read from the screen image.
#include "panel_test_support.h"

namespace {

// At 680 x 256 LED i spans columns 19 + 20i to 39 + 20i; meter rows 159-179 and 201-221.
constexpr int kLeftRow = 169, kRightRow = 211;

// Lit LEDs of one meter; fails on any colour but lit or white.
int LitLeds(const ScreenImage& screen, int row, int x0 = 29, int cell = 20) {
    int lit = 0;
    for (int i = 0; i < 32; ++i) {
        const uint32_t p = Px(screen, x0 + cell * i, row);
        lit += p == MakeColour(19 + i, false);
        EXPECT_TRUE(p == MakeColour(19 + i, false) || p == kWhite) << "LED " << i;
    }
    return lit;
}

}  // namespace

TEST(StatusPanelMeters, LedsStandFor1024StepsAndResetClearsThem) {
    Panel p;
    EXPECT_EQ(LitLeds(p.screen, kLeftRow), 32) << "the first drawing shows every LED lit";
    EXPECT_GT(Ink(p.screen, Rect{19, 183, 660, 201}), 20) << "the decibel labels between the meters";
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
    EXPECT_EQ(p.panel.GetVisualiser().History().Count(), 4);
    p.panel.SetMeterValues(true, 20000, 30000);
    p.panel.DrawMeters();
    EXPECT_EQ(LitLeds(p.screen, kLeftRow) + LitLeds(p.screen, kRightRow), 0);
    EXPECT_EQ(p.panel.GetVisualiser().History().Count(), 0);
}

TEST(StatusPanelMeters, OnlyChangedLedsAreRedrawn) {
    Panel p;
    p.panel.SetMeterValues(false, 4096, 4096);  // LEDs 0-3
    p.panel.DrawMeters();
    // Marks in the composed meters: LED 2 stays lit, LED 10 stays dark, LED 5 lights up.
    BackBuffer& meters = p.panel.MetersBuffer();
    for (int i : {2, 5, 10}) {
        const Rect& led = p.panel.LeftLed(i);
        meters.Pixels()[(led.top + 3) * meters.Width() + led.left + 3] = 0xFF00FF00u;
    }
    p.panel.SetMeterValues(false, 6144, 4096);  // LEDs 0-5
    p.panel.DrawMeters();
    ExpectSpots(p.screen, {{62, 162, 0x00FF00}, {222, 162, 0x00FF00}, {122, 162, MakeColour(24, false)}});
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
    // LED i from 19 + 30i; left meter rows 303-323.
    EXPECT_EQ(LitLeds(p.screen, 313, 34, 30), 8);
    EXPECT_EQ(Ink(p.screen, Rect{0, 25, 1000, 43}), 0);
    // The volume strip keeps to the right edge (890-1000), marker on segment 7's centre.
    ExpectSpots(p.screen, {{889, 12, kBackground}, {895, 12, kLight}, {942, 11, kBlack},
                           {943, 11, MakeColour(19 + (943 - 890 - 8) * 32 / 95, false)}});
    // Titles are centred in the band of the current width; a shorter one replaces a longer.
    p.panel.DrawTitle("A rather long title that reaches far to both sides.mp3");
    p.panel.DrawTitle("x");
    EXPECT_EQ(Ink(p.screen, Rect{0, 25, 480, 43}) + Ink(p.screen, Rect{520, 25, 1000, 43}), 0);
    EXPECT_GT(Ink(p.screen, Rect{480, 25, 520, 43}), 0);
    ASSERT_TRUE(p.screen.Resize(900, 400));  // the repaint after a resize draws no band first
    p.panel.DrawTitle("x");
    EXPECT_EQ(Ink(p.screen, Rect{0, 25, 430, 43}) + Ink(p.screen, Rect{470, 25, 900, 43}), 0);
    EXPECT_GT(Ink(p.screen, Rect{430, 25, 470, 43}), 0);
}

TEST(StatusPanelLayout, TooSmallOrUnusableWindowDrawsNothing) {
    ScreenImage none{0, 0}, tiny{20, 30};
    StatusPanel unusable{&none}, small{&tiny};
    unusable.BuildAll();
    unusable.ShowPosition(44100, 100, 50);
    EXPECT_FALSE(unusable.DrawVolumeBar(3));
    small.BuildAll();
    small.SetMeterValues(false, 30000, 30000);
    small.DrawMeters();
    small.GetVisualiser().Draw(&small.VisualiserRect());
    small.DrawPositionBar();
    // No meters, frames or bars fit: below the button and volume strips all is background.
    EXPECT_EQ(Ink(tiny, Rect{0, 24, 20, 30}), 0);
}
