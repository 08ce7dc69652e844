// The encoder's arithmetic written out plainly, without the library's shortcuts (modular
// FIFO indexing, pow for every line, bit counts straight from the code lengths): the
// oracle the optimised library must match bit for bit Frames are assembled by the
// library's formatter, which has no shortcuts to check.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "mp3enc/bitstream.h"
#include "mp3enc/tables.h"

namespace plain {

struct Encoder {
    Encoder(int rate, std::FILE* file)
        : settings{.bitRateIndex = mp3enc::BitRateIndex(128), .sampleRateIndex = mp3enc::SampleRateIndex(rate)},
          writer(file),
          formatter(settings, huff, writer) {
        const double average = 1152 / (rate / 1000.0) * 128 / 8;
        whole = static_cast<int>(average);
        lag = -(fractional = average - whole);
        for (int i = 0; i < 32; ++i)
            for (int k = 0; k < 64; ++k) {
                const double p = std::cos((2 * i + 1) * (16 - k) * 0.049087385212) * 1e9;
                M[i][k] = std::trunc(p >= 0.0 ? p + 0.5 : p - 0.5) * 1e-9;
            }
        const double c[8] = {-0.6, -0.535, -0.33, -0.185, -0.095, -0.041, -0.0142, -0.0037};
        for (int i = 0; i < 8; ++i) {
            ca[i] = c[i] / std::sqrt(1 + c[i] * c[i]);
            cs[i] = 1 / std::sqrt(1 + c[i] * c[i]);
        }
        for (int k = 0; k < 36; ++k) win[k] = std::sin((k + 0.5) * 0.087266462599717);
        for (int m = 0; m < 18; ++m)
            for (int k = 0; k < 36; ++k) cosT[m][k] = std::cos((2 * k + 19) * 0.043633231299858195 * (2 * m + 1)) / 9;
    }

    // One frame from 1152 interleaved stereo sample frames.
    void EncodeFrame(const int16_t* samples) {
        if (fractional != 0.0) {
            settings.padding = lag > fractional - 1 ? 0 : 1;
            lag += settings.padding - fractional;
        }
        settings.bitsPerFrame = 8 * (whole + settings.padding);
        Filterbank(samples);
        Mdct();
        QuantiseFrame(((settings.bitsPerFrame - 288) >> 1) / 2);
        for (int i = 0; i < 2304; ++i)
            if (spectrum[i] < 0.0) ix[i] = -ix[i];
        formatter.CodeSideInfo(side);
        formatter.CodeMainData(ix, side);
        formatter.WriteFrame();
    }

