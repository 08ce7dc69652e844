#include "mp3enc/filterbank.h"

#include <cmath>
#include <cstring>

#include "mp3enc/kernel.h"
#include "mp3enc/tables.h"

namespace mp3enc {

namespace {

const double kAlias[8] = {-0.6, -0.535, -0.33, -0.185, -0.095, -0.041, -0.0142, -0.0037};

using V4d = double __attribute__((vector_size(32)));

// Four doubles at any address of a double; the copies compile to unaligned vector moves
// (macros, since a function passing a vector by value would change the ABI without AVX).
#define LOAD4(p) ({ V4d v4_; std::memcpy(&v4_, (p), sizeof v4_); v4_; })
#define STORE4(p, v) do { const V4d v4_ = (v); std::memcpy((p), &v4_, sizeof v4_); } while (0)

// y[i] = sum over j = 7 down to 0 of x[i + 64j] * aw[i + 64j], for i < 64. Each sum
// stays in a register from its first term to its last.
MP3ENC_KERNEL void PartialSums(const double* x, double* y) {
    for (int i = 0; i < 64; i += 4) {
        V4d acc = {0.0, 0.0, 0.0, 0.0};
#pragma GCC unroll 8
        for (int j = 7; j >= 0; --j) acc += LOAD4(x + i + 64 * j) * LOAD4(kAnalysisWindow + i + 64 * j);
        STORE4(y + i, acc);
    }
}

// out[i] = sum over k = 63 down to 0 of mt[k][i] * y[k]; the 32 sums advance together in
// registers, as many independent additions as the vector unit can overlap.
MP3ENC_KERNEL void Matrixing(const double (*mt)[32], const double* y, double* out) {
    V4d acc[8] = {};
    for (int k = 63; k >= 0; --k) {
        const V4d yk = {y[k], y[k], y[k], y[k]};
#pragma GCC unroll 8
        for (int j = 0; j < 8; ++j) acc[j] += LOAD4(mt[k] + 4 * j) * yk;
    }
#pragma GCC unroll 8
    for (int j = 0; j < 8; ++j) STORE4(out + 4 * j, acc[j]);
}

// out[m] = sum over k = 35 down to 0 of w[k] * cosT[k][m], for m < 18; the rows are
// padded to 20 so that they split into whole vectors.
MP3ENC_KERNEL void MdctSums(const double* w, const double (*cosT)[20], double* out) {
    V4d acc[5] = {};
    for (int k = 35; k >= 0; --k) {
        const V4d wk = {w[k], w[k], w[k], w[k]};
#pragma GCC unroll 5
        for (int j = 0; j < 5; ++j) acc[j] += wk * LOAD4(cosT[k] + 4 * j);
    }
#pragma GCC unroll 4
    for (int j = 0; j < 4; ++j) STORE4(out + 4 * j, acc[j]);
    out[16] = acc[4][0];
    out[17] = acc[4][1];
}

double RoundToNinePlaces(double v) {
    double p = v * 1e9;
    p = p >= 0.0 ? p + 0.5 : p - 0.5;
    return std::trunc(p) * 1e-9;
}

}  // namespace

SubbandFilter::SubbandFilter() {
    for (int i = 0; i < 32; ++i)
        for (int k = 0; k < 64; ++k) {
            M[i][k] = RoundToNinePlaces(std::cos((2 * i + 1) * (16 - k) * 0.049087385212));
            mt_[k][i] = M[i][k];
        }
}

void SubbandFilter::Window(int channel, const int16_t* samples) {
    // The FIFO is kept twice over (x[i] == x[i + 512]) so that x[(off + i) mod 512] is
    // x[off + i] for every i < 512.
    double* x = x_[channel];
    const int32_t off = offsets_[channel];
    for (int j = 0; j < 32; ++j) x[off + 31 - j] = x[off + 31 - j + 512] = samples[j] * 3.0517578125e-05;  // 2^-15
    offsets_[channel] = (off - 32) & 511;
    PartialSums(x + off, y_);
}

void SubbandFilter::Matrix(double* out) { Matrixing(mt_, y_, out); }

void SubbandFilter::Analyse(const int16_t (*pcm)[kFrameSamples], SubbandSlots* slots, int channels) {
    for (int g = 0; g < 2; ++g)
        for (int c = 0; c < channels; ++c)
            for (int t = 0; t < 18; ++t) {
                Window(c, pcm[c] + g * 576 + 32 * t);
                Matrix(slots[c][g + 1][t]);
            }
}

Mdct::Mdct(int channels) : channels_(channels) {
    for (int i = 0; i < 8; ++i) {
        const double s = std::sqrt(1.0 + kAlias[i] * kAlias[i]);
        ca[i] = kAlias[i] / s;
        cs[i] = 1.0 / s;
    }
    for (int k = 0; k < 36; ++k) win[k] = std::sin((k + 0.5) * 0.087266462599717);
    for (int m = 0; m < 18; ++m)
        for (int k = 0; k < 36; ++k) {
            cosTable[m][k] = std::cos((2 * k + 19) * 0.043633231299858195 * (2 * m + 1)) / 9;
            cosT_[k][m] = cosTable[m][k];
        }
}

void Mdct::Transform(SubbandSlots* slots, double* spectrum) {
    for (int c = 0; c < channels_; ++c) {
        for (int g = 0; g < 2; ++g) {
            double (*prev)[32] = slots[c][g];
            double (*cur)[32] = slots[c][g + 1];
            for (int t = 1; t < 18; t += 2)
                for (int i = 1; i < 32; i += 2) cur[t][i] = -cur[t][i];
            double* lines = spectrum + (2 * g + c) * kGranuleLines;
            for (int b = 0; b < 32; ++b) {
                double w[36];
                for (int k = 0; k < 18; ++k) {
                    w[k] = win[k] * prev[k][b];
                    w[18 + k] = win[18 + k] * cur[k][b];
                }
                MdctSums(w, cosT_, lines + 18 * b);
            }
            for (int b = 1; b < 32; ++b)
                for (int i = 0; i < 8; ++i) {
                    const double u = lines[18 * b - 1 - i];
                    const double d = lines[18 * b + i];
                    lines[18 * b - 1 - i] = u * cs[i] + d * ca[i];
                    lines[18 * b + i] = d * cs[i] - u * ca[i];
                }
        }
        std::memcpy(slots[c][0], slots[c][2], sizeof(slots[c][0]));
    }
}

}  // namespace mp3enc
