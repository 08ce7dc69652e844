// The encoder's arithmetic written out plainly, step by step and without any of the
// library's shortcuts (modular FIFO indexing, pow for every line, bit counts straight
// from the code lengths), kept as the oracle the optimised library must match bit for
// bit. Frame assembly reuses the library's formatter, which has no shortcuts to check.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "mp3enc/bitstream.h"
#include "mp3enc/frame_types.h"
#include "mp3enc/tables.h"

namespace plain {

using mp3enc::GranuleInfo;
using mp3enc::SideInfo;

struct Encoder {
    static mp3enc::FrameSettings MakeSettings(int rate) {
        mp3enc::FrameSettings s;
        s.sampleRateIndex = mp3enc::SampleRateIndex(rate);
        s.bitRateIndex = mp3enc::BitRateIndex(128);
        return s;
    }

    Encoder(int rate, std::FILE* file) : settings(MakeSettings(rate)), writer(file), formatter(settings, huff, writer) {
        const double average = 1152 / (rate / 1000.0) * 128 / 8;
        whole = static_cast<int>(average);
        fractional = average - whole;
        lag = -fractional;
        for (int i = 0; i < 32; ++i)
            for (int k = 0; k < 64; ++k) {
                double p = std::cos((2 * i + 1) * (16 - k) * 0.049087385212) * 1e9;
                p = p >= 0.0 ? p + 0.5 : p - 0.5;
                M[i][k] = std::trunc(p) * 1e-9;
            }
        const double c[8] = {-0.6, -0.535, -0.33, -0.185, -0.095, -0.041, -0.0142, -0.0037};
        for (int i = 0; i < 8; ++i) {
            const double s = std::sqrt(1 + c[i] * c[i]);
            ca[i] = c[i] / s;
            cs[i] = 1 / s;
        }
        for (int k = 0; k < 36; ++k) win[k] = std::sin((k + 0.5) * 0.087266462599717);
        for (int m = 0; m < 18; ++m)
            for (int k = 0; k < 36; ++k) cosT[m][k] = std::cos((2 * k + 19) * 0.043633231299858195 * (2 * m + 1)) / 9;
    }

    // One frame from 1152 interleaved stereo sample frames.
    void EncodeFrame(const int16_t* samples) {
        for (int i = 0; i < 1152; ++i) {
            pcm[0][i] = samples[2 * i];
            pcm[1][i] = samples[2 * i + 1];
        }
        if (fractional != 0.0) {
            if (lag > fractional - 1) {
                settings.padding = 0;
                lag -= fractional;
            } else {
                settings.padding = 1;
                lag += 1 - fractional;
            }
        }
        settings.bitsPerFrame = 8 * (whole + settings.padding);
        const int meanBits = (settings.bitsPerFrame - 288) >> 1;
        Filterbank();
        Mdct();
        uint8_t sign[2304];
        for (int i = 0; i < 2304; ++i) sign[i] = spectrum[i] < 0.0;
        QuantiseFrame(meanBits);
        for (int i = 0; i < 2304; ++i)
            if (sign[i]) ix[i] = -ix[i];
        formatter.CodeSideInfo(side);
        formatter.CodeMainData(ix, side);
        formatter.WriteFrame();
    }

    void Filterbank() {
        for (int g = 0; g < 2; ++g)
            for (int c = 0; c < 2; ++c)
                for (int t = 0; t < 18; ++t) {
                    const int s = g * 576 + 32 * t;
                    for (int j = 0; j < 32; ++j) x[c][off[c] + 31 - j] = pcm[c][s + j] * 3.0517578125e-05;
                    double z[512], y[64];
                    for (int i = 0; i < 512; ++i) z[i] = x[c][(off[c] + i) % 512] * mp3enc::kAnalysisWindow[i];
                    off[c] = (off[c] - 32 + 512) % 512;
                    for (int i = 0; i < 64; ++i) {
                        y[i] = 0.0;
                        for (int j = 7; j >= 0; --j) y[i] += z[i + 64 * j];
                    }
                    for (int i = 0; i < 32; ++i) {
                        double S = 0.0;
                        for (int k = 63; k >= 0; --k) S += M[i][k] * y[k];
                        sb[c][g + 1][t][i] = S;
                    }
                }
    }