    void Filterbank(const int16_t* samples) {
        for (int g = 0; g < 2; ++g)
            for (int c = 0; c < 2; ++c)
                for (int t = 0; t < 18; ++t) {
                    for (int j = 0; j < 32; ++j)
                        x[c][off[c] + 31 - j] = samples[2 * (g * 576 + 32 * t + j) + c] * 3.0517578125e-05;
                    double y[64] = {};
                    for (int i = 0; i < 64; ++i)
                        for (int j = 7; j >= 0; --j)
                            y[i] += x[c][(off[c] + i + 64 * j) % 512] * mp3enc::kAnalysisWindow[i + 64 * j];
                    off[c] = (off[c] - 32 + 512) % 512;
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
                for (int t = 1; t < 18; t += 2)
                    for (int i = 1; i < 32; i += 2) sb[c][g + 1][t][i] *= -1;
                double* line = spectrum + (2 * g + c) * 576;
                for (int b = 0; b < 32; ++b)
                    for (int m = 0; m < 18; ++m) {
                        double out = 0.0;
                        for (int k = 35; k >= 0; --k) out += win[k] * sb[c][g + k / 18][k % 18][b] * cosT[m][k];
                        line[18 * b + m] = out;
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

    static void Quantise(const double* xr, int* q, double step) {
        for (int i = 0; i < 576; ++i) {
            const double p = std::pow(std::fabs(xr[i]) / std::pow(2.0, step * 0.25), 0.75);
            q[i] = p >= 8206 ? 8206 : static_cast<int>(p);
        }
    }

    // big_values, count1 and every choice that follows from them; returns the bits.
    int Count(const int* q, mp3enc::GranuleInfo& gi) {
        int i = 576;
        while (i > 1 && q[i - 1] == 0 && q[i - 2] == 0) i -= 2;
        for (gi.count1 = 0; i > 3 && q[i - 1] <= 1 && q[i - 2] <= 1 && q[i - 3] <= 1 && q[i - 4] <= 1; i -= 4)
            ++gi.count1;
        gi.big_values = i / 2;
        int a = 0, b = 0;
        for (int k = 0; k < gi.count1; ++k) {
            const int* v = q + 2 * gi.big_values + 4 * k;
            const int p = 8 * v[0] + 4 * v[1] + 2 * v[2] + v[3], signs = v[0] + v[1] + v[2] + v[3];
            a += huff.tables[32].lengths[p] + signs;
            b += huff.tables[33].lengths[p] + signs;
        }
        gi.count1table_select = a < b ? 0 : 1;
        return std::min(a, b) + RegionsAndTables(q, gi);
    }

    int RegionsAndTables(const int* q, mp3enc::GranuleInfo& gi) {
        static const int r0t[23] = {0, 0, 0, 0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5, 5, 5, 6, 6};
        static const int r1t[23] = {0, 0, 0, 0, 0, 1, 1, 1, 2, 2, 3, 3, 4, 4, 4, 5, 5, 6, 6, 6, 7, 7, 7};
        const int* l = mp3enc::kSfbLong[settings.sampleRateIndex];
        const int B = 2 * gi.big_values;
        gi.region0_count = gi.region1_count = 0;
        if (B > 0) {  // otherwise the region starts stay as the last count left them
            int a = 0, &r0 = gi.region0_count, &r1 = gi.region1_count;
            while (l[a] < B) ++a;
            for (r0 = r0t[a]; r0 > 0 && l[r0 + 1] > B;) --r0;
            for (r1 = r1t[a]; r1 > 0 && l[r0 + r1 + 2] > B;) --r1;
            gi.region1start = l[r0 + 1];
            gi.region2start = l[r0 + r1 + 2];
            gi.bigvalues_region = B;
        }
        gi.table_select[0] = gi.region1start > 0 ? Choose(q, 0, gi.region1start) : 0;
        gi.table_select[1] = gi.region2start > gi.region1start ? Choose(q, gi.region1start, gi.region2start) : 0;
        gi.table_select[2] = B > gi.region2start ? Choose(q, gi.region2start, B) : 0;
        const int bounds[4] = {0, gi.region1start, gi.region2start, gi.bigvalues_region};
        int bits = 0;
        for (int r = 0; r < 3; ++r)
            if (gi.table_select[r] != 0) bits += Bits(q, bounds[r], bounds[r + 1], gi.table_select[r]);
        return bits;
    }

    int Bits(const int* q, int begin, int end, int t) {
        const mp3enc::HuffTable& h = huff.tables[t];
        int bits = 0;
        for (int i = begin; i < end; i += 2) {
            int x = q[i], y = q[i + 1];
            if (x > 14) x = 15, bits += h.linbits;
            if (y > 14) y = 15, bits += h.linbits;
            bits += h.lengths[x * h.ylen + y] + (x != 0) + (y != 0);
        }
        return bits;
    }

    int Choose(const int* q, int begin, int end) {
        const int m = *std::max_element(q + begin, q + end);
        if (m == 0) return 0;
        if (m < 15) {
            static const int alternatives[16][2] = {{}, {}, {3}, {}, {}, {6}, {}, {8, 9}, {}, {}, {11, 12}, {}, {},
                                                    {15}};
            int t = 1;
            while (huff.tables[t].xlen <= m) ++t;
            for (int a : alternatives[t])  // those of the first table that fits, in order
                if (a != 0 && Bits(q, begin, end, a) <= Bits(q, begin, end, t)) t = a;
            return t;
        }
        int t1 = 16, t2 = 24;
        while (huff.tables[t1].linmax < m - 15) ++t1;
        while (huff.tables[t2].linmax < m - 15) ++t2;
        return Bits(q, begin, end, t2) < Bits(q, begin, end, t1) ? t2 : t1;
    }

    void QuantiseFrame(int max) {
        int leftover = 0;
        for (int k = 0; k < 4; ++k) {
            mp3enc::GranuleInfo& gi = side.granules[k] = mp3enc::GranuleInfo{};
            const double* xr = spectrum + 576 * k;
            int* q = ix + 576 * k;
            double sumLog = 0, sumE = 0;
            for (int i = 0; i < 576; ++i)
                if (xr[i] != 0.0) {
                    sumLog += std::log(xr[i] * xr[i]);
                    sumE += xr[i] * xr[i];
                }
            const double flatness = std::trunc(8 * std::log(std::exp(sumLog / 576) / (sumE / 576)));
            const double guess = sumE == 0 ? -70 : std::fmax(-100.0, flatness) - 70;
            for (int low = static_cast<int>(guess), high = 200, prev = low;;) {
                const int mid = (low + high) >> 1;
                Quantise(xr, q, gi.step = mid);
                const int count = *std::max_element(q, q + 576) <= 8192 ? Count(q, gi) : 100000;
                if (count > max) low = mid;
                else high = mid;
                if (count == max || std::abs(prev - mid) <= 1) break;
                prev = mid;
            }
            int b = 0;
            do {
                Quantise(xr, q, gi.step += 1);
                b = *std::max_element(q, q + 576) > 8205 ? max + 1 : Count(q, gi);
            } while (b > max);
            gi.part2_3_length = b;
            leftover += max - b;
            gi.global_gain = static_cast<int>(gi.step) + 210;
        }
        for (mp3enc::GranuleInfo& gi : side.granules) {
            const int add = std::min(leftover, 4095 - gi.part2_3_length);
            gi.part2_3_length += add;
            leftover -= add;
        }
    }

    mp3enc::FrameSettings settings;
    mp3enc::HuffTableSet huff;
    mp3enc::BitWriter writer;
    mp3enc::FrameFormatter formatter;
    mp3enc::SideInfo side;
    int whole = 0, off[2] = {0, 0};
    double fractional = 0, lag = 0;
    double M[32][64], ca[8], cs[8], win[36], cosT[18][36];
    double x[2][512] = {}, sb[2][3][18][32] = {}, spectrum[2304] = {};
    int ix[2304] = {};
};

}  // namespace plain
