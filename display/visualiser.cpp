#include "display/visualiser.h"

#include <algorithm>
#include <cmath>
#include <numbers>

void LevelHistory::Push(float value) {
    samples_[writeIndex_] = value;
    writeIndex_ = (writeIndex_ + 1) % kCapacity;
    if (count_ < kCapacity) ++count_;
}

bool LevelHistory::Read(int32_t k, float* value) const {
    if (k > 0 || k <= -count_) return false;
    if (count_ == kCapacity && writeIndex_ != 0) {
        *value = k > -writeIndex_ ? samples_[writeIndex_ + k - 1] : samples_[writeIndex_ + k - 1 + kCapacity];
    } else {
        *value = samples_[count_ + k - 1];
    }
    return true;
}

Visualiser::Visualiser(ScreenImage* window) : window_(window) {
    paletteSize_ = MakePalette(palette_);
}

void Visualiser::PushLevel(float level) {
    history_.Push(level);
    colourStep_ = (colourStep_ + 1) % 1000;
}

void Visualiser::Reset() {
    history_.Clear();
    colourStep_ = 0;
}

uint32_t Visualiser::RainbowColour(int32_t width, int32_t x) const {
    constexpr double kTwoPi = 2.0 * std::numbers::pi;
    // phase + offset lies in [0, 4 pi), where subtracting 2 pi is exact and so gives the
    // same value as fmod, at a fraction of its cost (this runs for every column).
    auto channel = [](double phase) {
        const double wrapped = phase >= kTwoPi ? phase - kTwoPi : phase;
        return static_cast<uint32_t>(std::floor(std::fabs(std::sin(wrapped)) * 255.0));
    };
    const double phase = std::fmod(x * kTwoPi / (2.0 * width) + colourStep_ * kTwoPi / 100.0, kTwoPi);
    return (channel(phase) << 16) | (channel(phase + kTwoPi / 3.0) << 8) | channel(phase + 2.0 * kTwoPi / 3.0);
}

// Row y of the area from column xBegin to xEnd: a bar's pixel where a bar covers the
// row, else background. Branch-free, so the compiler vectorises it.
void Visualiser::ComposeRow(uint32_t* __restrict row, int32_t y, uint32_t background, int32_t xBegin,
                            int32_t xEnd) const {
    const uint32_t* __restrict tops = barTops_.data();
    const uint32_t* __restrict heights = barHeights_.data();
    const uint32_t* __restrict colours = barColours_.data();
    const auto row0 = static_cast<uint32_t>(y);
    for (int32_t x = xBegin; x < xEnd; ++x) {
        const uint32_t inBar = row0 - tops[x] < heights[x];
        const uint32_t mask = 0u - inBar;
        row[x] = (colours[x] & mask) | (background & ~mask);
    }
}

void Visualiser::Draw(const Rect* rect) {
    if (rect == nullptr || window_ == nullptr || !window_->Usable()) return;
    const int32_t width = rect->right - 1 - rect->left;
    const int32_t height = rect->bottom - rect->top;
    if (width <= 0 || height <= 0) return;
    if (static_cast<int32_t>(barHeights_.size()) != width) {
        barTops_.assign(width, 0);
        barHeights_.assign(width, 0);
        barColours_.assign(width, 0);
    }

    // The bar of every column: a pixels from row (H - a) / 2 down, none when a <= 1.
    const int32_t n = history_.Count();
    const int32_t first = n < width ? 1 - n : 1 - width;
    for (int32_t x = 0; x < width; ++x) {
        float v = 0.0f;
        if (!history_.Read(first + x, &v)) v = 0.0f;
        // Levels outside 0..1 (or not a number) would make bars taller than the area.
        if (!(v > 0.0f)) v = 0.0f;
        if (v > 1.0f) v = 1.0f;
        const int32_t a = static_cast<int32_t>(static_cast<float>(height - 4) * v);
        barHeights_[x] = a > 1 ? static_cast<uint32_t>(a) : 0u;
        if (a <= 1) continue;
        barTops_[x] = static_cast<uint32_t>((height - a) / 2);
        if (psychedelic_) {
            barColours_[x] = palette_[paletteIndex_] | kOpaque;
            paletteIndex_ = (paletteIndex_ + 1) % paletteSize_;
        } else {
            barColours_[x] = RainbowColour(width, x) | kOpaque;
        }
    }

    // The screen image is already an off-screen buffer that the widget copies to the
    // screen, so the area is composed straight into it, row by row: black, the middle
    // line, the bars over them. One pass over the pixels, and no striding down columns
    // of a large image.
    QImage& screen = window_->Image();
    const int32_t xBegin = std::max(0, -rect->left);
    const int32_t xEnd = std::min(width, screen.width() - rect->left);
    const int32_t yBegin = std::max(0, -rect->top);
    const int32_t yEnd = std::min(height, screen.height() - rect->top);
    uchar* bits = screen.bits();
    const qsizetype stride = screen.bytesPerLine();
    for (int32_t y = yBegin; y < yEnd; ++y) {
        uint32_t* __restrict row = reinterpret_cast<uint32_t*>(bits + (rect->top + y) * stride) + rect->left;
        ComposeRow(row, y, y == height / 2 ? (kMiddleLine | kOpaque) : kOpaque, xBegin, xEnd);
    }
    window_->MarkChanged(Rect{rect->left, rect->top, rect->left + width, rect->bottom});
}
