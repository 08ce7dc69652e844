#include "display/colours.h"

#include <cmath>
#include <numbers>

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;

uint32_t Channel(double phase) {
    return static_cast<uint32_t>(std::floor(std::fabs(std::sin(std::fmod(phase, kTwoPi))) * 255.0));
}

}  // namespace

uint32_t MakeColour(int index, bool forBrush) {
    double phase = std::fmod(index * kTwoPi / 88.0 + std::numbers::pi / 16.0, kTwoPi);
    uint32_t blue = Channel(phase);
    uint32_t green = Channel(phase + kTwoPi / 3.0);
    uint32_t red = Channel(phase + 2.0 * kTwoPi / 3.0);
    return forBrush ? (blue << 16) | (green << 8) | red : (red << 16) | (green << 8) | blue;
}

int MakePalette(uint32_t (&palette)[kPaletteSize]) {
    static constexpr uint32_t kRising[16] = {0, 1, 2, 4, 8, 16, 32, 64, 128, 192, 224, 240, 248, 252, 254, 255};
    auto rising = [](int i) { return kRising[i]; };
    auto falling = [](int i) { return kRising[15 - i]; };
    auto pixel = [](uint32_t r, uint32_t g, uint32_t b) { return (r << 16) | (g << 8) | b; };
    int n = 0;
    for (int i = 0; i < 16; ++i) palette[n++] = pixel(0, rising(i), 255);    // blue to cyan
    for (int i = 1; i < 16; ++i) palette[n++] = pixel(0, 255, falling(i));   // to green
    for (int i = 1; i < 16; ++i) palette[n++] = pixel(rising(i), 255, 0);    // to yellow
    for (int i = 1; i < 16; ++i) palette[n++] = pixel(255, falling(i), 0);   // to red
    for (int i = 1; i < 16; ++i) palette[n++] = pixel(255, 0, rising(i));    // to magenta
    for (int i = 1; i < 15; ++i) palette[n++] = pixel(falling(i), 0, 255);   // back towards blue
    return n;
}
