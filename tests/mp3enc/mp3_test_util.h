// Helpers of the encoder tests: test signals, encoding into memory, walking and reading
// the frames we write, and decoding them with LAME's hip decoder.
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

inline int16_t Clip(double v) {
    if (v > 32767.0) return 32767;
    if (v < -32768.0) return -32768;
    return static_cast<int16_t>(std::lrint(v));
}

// Sine of amplitude `level` (1.0 = full scale) on both channels; right one phase-shifted.
inline Pcm Sine(int frames, double hz, int rate, double level) {
    Pcm pcm(2 * static_cast<size_t>(frames));
    for (int i = 0; i < frames; ++i) {
        const double w = 2 * M_PI * hz * i / rate;
        pcm[2 * i] = Clip(32767.0 * level * std::sin(w));
        pcm[2 * i + 1] = Clip(32767.0 * level * std::sin(w + 0.5));
    }
    return pcm;
}

// Logarithmic sweep from f0 to f1 Hz.
inline Pcm Sweep(int frames, double f0, double f1, int rate, double level) {
    Pcm pcm(2 * static_cast<size_t>(frames));
    double phase = 0.0;
    for (int i = 0; i < frames; ++i) {
        const double f = f0 * std::pow(f1 / f0, static_cast<double>(i) / frames);
        phase += 2 * M_PI * f / rate;
        pcm[2 * i] = pcm[2 * i + 1] = Clip(32767.0 * level * std::sin(phase));
    }
    return pcm;
}

inline Pcm Noise(int frames, double level, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    Pcm pcm(2 * static_cast<size_t>(frames));
    for (int16_t& s : pcm) s = Clip(32767.0 * level * dist(gen));
    return pcm;
}

// Chords with a decaying envelope, a bass line and a little noise: something like music.
inline Pcm MusicLike(int frames, int rate, unsigned seed) {
    std::mt19937 gen(seed);
    std::normal_distribution<double> hiss(0.0, 0.01);
    Pcm pcm(2 * static_cast<size_t>(frames));
    const double notes[4][3] = {{261.6, 329.6, 392.0}, {220.0, 261.6, 329.6}, {174.6, 220.0, 261.6}, {196.0, 246.9, 293.7}};
    const int beat = rate / 4;
    for (int i = 0; i < frames; ++i) {
        const int chord = (i / (4 * beat)) % 4;
        const double t = static_cast<double>(i) / rate;
        const double env = std::exp(-3.0 * (i % beat) / static_cast<double>(beat));
        double l = 0.25 * std::sin(2 * M_PI * notes[chord][0] / 2 * t);
        double r = l;
        for (int n = 0; n < 3; ++n) {
            const double tone = env * 0.15 * (std::sin(2 * M_PI * notes[chord][n] * t) +
                                              0.3 * std::sin(4 * M_PI * notes[chord][n] * t));
            l += tone * (n == 2 ? 0.5 : 1.0);
            r += tone * (n == 0 ? 0.5 : 1.0);
        }
        pcm[2 * i] = Clip(32767.0 * (l + hiss(gen)));
        pcm[2 * i + 1] = Clip(32767.0 * (r + hiss(gen)));
    }
    return pcm;
}

// Everything written to f so far; f stays open for writing at its end.
inline std::vector<uint8_t> ReadBack(std::FILE* f) {
    std::fflush(f);
    std::fseek(f, 0, SEEK_END);
    std::vector<uint8_t> bytes(static_cast<size_t>(std::max(0L, std::ftell(f))));
    std::rewind(f);
    if (!bytes.empty() && std::fread(bytes.data(), 1, bytes.size(), f) != bytes.size()) bytes.clear();
    std::fseek(f, 0, SEEK_END);  // ready for more writing
    return bytes;
}

// Runs a whole recording through the entry points in blocks of `blockFrames` sample
// frames (whole multiples of 1152) and returns the bytes written.
inline std::vector<uint8_t> EncodeWithEntryPoints(const Pcm& pcm, int rate, int blockFrames = 4608) {
    std::FILE* f = std::tmpfile();
    if (!f) return {};
    if (InitMp3Encoder(rate, f)) {
        const int frames = static_cast<int>(pcm.size() / 2);
        Pcm block(2 * static_cast<size_t>(blockFrames));
        for (int start = 0; start < frames; start += blockFrames) {
            for (int i = 0; i < 2 * blockFrames; ++i) block[i] = 2 * start + i < 2 * frames ? pcm[2 * start + i] : 0;
            EncodeMp3(block.data(), blockFrames);
        }
        CloseMp3Encoder();
    }
    std::vector<uint8_t> bytes = ReadBack(f);
    std::fclose(f);
    return bytes;
}

struct Frame {
    size_t offset;
    int bytes;
    int padding;
};

// Splits our stream into frames by their headers: 128 kbit/s MPEG-1 Layer III without
// CRC. Stops (ok = false) at anything else.
inline std::vector<Frame> SplitFrames(const std::vector<uint8_t>& s, bool* ok) {
    static const int kRates[3] = {44100, 48000, 32000};
    std::vector<Frame> frames;
    *ok = true;
    size_t pos = 0;
    while (pos < s.size()) {
        if (pos + 4 > s.size() || s[pos] != 0xFF || s[pos + 1] != 0xFB || (s[pos + 2] >> 4) != 9 ||
            ((s[pos + 2] >> 2) & 3) == 3) {
            *ok = false;
            break;
        }
        const int padding = (s[pos + 2] >> 1) & 1;
        const int bytes = 144000 * 128 / kRates[(s[pos + 2] >> 2) & 3] + padding;
        if (pos + static_cast<size_t>(bytes) > s.size()) {
            *ok = false;
            break;
        }
        frames.push_back({pos, bytes, padding});
        pos += static_cast<size_t>(bytes);
    }
    return frames;
}

