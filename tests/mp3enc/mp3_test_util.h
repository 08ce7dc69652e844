// Helpers of the encoder tests: test signals, encoding through the entry points, reading
// our frames and their side information back, and decoding them with LAME's hip decoder.
#pragma once

#include <lame/lame.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "mp3enc/mp3enc.h"

namespace mp3test {

using Pcm = std::vector<int16_t>;  // interleaved stereo
using Bytes = std::vector<uint8_t>;
constexpr int kDelay = 1057;  // sample frames between our input and hip's output

// Both channels from f(frame, channel) in units of full scale, clipped.
template <typename F>
Pcm Make(int frames, F f) {
    Pcm pcm(2 * static_cast<size_t>(frames));
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < 2; ++c)
            pcm[2 * i + c] = static_cast<int16_t>(std::lrint(std::clamp(32767.0 * f(i, c), -32768.0, 32767.0)));
    return pcm;
}
inline Pcm Sine(int frames, double hz, int rate, double level) {
    return Make(frames, [=](int i, int c) { return level * std::sin(2 * M_PI * hz * i / rate + 0.5 * c); });
}
// Logarithmic sweep from f0 to f1 Hz, the same on both channels.
inline Pcm Sweep(int frames, double f0, double f1, int rate, double level) {
    const double k = std::log(f1 / f0) / frames;
    return Make(frames, [=](int i, int) { return level * std::sin(2 * M_PI * f0 / rate * std::expm1(k * i) / k); });
}
inline Pcm Noise(int frames, double level, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    return Make(frames, [&](int, int) { return level * dist(gen); });
}
// Decaying notes with an overtone over a bass line, with a little hiss: something like music.
inline Pcm MusicLike(int frames, int rate, unsigned seed) {
    std::mt19937 gen(seed);
    std::normal_distribution<double> hiss(0.0, 0.01);
    return Make(frames, [&](int i, int c) {
        const double t = static_cast<double>(i) / rate, f = 220.0 * (1 + i / (rate / 4) % 5 * 0.125) * (1 + 0.5 * c);
        return 0.25 * std::sin(2 * M_PI * 65.4 * t) + hiss(gen) + 0.3 * std::exp(-12.0 * (i % (rate / 4)) / rate) *
               (std::sin(2 * M_PI * f * t) + 0.3 * std::sin(4 * M_PI * f * t));
    });
}

// Everything written to f so far; f stays open for writing at its end.
inline Bytes ReadBack(std::FILE* f) {
    std::fflush(f);
    std::fseek(f, 0, SEEK_END);
    Bytes bytes(static_cast<size_t>(std::ftell(f)));
    std::rewind(f);
    if (std::fread(bytes.data(), 1, bytes.size(), f) != bytes.size()) bytes.clear();
    std::fseek(f, 0, SEEK_END);
    return bytes;
}

// A whole recording through the entry points in blocks of blockFrames (the last one padded with silence).
inline Bytes EncodeWithEntryPoints(const Pcm& pcm, int rate, int blockFrames = 4608) {
    std::FILE* f = std::tmpfile();
    if (InitMp3Encoder(rate, f)) {
        Pcm block(2 * static_cast<size_t>(blockFrames));
        for (size_t start = 0; start < pcm.size(); start += block.size()) {
            for (size_t i = 0; i < block.size(); ++i) block[i] = start + i < pcm.size() ? pcm[start + i] : 0;
            EncodeMp3(block.data(), blockFrames);
        }
        CloseMp3Encoder();
    }
    const Bytes bytes = ReadBack(f);
    std::fclose(f);
    return bytes;
}

// Side information of a two-channel frame: per block (granule-major) its fields in stream order.
enum Field { kPart23, kBigValues, kGlobalGain, kScfCompress, kWindowSwitching, kTable0, kTable1, kTable2,
             kRegion0, kRegion1, kPreflag, kScfScale, kCount1Table, kFields };
struct Side { uint32_t mainDataBegin, privateAndScfsi, block[4][kFields]; };
inline Side ParseSide(const uint8_t* frame) {
    static const int kWidths[kFields] = {12, 9, 8, 4, 1, 5, 5, 5, 4, 3, 1, 1, 1};
    size_t pos = 32;
    auto get = [&](int n) {
        uint32_t v = 0;
        for (; n > 0; --n, ++pos) v = v << 1 | ((frame[pos >> 3] >> (7 - (pos & 7))) & 1u);
        return v;
    };
    Side s;
    s.mainDataBegin = get(9);
    s.privateAndScfsi = get(11);
    for (auto& b : s.block)
        for (int k = 0; k < kFields; ++k) b[k] = get(kWidths[k]);
    return s;
}

struct Frame { size_t offset; int bytes; };
struct Decoded {
    bool parsed = true;  // the stream is nothing but 128 kbit/s Layer III frames without CRC
    std::vector<Frame> frames;
    Pcm pcm;             // interleaved stereo
    int errors = 0;      // frames hip refused plus the errors it reported
};

// Splits the stream at its headers and feeds every frame in order to a fresh hip decoder.
inline Decoded Decode(const Bytes& s) {
    static const int kRates[3] = {44100, 48000, 32000};
    Decoded d;
    for (size_t pos = 0; pos < s.size();) {
        const uint8_t* h = s.data() + pos;
        d.parsed = pos + 4 <= s.size() && h[0] == 0xFF && h[1] == 0xFB && h[2] >> 4 == 9 && (h[2] >> 2 & 3) != 3;
        const int bytes = d.parsed ? 144000 * 128 / kRates[h[2] >> 2 & 3] + (h[2] >> 1 & 1) : 0;
        d.parsed = d.parsed && pos + bytes <= s.size();
        if (!d.parsed) break;
        d.frames.push_back({pos, bytes});
        pos += static_cast<size_t>(bytes);
    }
    static int reported;
    reported = 0;
    hip_t hip = hip_decode_init();
    hip_set_errorf(hip, [](const char*, va_list) { ++reported; });
    short left[2304], right[2304];
    Bytes copy(s);
    auto take = [&](int n) {
        d.errors += n < 0;
        for (int i = 0; i < n; ++i) d.pcm.insert(d.pcm.end(), {left[i], right[i]});
        return n > 0;
    };
    for (const Frame& f : d.frames)
        take(hip_decode1(hip, copy.data() + f.offset, static_cast<size_t>(f.bytes), left, right));
    while (take(hip_decode1(hip, nullptr, 0, left, right))) {}  // the frame it held back
    hip_decode_exit(hip);
    d.errors += reported;
    return d;
}

// SNR in dB of one channel of decoded (kDelay frames late) against reference over frames [from, to).
inline double SnrDb(const Pcm& reference, const Pcm& decoded, int channel, int from, int to) {
    double signal = 0.0, noise = 0.0;
    for (int i = from; i < to; ++i) {
        const size_t j = 2 * static_cast<size_t>(i + kDelay) + channel;
        const double ref = reference[2 * i + channel], err = ref - (j < decoded.size() ? decoded[j] : 0);
        signal += ref * ref;
        noise += err * err;
    }
    return noise == 0.0 ? 200.0 : 10.0 * std::log10(signal / noise);
}

}  // namespace mp3test
