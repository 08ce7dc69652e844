#include "display/visualiser.h"

#include <cmath>
#include <algorithm>
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
    auto channel = [](double phase) {
        return static_cast<uint32_t>(std::floor(std::fabs(std::sin(std::fmod(phase, kTwoPi))) * 255.0));
    };
    double phase = std::fmod(x * kTwoPi / (2.0 * width) + colourStep_ * kTwoPi / 100.0, kTwoPi);
    return (channel(phase) << 16) | (channel(phase + kTwoPi / 3.0) << 8) | channel(phase + 2.0 * kTwoPi / 3.0);
}

void Visualiser::Draw(const Rect* rect) {
    if (rect == nullptr || window_ == nullptr || !window_->Usable()) return;
    const int32_t width = rect->right - 1 - rect->left;
    const int32_t height = rect->bottom - rect->top;
    if (width <= 0 || height <= 0) return;
    if (image_.Valid() && image_.Width() == width && image_.Height() == height) {
        std::fill_n(image_.Pixels(), image_.ByteSize() / 4, kOpaque);  // black
    } else if (!image_.Create(Rect{rect->left, rect->top, rect->right - 1, rect->bottom}, false)) {
        return;
    }
    image_.FillRow(height / 2, width);

    const int32_t n = history_.Count();
    if (n > 0) {
        const int32_t first = n < width ? 1 - n : 1 - width;
        for (int32_t x = 0; x < width; ++x) {
            float v = 0.0f;
            if (!history_.Read(first + x, &v)) v = 0.0f;
            // Levels outside 0..1 (or not a number) would make bars taller than the area.
            if (!(v > 0.0f)) v = 0.0f;
            if (v > 1.0f) v = 1.0f;
            const int32_t a = static_cast<int32_t>(static_cast<float>(height - 4) * v);
            if (a <= 1) continue;
            uint32_t colour;
            if (psychedelic_) {
                colour = palette_[paletteIndex_];
                paletteIndex_ = (paletteIndex_ + 1) % paletteSize_;
            } else {
                colour = RainbowColour(width, x);
            }
            image_.VerticalLine(x, (height - a) / 2, a, colour);
        }
    }
    image_.CopyTo(*window_, *rect);
}