class BitReader {
public:
    BitReader(const uint8_t* data, size_t bytes) : data_(data), bits_(bytes * 8) {}
    uint32_t Get(int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i, ++pos_)
            v = (v << 1) | (pos_ < bits_ ? (data_[pos_ >> 3] >> (7 - (pos_ & 7))) & 1u : 0u);
        return v;
    }
    size_t Position() const { return pos_; }

private:
    const uint8_t* data_;
    size_t bits_;
    size_t pos_ = 0;
};

struct ReadGranule {
    uint32_t part2_3_length, big_values, global_gain, scalefac_compress, window_switching_flag;
    uint32_t table_select[3], region0_count, region1_count, preflag, scalefac_scale, count1table_select;
};

struct ReadSideInfo {
    uint32_t main_data_begin, private_bits, scfsi[2];
    ReadGranule gr[2][2];
};

// Reads the side information of a two-channel frame that starts at `frame`.
inline ReadSideInfo ParseSideInfo(const uint8_t* frame) {
    BitReader r(frame + 4, 32);
    ReadSideInfo si{};
    si.main_data_begin = r.Get(9);
    si.private_bits = r.Get(3);
    si.scfsi[0] = r.Get(4);
    si.scfsi[1] = r.Get(4);
    for (auto& granule : si.gr)
        for (ReadGranule& g : granule) {
            g.part2_3_length = r.Get(12);
            g.big_values = r.Get(9);
            g.global_gain = r.Get(8);
            g.scalefac_compress = r.Get(4);
            g.window_switching_flag = r.Get(1);
            for (uint32_t& t : g.table_select) t = r.Get(5);
            g.region0_count = r.Get(4);
            g.region1_count = r.Get(3);
            g.preflag = r.Get(1);
            g.scalefac_scale = r.Get(1);
            g.count1table_select = r.Get(1);
        }
    return si;
}

inline int& HipErrors() {
    static int count = 0;
    return count;
}
inline void CountHipError(const char*, va_list) { ++HipErrors(); }

struct Decoded {
    Pcm pcm;                // interleaved stereo
    int failedFrames = 0;   // hip_decode1 returned -1
    int reportedErrors = 0; // messages the decoder reported as errors
    int framesOut = 0;      // frames that produced samples
};

// Feeds every frame, one at a time in order, to a fresh hip decoder.
inline Decoded HipDecode(const std::vector<uint8_t>& stream, const std::vector<Frame>& frames) {
    Decoded d;
    hip_t hip = hip_decode_init();
    if (!hip) {
        d.failedFrames = -1;
        return d;
    }
    HipErrors() = 0;
    hip_set_errorf(hip, CountHipError);
    short left[1152 * 2], right[1152 * 2];
    std::vector<uint8_t> copy(stream);
    auto take = [&](int n) {
        if (n < 0) ++d.failedFrames;
        if (n <= 0) return;
        ++d.framesOut;
        for (int i = 0; i < n; ++i) {
            d.pcm.push_back(left[i]);
            d.pcm.push_back(right[i]);
        }
    };
    for (const Frame& f : frames) take(hip_decode1(hip, copy.data() + f.offset, static_cast<size_t>(f.bytes), left, right));
    // The decoder holds the last frame back until it sees more input or is asked again.
    for (int n = hip_decode1(hip, nullptr, 0, left, right); n > 0; n = hip_decode1(hip, nullptr, 0, left, right)) take(n);
    hip_decode_exit(hip);
    d.reportedErrors = HipErrors();
    return d;
}

// Signal-to-noise ratio in dB of `decoded` against `reference` (one channel of each,
// interleaved stereo) over the reference's frames [from, to), at the delay in
// minDelay..minDelay + maxDelay frames that fits the first 4096 of them best.
inline double SnrDb(const Pcm& reference, const Pcm& decoded, int channel, int from, int to, int maxDelay,
                    int minDelay, int* bestDelay = nullptr) {
    auto snr = [&](int delay, int end) {
        double signal = 0.0, noise = 0.0;
        for (int i = from; i < end; ++i) {
            const double ref = reference[2 * i + channel];
            const double err = ref - decoded[2 * (i + delay) + channel];
            signal += ref * ref;
            noise += err * err;
        }
        return noise == 0.0 ? 200.0 : 10.0 * std::log10(signal / noise);
    };
    double best = -1e9;
    int delay = 0;
    for (int d = minDelay; d <= minDelay + maxDelay && 2 * static_cast<size_t>(to + d) <= decoded.size(); ++d) {
        const double s = snr(d, std::min(to, from + 4096));
        if (s > best) {
            best = s;
            delay = d;
        }
    }
    if (bestDelay) *bestDelay = delay;
    return best == -1e9 ? best : snr(delay, to);
}

}  // namespace mp3test
