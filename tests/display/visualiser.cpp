// The visualiser's trace: its bars, scrolling and colours, read from the screen image.
#include <cmath>
#include <limits>

#include "panel_test_support.h"

namespace {

// A 640 x 90 area (the rectangle's last column is not drawn): middle row 45, bars of
// trunc(86 x level) pixels.
constexpr int kWidth = 640, kHeight = 90;
const Rect kArea{0, 0, kWidth + 1, kHeight};

float LevelFor(int barHeight) { return (static_cast<float>(barHeight) + 0.5f) / (kHeight - 4); }

// Height of the bar in column x, checking that it is centred and that the rest of the
// column is black with the middle line; colour gets the bar's top pixel.
int BarHeight(const ScreenImage& screen, int x, uint32_t* colour = nullptr) {
    int top = -1, height = 0;
    for (int y = 0; y < kHeight; ++y) {
        const uint32_t p = Px(screen, x, y);
        if (p == kBlack || (y == kHeight / 2 && p == kMiddleLine)) continue;
        if (top < 0 && colour) *colour = p;
        top = top < 0 ? y : top;
        ++height;
    }
    EXPECT_TRUE(height > 0 ? top == (kHeight - height) / 2 : Px(screen, x, kHeight / 2) == kMiddleLine) << x;
    return height;
}

}  // namespace

// The trace grows from the left, then scrolls; levels off the scale stay inside the area;
// bars take the rainbow's colour of their column.
TEST(Visualiser, TraceGrowsFromTheLeftThenScrolls) {
    ScreenImage screen{kWidth + 1, kHeight};
    Visualiser vis{&screen};
    vis.Draw(&kArea);
    for (int x = 0; x < kWidth; ++x) ASSERT_EQ(BarHeight(screen, x), 0) << x;
    EXPECT_EQ(Px(screen, kWidth, 0), kBackground) << "the rectangle's last column is left alone";
    auto heightOf = [](int k) { return k == 1 ? 0 : 2 + (k * 7) % 80; };  // bar of the k-th value
    vis.PushLevel(1.99f / (kHeight - 4));  // one pixel: no bar
    for (int k = 2; k <= kWidth; ++k) vis.PushLevel(LevelFor(heightOf(k)));
    vis.Draw(&kArea);
    for (int k = 1; k <= kWidth; ++k) ASSERT_EQ(BarHeight(screen, k - 1), heightOf(k)) << k;
    vis.PushLevel(LevelFor(heightOf(641)));
    vis.Draw(&kArea);
    uint32_t colour = 0;
    for (int x = 0; x < kWidth; ++x) {
        ASSERT_EQ(BarHeight(screen, x, &colour), heightOf(x + 2)) << x;
        ASSERT_EQ(colour, vis.RainbowColour(kWidth, x)) << x;
    }
    for (float v : {5.0f, std::numeric_limits<float>::quiet_NaN(), -3.0f, INFINITY}) vis.PushLevel(v);
    vis.Draw(&kArea);
    EXPECT_EQ(BarHeight(screen, 636) + BarHeight(screen, 639), 2 * (kHeight - 4));
    EXPECT_EQ(BarHeight(screen, 637) + BarHeight(screen, 638), 0);
}