    void Mdct() {
        for (int g = 0; g < 2; ++g)
            for (int c = 0; c < 2; ++c) {
                for (int t = 0; t < 18; ++t)
                    for (int i = 0; i < 32; ++i)
                        if (t % 2 == 1 && i % 2 == 1) sb[c][g + 1][t][i] *= -1;
                double* line = spectrum + (2 * g + c) * 576;
                for (int b = 0; b < 32; ++b) {
                    double in[36];
                    for (int k = 0; k < 18; ++k) {
                        in[k] = sb[c][g][k][b];
                        in[18 + k] = sb[c][g + 1][k][b];
                    }
                    for (int m = 0; m < 18; ++m) {
                        double out = 0.0;
                        for (int k = 35; k >= 0; --k) out += win[k] * in[k] * cosT[m][k];
                        line[18 * b + m] = out;
                    }
                }
                for (int b = 1; b < 32; ++b)
                    for (int i = 0; i < 8; ++i) {
                        const double u = line[18 * b - 1 - i], d = line[18 * b + i];
                        line[18 * b - 1 - i] = u * cs[i] + d * ca[i];
                        line[18 * b + i] = d * cs[i] - u * ca[i];
                    }
            }
        for (int c = 0; c < 2; ++c) std::memcpy(sb[c][0], sb[c][2], sizeof sb[c][0]);
    }

    void Quantise(const double* xr, int* q, double step) {
        const double stepsize = std::pow(2.0, step * 0.25);
        for (int i = 0; i < 576; ++i) {
            const double p = std::pow(std::fabs(xr[i]) / stepsize, 0.75);
            q[i] = p >= 8206 ? 8206 : static_cast<int>(p);
        }
    }

    static void Runs(const int* q, GranuleInfo& gi) {
        int i = 576;
        while (i > 1 && q[i - 1] == 0 && q[i - 2] == 0) i -= 2;
        gi.count1 = 0;
        while (i > 3 && q[i - 1] <= 1 && q[i - 2] <= 1 && q[i - 3] <= 1 && q[i - 4] <= 1) {
            ++gi.count1;
            i -= 4;
        }
        gi.big_values = i / 2;
    }

    int Count1Bits(const int* q, GranuleInfo& gi) {
        if (gi.count1 == 0) {
            gi.count1table_select = 1;
            return 0;
        }
        int a = 0, b = 0;
        for (int k = 0; k < gi.count1; ++k) {
            const int* v = q + 2 * gi.big_values + 4 * k;
            const int p = 8 * v[0] + 4 * v[1] + 2 * v[2] + v[3];
            const int n = (v[0] != 0) + (v[1] != 0) + (v[2] != 0) + (v[3] != 0);
            a += huff.tables[32].lengths[p] + n;
            b += huff.tables[33].lengths[p] + n;
        }
        gi.count1table_select = a < b ? 0 : 1;
        return a < b ? a : b;
    }

    void RegionSplit(GranuleInfo& gi) {
        static const int r0t[23] = {0, 0, 0, 0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5, 5, 5, 6, 6};
        static const int r1t[23] = {0, 0, 0, 0, 0, 1, 1, 1, 2, 2, 3, 3, 4, 4, 4, 5, 5, 6, 6, 6, 7, 7, 7};
        if (gi.big_values == 0) {
            gi.region0_count = gi.region1_count = 0;
            return;
        }
        const int* l = mp3enc::kSfbLong[settings.sampleRateIndex];
        const int B = 2 * gi.big_values;
        int a = 0;
        while (l[a] < B) ++a;
        int r0 = r0t[a], r1 = r1t[a];
        while (r0 > 0 && l[r0 + 1] > B) --r0;
        while (r1 > 0 && l[r0 + r1 + 2] > B) --r1;
        gi.region0_count = r0;
        gi.region1_count = r1;
        gi.region1start = l[r0 + 1];
        gi.region2start = l[r0 + r1 + 2];
        gi.bigvalues_region = B;
    }

    int Bits(const int* q, int begin, int end, int t) {
        const mp3enc::HuffTable& h = huff.tables[t];
        int bits = 0;
        for (int i = begin; i < end; i += 2) {
            int x = q[i], y = q[i + 1];
            if (t >= 16) {
                if (x > 14) x = 15, bits += h.linbits;
                if (y > 14) y = 15, bits += h.linbits;
                bits += h.lengths[x * 16 + y];
            } else {
                bits += h.lengths[x * h.ylen + y];
            }
            bits += (x != 0) + (y != 0);
        }
        return bits;
    }

