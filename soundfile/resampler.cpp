#include "soundfile/resampler.h"

#include <cmath>
#include <cstring>
#include <new>

#include "platform/audio_block.h"

namespace {

constexpr double kScale = 3.0517578125e-05;  // 1 / 32768
constexpr double kPi = 3.14159265359;
// The MP3 window: two MPEG-1 frames, the carried frames and one decoded frame behind them.
constexpr uint32_t kWindowFrames = 2 * kMpeg1FrameSamples;

int16_t Limit(double value) {
    if (value >= 32767.0) return 32767;
    if (value <= -32768.0) return -32768;
    return int16_t(value);  // truncates toward zero
}

// Cubic through y0..y3 at fraction t between y1 and y2 (samples scaled to +-1).
double Cubic(double y0, double y1, double y2, double y3, double t) {
    const double a0 = y3 - y2 - y0 + y1;
    const double a1 = y0 - y1 - a0;
    const double a2 = y2 - y0;
    const double a3 = y1;
    return (((a0 * t + a1) * t + a2) * t + a3) * 32768.0;
}

}  // namespace

Resampler::Resampler(BlockReader& source, uint32_t channels, double rateRatio, double stepRatio)
    : source(source), channels(channels), step(stepRatio), ratio(rateRatio) {}

// A source sample; frames past the last one present repeat it, so no read leaves
// `samples` whatever the positions are.
int32_t Resampler::Sample(int64_t frame, uint32_t channel) const {
    if (frame < 0) frame = 0;
    if (uint64_t(frame) >= filled) frame = int64_t(filled) - 1;
    int16_t value;
    std::memcpy(&value, samples + (uint64_t(frame) * channels + channel) * 2, 2);
    return value;
}

bool Resampler::Reset(uint32_t remaining) {
    const double out = std::floor(double(remaining) * ratio);
    totalOut = out < double(UINT32_MAX) ? uint64_t(out) : UINT32_MAX;
    consumed = produced = index = 0;
    position = 0.0;
    sourceEnded = false;
    uint64_t present = 0;
    if (const uint8_t* unread = source.Unread(present)) {
        // The whole payload is mapped: the window is the source itself.
        samples = unread;
        filled = remaining < present ? remaining : present;
        sourceEnded = true;
        available = filled != 0 ? filled - 1 : 0;
        return true;
    }
    if (window == nullptr) {
        window.reset(new (std::nothrow) int16_t[size_t(channels) * kWindowFrames]);
        if (window == nullptr) return false;
    }
    std::memset(window.get(), 0, size_t(channels) * kWindowFrames * sizeof(int16_t));
    samples = reinterpret_cast<const uint8_t*>(window.get());
    const uint32_t first = source.DecodeNext(window.get());
    const uint32_t second = source.DecodeNext(window.get() + first / 2);
    filled = (first + second) / (2 * channels);
    available = filled > reserve ? filled - reserve : 0;
    return true;
}

// Moves the carried frames to the window's start and decodes the next frame behind
// them. When the frames run out, the carried frames are served to the end.
bool Resampler::Refill() {
    if (sourceEnded) return false;  // also a mapped source, which ends at Reset
    const uint64_t carry = filled - available;
    std::memmove(window.get(), window.get() + available * channels, carry * channels * sizeof(int16_t));
    consumed += available;
    filled = carry;
    const uint32_t bytes = source.DecodeNext(window.get() + carry * channels);
    if (bytes == 0) {
        sourceEnded = true;
        available = filled - 1;
        return true;
    }
    filled += bytes / (2 * channels);
    available = filled - reserve;
    return true;
}

void Resampler::Start(int16_t* out, uint32_t& k, uint32_t blockSamples) {
    for (uint32_t c = 0; c < channels; ++c) out[k + c] = int16_t(Sample(0, c));
    k += channels;
    position = step;
    produced = 1;
    while (std::floor(position) < 2.0 && produced < totalOut && k < blockSamples) {
        const int64_t i = int64_t(std::floor(position));
        const double frac = position - double(i);
        for (uint32_t c = 0; c < channels; ++c) {
            if (frac == 0.0) {
                out[k + c] = int16_t(Sample(i, c));
                continue;
            }
            const double w = (1.0 - std::cos(frac * kPi)) / 2.0;
            const double value =
                (Sample(i, c) * kScale * (1.0 - w) + Sample(i + 1, c) * kScale * w) * 32768.0;
            out[k + c] = channels == 1 ? Limit(std::floor(value)) : Limit(value);
        }
        k += channels;
        position += step;
        ++produced;
    }
}

uint32_t Resampler::ReadBlock(int16_t* out) {
    if (filled == 0 && produced < totalOut) produced = totalOut;  // nothing to read from
    if (produced == totalOut) return 0;
    const uint32_t blockSamples = channels * kBlockFrames;
    if (produced > totalOut) {
        std::memset(out, 0, blockSamples * sizeof(int16_t));
        return 0;
    }
    uint32_t k = 0;
    for (;;) {
        if (produced == 0) {
            Start(out, k, blockSamples);
            if (produced >= totalOut) break;
            if (k == blockSamples) return k / channels;
        }
        const uint64_t i = uint64_t(position);  // floor: the position is never negative
        const double frac = position - double(i);
        index = i - consumed;
        bool ended = false;
        while (index > available) {
            if (!Refill()) {
                ended = true;
                break;
            }
            index = i - consumed;
        }
        if (ended) {
            produced = totalOut;
            break;
        }
        const int64_t f = int64_t(index);
        if (frac == 0.0) {
            for (uint32_t c = 0; c < channels; ++c) out[k + c] = int16_t(Sample(f, c));
        } else if (f >= 1 && uint64_t(f) + 2 < filled) {
            // All four neighbours present: one copy of them, no per-sample bounds.
            int16_t y[4 * 2];
            std::memcpy(y, samples + uint64_t(f - 1) * channels * 2, 4 * channels * 2);
            for (uint32_t c = 0; c < channels; ++c)
                out[k + c] = Limit(Cubic(y[c] * kScale, y[channels + c] * kScale, y[2 * channels + c] * kScale,
                                         y[3 * channels + c] * kScale, frac));
        } else {
            for (uint32_t c = 0; c < channels; ++c)
                out[k + c] = Limit(Cubic(Sample(f - 1, c) * kScale, Sample(f, c) * kScale,
                                         Sample(f + 1, c) * kScale, Sample(f + 2, c) * kScale, frac));
        }
        k += channels;
        position += step;
        ++produced;
        if (k == blockSamples) return k / channels;
        if (produced >= totalOut) break;
    }
    std::memset(out + k, 0, (blockSamples - k) * sizeof(int16_t));
    return k / channels;
}
