// The level history ring, the visualiser's drawing, its rainbow and palette, and the
// colour ramp, read from the screen image.
#include <cmath>
#include <limits>

#include "panel_test_support.h"

namespace {

// A 640 x 90 area (the rectangle's last column is not drawn): middle row 45, bars of
// trunc(86 x level) pixels.
constexpr int kWidth = 640, kHeight = 90;
const Rect kArea{0, 0, kWidth + 1, kHeight};

struct Area {
    ScreenImage screen{kWidth + 1, kHeight};
    Visualiser vis{&screen};
};

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

TEST(LevelHistory, RingKeepsTheNewest4096) {
    LevelHistory h;
    float v = -1;
    EXPECT_FALSE(h.Read(0, &v));
    for (int i = 0; i < 5000; ++i) h.Push(static_cast<float>(i));
    EXPECT_EQ(h.Count(), 4096);
    for (int k : {0, -1, -903, -904, -905, -4095}) {
        ASSERT_TRUE(h.Read(k, &v)) << k;
        EXPECT_EQ(v, static_cast<float>(4999 + k)) << k;
    }
    EXPECT_FALSE(h.Read(-4096, &v) || h.Read(1, &v));
}

TEST(Visualiser, TraceGrowsFromTheLeftThenScrolls) {
    Area a;
    a.vis.Draw(&kArea);
    for (int x = 0; x < kWidth; ++x) ASSERT_EQ(BarHeight(a.screen, x), 0) << x;
    EXPECT_EQ(Px(a.screen, kWidth, 0), kBackground) << "the rectangle's last column is left alone";
    auto heightOf = [](int k) { return k == 1 ? 0 : 2 + (k * 7) % 80; };  // bar of the k-th value
    a.vis.PushLevel(1.99f / (kHeight - 4));  // one pixel: no bar
    for (int k = 2; k <= kWidth; ++k) a.vis.PushLevel(LevelFor(heightOf(k)));
    a.vis.Draw(&kArea);
    for (int k = 1; k <= kWidth; ++k) ASSERT_EQ(BarHeight(a.screen, k - 1), heightOf(k)) << k;
    a.vis.PushLevel(LevelFor(heightOf(641)));
    a.vis.Draw(&kArea);
    for (int x = 0; x < kWidth; ++x) ASSERT_EQ(BarHeight(a.screen, x), heightOf(x + 2)) << x;
    // Levels off the scale stay inside the area; no rectangle draws nothing.
    for (float v : {5.0f, std::numeric_limits<float>::quiet_NaN(), -3.0f, INFINITY}) a.vis.PushLevel(v);
    a.vis.Draw(&kArea);
    EXPECT_EQ(BarHeight(a.screen, 636) + BarHeight(a.screen, 639), 2 * (kHeight - 4));
    EXPECT_EQ(BarHeight(a.screen, 637) + BarHeight(a.screen, 638), 0);
    a.vis.Reset();
    a.vis.Draw(nullptr);
    EXPECT_EQ(BarHeight(a.screen, 639), kHeight - 4);
}

// An area partly off the window is drawn exactly as the same area wholly on it, shifted;
// nothing beyond it changes. Odd and even heights, bars of every height.
TEST(Visualiser, ClippedAreaIsTheWholeOneShifted) {
    for (int height : {90, 91, 5}) {
        SCOPED_TRACE(height);
        const int width = 300;
        ScreenImage whole(width + 1, height), clipped(width, height + 3);
        FillRect(clipped.Image(), clipped.ClientRect(), 0x123456);
        Visualiser full(&whole), part(&clipped);
        for (int k = 0; k < 2 * width; ++k) {
            const float level = static_cast<float>((k * 37) % 101) / 100.0f;
            full.PushLevel(level);
            part.PushLevel(level);
        }
        const Rect area{0, 0, width + 1, height}, shifted{-40, -1, width - 39, height - 1};
        full.Draw(&area);
        part.Draw(&shifted);
        for (int y = 0; y < height + 3; ++y)
            for (int x = 0; x < width; ++x) {
                const uint32_t want = x < width - 40 && y < height - 1 ? Px(whole, x + 40, y + 1) : 0x123456;
                ASSERT_EQ(Px(clipped, x, y), want) << x << "," << y;
            }
    }
}

TEST(Visualiser, PsychedelicBarsTakeSuccessivePaletteEntriesAndTheRainbowDrifts) {
    // The rainbow's colour straight from its definition, every wrap done with fmod.
    auto reference = [](int width, int x, int step) {
        const double twoPi = 2.0 * M_PI;
        const double phase = std::fmod(x * twoPi / (2.0 * width) + step * twoPi / 100.0, twoPi);
        auto channel = [&](double offset) {
            return static_cast<uint32_t>(std::floor(std::fabs(std::sin(std::fmod(phase + offset, twoPi))) * 255.0));
        };
        return (channel(0) << 16) | (channel(twoPi / 3.0) << 8) | channel(2.0 * twoPi / 3.0);
    };
    Area a;
    for (int step = 0; step < 1037; ++step) {  // 1000 steps are ten whole turns
        for (int width : {7, 640, 1888})
            for (int x = 0; x < width; x += step % 7 == 0 ? 1 : width / 5 + 1)  // every column now and then
                ASSERT_EQ(a.vis.RainbowColour(width, x), reference(width, x, step % 1000)) << width << " " << x;
        a.vis.PushLevel(0.5f);
    }
    a.vis.Reset();
    EXPECT_EQ(a.vis.ColourStep(), 0);
    a.vis.SetPsychedelic(true);
    for (int i = 0; i < 50; ++i) a.vis.PushLevel(0.5f);
    for (int pass = 0; pass < 3; ++pass) {  // 150 bars: once round the palette and on
        a.vis.Draw(&kArea);
        for (int x = 0; x < 50; ++x) {
            uint32_t colour = 0;
            ASSERT_EQ(BarHeight(a.screen, x, &colour), 43);
            ASSERT_EQ(colour, a.vis.PaletteEntry(pass * 50 + x)) << pass << "," << x;
        }
    }
    a.vis.Reset();
    EXPECT_EQ(a.vis.PaletteIndex(), 150 % 90) << "a reset keeps the palette position";
}

TEST(Colours, RampAndPalette) {
    for (auto [index, pixel] : {std::pair{19, 0x837BFEu}, {34, 0x80FE7Eu}, {50, 0xFD6895u}})
        EXPECT_EQ(MakeColour(index, false), pixel) << index;
    uint32_t palette[kPaletteSize] = {};
    ASSERT_EQ(MakePalette(palette), 90);
    for (const auto& [entry, pixel] : {std::pair{0, 0x0000FFu}, {16, 0x00FFFEu}, {46, 0xFFFE00u}, {89, 0x0100FFu}})
        EXPECT_EQ(palette[entry], pixel) << entry;
}
