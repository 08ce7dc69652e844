// Level meters, the panel's resizing, and the edges of what may be drawn at all.
#include "panel_test_support.h"

#include <vector>

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
    for (const auto& [left, right, litLeft, litRight] :
         {std::tuple{1023, 1024, 0, 1}, {32767, 5000, 31, 4}, {0, 32768, 0, 32}, {-5, 1 << 30, 0, 32}}) {
        p.panel.SetMeterValues(false, left, right);
        p.panel.DrawMeters();
        EXPECT_EQ(LitLeds(p.screen, kLeftRow), litLeft) << left;
        EXPECT_EQ(LitLeds(p.screen, kRightRow), litRight) << right;
    }
    EXPECT_EQ(p.panel.GetVisualiser().History().Count(), 4);
    p.panel.SetMeterValues(true, 20000, 30000);
    p.panel.DrawMeters();
    EXPECT_EQ(LitLeds(p.screen, kLeftRow) + LitLeds(p.screen, kRightRow), 0);
    EXPECT_EQ(p.panel.GetVisualiser().History().Count(), 0);
}

TEST(StatusPanelLayout, MetersAndTitleFollowAResize) {
    Panel p;
    p.panel.SetMeterValues(false, 8192, 0);  // LEDs 0-7 on the left
    p.panel.DrawMeters();
    ASSERT_TRUE(p.screen.Resize(1000, 400));
    FillRect(p.screen.Image(), Rect{0, 25, 1000, 43}, 0xFF0000);  // for the new band to cover
    p.panel.DrawMeters();
    p.panel.ClearTitle();
    EXPECT_EQ(LitLeds(p.screen, 313, 34, 30), 8);  // LED i from 19 + 30i; left meter rows 303-323
    EXPECT_EQ(Ink(p.screen, Rect{0, 25, 1000, 43}), 0);
    // Titles are centred in the band of the current width; a shorter one replaces a longer.
    p.panel.DrawTitle("A rather long title that reaches far to both sides.mp3");
    p.panel.DrawTitle("x");
    EXPECT_EQ(Ink(p.screen, Rect{0, 25, 480, 43}) + Ink(p.screen, Rect{520, 25, 1000, 43}), 0);
}

// A panel without a window, on one that cannot be drawn on, or on one too small for its
// parts: every call is a no-op, never a crash.
TEST(StatusPanelLayout, NoWindowOrATooSmallOneDrawsNothing) {
    ScreenImage none{0, 0}, tiny{20, 30};
    for (ScreenImage* window : {static_cast<ScreenImage*>(nullptr), &none, &tiny}) {
        StatusPanel panel{window};
        panel.BuildAll();
        panel.SetMeterValues(false, 30000, 30000);
        panel.DrawMeters();
        panel.ShowDropouts(3);
        panel.ShowPosition(44100, 100, 50);
        panel.DrawPositionBar();
        EXPECT_EQ(panel.DrawVolumeBar(3), window == &tiny);
    }
    // No meters, frames or bars fit: below the button and volume strips all is background.
    EXPECT_EQ(Ink(tiny, Rect{0, 24, 20, 30}), 0);
}

// The fill reaches every pixel up to black and to the image's edges, and nothing beyond:
// the row after the image's last (here a guard row of the same memory) stays untouched.
TEST(FloodFill, StopsAtBlackAndAtTheImageEdges) {
    constexpr int kW = 48, kH = 6;
    std::vector<uint32_t> memory((kH + 1) * kW, 0xFF808080u);
    QImage image(reinterpret_cast<uchar*>(memory.data()), kW, kH, kW * 4, QImage::Format_RGB32);
    FillRect(image, Rect{20, 0, 21, kH}, kBlack);  // a wall from top to bottom
    FloodFill(image, 30, 2, 0x00FF00);
    for (int y = 0; y <= kH; ++y)
        for (int x = 0; x < kW; ++x) {
            const uint32_t want = y == kH ? 0xFF808080u : x < 20 ? 0xFF808080u : x == 20 ? 0xFF000000u : 0xFF00FF00u;
            ASSERT_EQ(memory[y * kW + x], want) << x << "," << y;
        }
}