    int Choose(const int* q, int begin, int end) {
        int m = 0;
        for (int i = begin; i < end; ++i) m = q[i] > m ? q[i] : m;
        if (m == 0) return 0;
        if (m < 15) {
            int t = 1;
            while (huff.tables[t].xlen <= m) ++t;
            const int alternatives[16][2] = {{0, 0}, {0, 0}, {3, 0}, {0, 0}, {0, 0}, {6, 0}, {0, 0}, {8, 9}, {0, 0},
                                             {0, 0}, {11, 12}, {0, 0}, {0, 0}, {15, 0}, {0, 0}, {0, 0}};
            const int first = t;
            for (int a : alternatives[first])
                if (a != 0 && Bits(q, begin, end, a) <= Bits(q, begin, end, t)) t = a;
            return t;
        }
        int t1 = 16, t2 = 24;
        while (huff.tables[t1].linmax < m - 15) ++t1;
        while (huff.tables[t2].linmax < m - 15) ++t2;
        return Bits(q, begin, end, t2) < Bits(q, begin, end, t1) ? t2 : t1;
    }

    int BigValueBits(const int* q, GranuleInfo& gi) {
        gi.table_select[0] = gi.table_select[1] = gi.table_select[2] = 0;
        if (gi.region1start > 0) gi.table_select[0] = Choose(q, 0, gi.region1start);
        if (gi.region2start > gi.region1start) gi.table_select[1] = Choose(q, gi.region1start, gi.region2start);
        if (2 * gi.big_values > gi.region2start) gi.table_select[2] = Choose(q, gi.region2start, 2 * gi.big_values);
        const int bounds[4] = {0, gi.region1start, gi.region2start, gi.bigvalues_region};
        int bits = 0;
        for (int r = 0; r < 3; ++r)
            if (gi.table_select[r] != 0) bits += Bits(q, bounds[r], bounds[r + 1], gi.table_select[r]);
        return bits;
    }

    static int Largest(const int* q) {
        int m = 0;
        for (int i = 0; i < 576; ++i) m = q[i] > m ? q[i] : m;
        return m;
    }

    void QuantiseFrame(int meanBits) {
        const int max = meanBits / 2;
        int leftover = 0;
        for (int g = 0; g < 2; ++g)
            for (int c = 0; c < 2; ++c) {
                GranuleInfo& gi = side.at(g, c);
                gi = GranuleInfo{};
                const double* xr = spectrum + (2 * g + c) * 576;
                int* q = ix + (2 * g + c) * 576;
                double sumLog = 0, sumE = 0;
                for (int i = 0; i < 576; ++i)
                    if (xr[i] != 0.0) {
                        const double e = xr[i] * xr[i];
                        sumLog += std::log(e);
                        sumE += e;
                    }
                double guess = -70;
                if (sumE != 0) {
                    double r = std::trunc(8 * std::log(std::exp(sumLog / 576) / (sumE / 576)));
                    if (r < -100) r = -100;
                    guess = r - 70;
                }
                int low = static_cast<int>(guess), high = 200, prev = low;
                for (;;) {
                    const int mid = (low + high) >> 1;
                    gi.step = mid;
                    Quantise(xr, q, gi.step);
                    Runs(q, gi);
                    int count = 100000;
                    if (Largest(q) <= 8192) {
                        count = Count1Bits(q, gi);
                        RegionSplit(gi);
                        count += BigValueBits(q, gi);
                    }
                    if (count > max) low = mid;
                    else high = mid;
                    if (count == max || std::abs(prev - mid) <= 1) break;
                    prev = mid;
                }
                int b = 0;
                for (;;) {
                    gi.step += 1;
                    Quantise(xr, q, gi.step);
                    if (Largest(q) > 8205) continue;
                    Runs(q, gi);
                    b = Count1Bits(q, gi);
                    RegionSplit(gi);
                    b += BigValueBits(q, gi);
                    if (b <= max) break;
                }
                gi.part2_3_length = b;
                leftover += max - b;
                gi.global_gain = static_cast<int>(gi.step) + 210;
            }
        for (int k = 0; k < 4; ++k) {
            GranuleInfo& gi = side.granules[k];
            const int add = leftover < 4095 - gi.part2_3_length ? leftover : 4095 - gi.part2_3_length;
            gi.part2_3_length += add;
            leftover -= add;
        }
    }

    mp3enc::FrameSettings settings;
    mp3enc::HuffTableSet huff;
    mp3enc::BitWriter writer;
    mp3enc::FrameFormatter formatter;
    SideInfo side;
    int whole = 0;
    double fractional = 0, lag = 0;
    double M[32][64], ca[8], cs[8], win[36], cosT[18][36];
    int off[2] = {0, 0};
    double x[2][512] = {};
    double sb[2][3][18][32] = {};
    int16_t pcm[2][1152] = {};
    double spectrum[2304] = {};
    int ix[2304] = {};
};

}  // namespace plain
