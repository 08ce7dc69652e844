// The level history drawn as a scrolling row of vertical bars centred on a middle line
// over black, coloured by a drifting rainbow or, in psychedelic mode, by a palette that
// advances with every bar drawn.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "display/back_buffer.h"
#include "display/colours.h"

// A ring of the most recent level values.
class LevelHistory {
public:
    static constexpr int32_t kCapacity = 4096;

    void Push(float value);
    // The value pushed -k pushes before the newest (k <= 0, 0 the newest); false when
    // k > 0 or no such value is held.
    bool Read(int32_t k, float* value) const;
    void Clear() { writeIndex_ = count_ = 0; }
    int32_t Count() const { return count_; }

private:
    std::array<float, kCapacity> samples_{};
    int32_t writeIndex_ = 0;  // where the next value goes
    int32_t count_ = 0;       // values held, at most kCapacity
};

class Visualiser {
public:
    explicit Visualiser(ScreenImage* window);

    // level is normally 0.0 to 1.0; every push also moves the rainbow on by one step.
    void PushLevel(float level);
    // Empties the history and restarts the rainbow; the palette position is kept.
    void Reset();
    // Redraws the area (its right column excluded) from the history, straight into the
    // window's screen image. Nothing without a rectangle or a usable window.
    void Draw(const Rect* rect);

    // Rainbow pixel of column x in an area width columns wide, at the current step.
    uint32_t RainbowColour(int32_t width, int32_t x) const;

    bool Psychedelic() const { return psychedelic_; }
    void SetPsychedelic(bool on) { psychedelic_ = on; }
    int32_t ColourStep() const { return colourStep_; }
    int32_t PaletteIndex() const { return paletteIndex_; }
    uint32_t PaletteEntry(int32_t i) const { return palette_[static_cast<uint32_t>(i) % kPaletteSize]; }
    const LevelHistory& History() const { return history_; }

private:
    void ComposeRow(uint32_t* row, int32_t y, uint32_t background, int32_t xBegin, int32_t xEnd) const;

    uint32_t palette_[kPaletteSize];
    LevelHistory history_;
    // Per column of the last drawing: bar top row, height (0 for none) and pixel.
    std::vector<uint32_t> barTops_, barHeights_, barColours_;
    // Lists of the columns whose bar starts, or ends, at a row: the head by row, the
    // next by column, -1 at the end.
    std::vector<int32_t> startHead_, endHead_, startNext_, endNext_;
    ScreenImage* window_;
    int32_t colourStep_ = 0;  // 0..999, one step per pushed value
    int32_t paletteSize_ = 0;
    int32_t paletteIndex_ = 0;  // the next palette colour
    bool psychedelic_ = false;
};
