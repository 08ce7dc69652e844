#include "display/visualiser.h"

#include <algorithm>
#include <cmath>
#include <cstring>
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

namespace {

constexpr double kPi = std::numbers::pi;

// floor(|sin(phase)| x 255) exactly as std::sin gives it, for phase in [0, 2 pi). A
// Taylor polynomial, within 1e-11 of the sine on [0, pi / 2], decides unless the
// product lies within 1e-6 of a whole number; there std::sin itself does.
inline uint32_t SineByte(double phase) {
    static constexpr double kTerms[7] = {-1.0 / 1307674368000.0, 1.0 / 6227020800.0, -1.0 / 39916800.0,
                                         1.0 / 362880.0, -1.0 / 5040.0, 1.0 / 120.0, -1.0 / 6.0};
    double u = phase >= kPi ? phase - kPi : phase;  // |sin| repeats every pi
    u = u > kPi / 2 ? kPi - u : u;
    const double u2 = u * u;
    double p = kTerms[0];
#pragma GCC unroll 7
    for (int k = 1; k < 7; ++k) p = p * u2 + kTerms[k];
    const double v = u * (p * u2 + 1.0) * 255.0;
    const double whole = static_cast<double>(static_cast<int32_t>(v));  // v >= 0
    if (v - whole > 1e-6 && v - whole < 1.0 - 1e-6) return static_cast<uint32_t>(whole);
    return static_cast<uint32_t>(std::floor(std::fabs(std::sin(phase)) * 255.0));
}

}  // namespace

uint32_t Visualiser::RainbowColour(int32_t width, int32_t x) const {
    constexpr double kTwoPi = 2.0 * kPi;
    // phase + offset lies in [0, 4 pi), where subtracting 2 pi is exact and so gives the
    // same value as fmod, at a fraction of its cost (this runs for every column).
    auto channel = [](double phase) { return SineByte(phase >= kTwoPi ? phase - kTwoPi : phase); };
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
    // line, the bars over them. Bars are centred, so above the middle line a row holds
    // the bars of the row below it less those that start there, and below it the bars of
    // the row above less those that end there: after one row is composed, each next row
    // is a copy of its neighbour with those few columns turned black.
    QImage& screen = window_->Image();
    const int32_t xBegin = std::max(0, -rect->left);
    const int32_t xEnd = std::min(width, screen.width() - rect->left);
    const int32_t yBegin = std::max(0, -rect->top);
    const int32_t yEnd = std::min(height, screen.height() - rect->top);
    if (xBegin < xEnd && yBegin < yEnd) {
        const int32_t middle = height / 2;
        // Columns by the row their bar starts at and the row it ends before, as lists.
        startHead_.assign(height + 1, -1);
        endHead_.assign(height + 1, -1);
        startNext_.resize(width);
        endNext_.resize(width);
        for (int32_t x = xBegin; x < xEnd; ++x) {
            if (barHeights_[x] == 0) continue;
            const uint32_t top = barTops_[x], end = top + barHeights_[x];
            startNext_[x] = startHead_[top];
            startHead_[top] = x;
            endNext_[x] = endHead_[end];
            endHead_[end] = x;
        }
        uchar* bits = screen.bits();
        const qsizetype stride = screen.bytesPerLine();
        auto row = [&](int32_t y) { return reinterpret_cast<uint32_t*>(bits + (rect->top + y) * stride) + rect->left; };
        const size_t rowBytes = static_cast<size_t>(xEnd - xBegin) * 4;
        // Upwards from the middle line.
        const int32_t upperLast = std::min(middle, yEnd) - 1;
        for (int32_t y = upperLast; y >= yBegin; --y) {
            uint32_t* r = row(y);
            if (y == upperLast) {
                ComposeRow(r, y, kOpaque, xBegin, xEnd);
                continue;
            }
            std::memcpy(r + xBegin, row(y + 1) + xBegin, rowBytes);
            for (int32_t x = startHead_[y + 1]; x >= 0; x = startNext_[x]) r[x] = kOpaque;
        }
        // The middle line and downwards.
        for (int32_t y = std::max(middle, yBegin); y < yEnd; ++y) {
            uint32_t* r = row(y);
            if (y == middle || y == middle + 1 || y == yBegin) {
                ComposeRow(r, y, y == middle ? (kMiddleLine | kOpaque) : kOpaque, xBegin, xEnd);
                continue;
            }
            std::memcpy(r + xBegin, row(y - 1) + xBegin, rowBytes);
            for (int32_t x = endHead_[y]; x >= 0; x = endNext_[x]) r[x] = kOpaque;
        }
    }
    window_->MarkChanged(Rect{rect->left, rect->top, rect->left + width, rect->bottom});
}
