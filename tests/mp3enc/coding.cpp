// The quantiser where the digests' signals do not reach: the first guess on energies that are
// not normal numbers, the fast 3/4 power a hair from whole numbers, the longest escapes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "mp3enc/bitstream.h"
#include "mp3enc/quantize.h"

using mp3enc::GranuleInfo;
using mp3enc::QuantLoop;

namespace {

struct Coder {
    mp3enc::FrameSettings settings{.bitRateIndex = 9, .sampleRateIndex = 0};
    mp3enc::HuffTableSet tables;
    mp3enc::BitWriter writer{nullptr};
    mp3enc::FrameFormatter formatter{settings, tables, writer};
    QuantLoop loop{settings, tables};
};

}  // namespace

TEST(Mp3Quantise, FirstGuessIsTheTruncatedFlatnessEvenForTinyEnergies) {
    // 8 ln(geometric / arithmetic mean of the energies), truncated, at least -100; minus 70.
    std::vector<double> xr(576, 0.0);
    EXPECT_EQ(QuantLoop::FirstGuess(xr.data()), -70.0);  // silence
    xr[10] = 1.0;  // 8 ln 576 = 50.8
    EXPECT_EQ(QuantLoop::FirstGuess(xr.data()), -20.0);
    std::fill(xr.begin(), xr.end(), 1e-30);
    xr[0] = 1.0;  // far from flat: clamped
    EXPECT_EQ(QuantLoop::FirstGuess(xr.data()), -170.0);
    xr[1] = 1e-200;  // its square underflows to 0: still the clamp
    EXPECT_EQ(QuantLoop::FirstGuess(xr.data()), -170.0);
}

// The fast 3/4 power against pow: powers n^(4/3) and neighbours, six decades, near-whole lines.
TEST(Mp3Quantise, QuantisedLinesAreTheTruncatedPowerEvenNextToWholeNumbers) {
    Coder c;
    std::vector<double> xr(576);
    std::mt19937 gen(5);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int i = 0; i < 576; ++i) {
        const double base = std::pow(static_cast<double>(i / 3 + 1), 4.0);
        if (i < 200) xr[i] = i % 3 == 0 ? base : std::nextafter(base, i % 3 == 1 ? 0.0 : 1e300);
        else if (i < 400) xr[i] = (i % 2 ? -1 : 1) * std::pow(10.0, 6.0 * unit(gen) - 3.0);
        else xr[i] = std::pow(i - 399.0, 4.0 / 3.0) * (1.0 + (unit(gen) - 0.5) * 1e-13);
    }
    c.loop.SetBlock(xr.data());
    std::vector<int32_t> ix(576), want(576);
    for (double step : {-20.0, -3.0, 0.0, 1.0, 7.0, 33.0}) {
        for (int i = 0; i < 576; ++i)
            want[i] = std::min(8206, static_cast<int>(std::pow(std::fabs(xr[i]) / std::pow(2.0, step * 0.25), 0.75)));
        EXPECT_EQ(c.loop.Quantise(step, ix.data()), *std::max_element(want.begin(), want.end())) << step;
        EXPECT_EQ(ix, want) << "step " << step;
    }
}

// A line at 10000 or above is quantised like any other, and the formatter writes what was counted.
TEST(Mp3Quantise, LineFarAboveTenThousandIsCodedAndCountedAlike) {
    Coder c;
    // One strong line among faint ones starts the search where 3 / 2^(step/4) is far above 10000.
    std::vector<double> xr(576, 1e-12);
    xr[100] = -3.0;
    std::vector<int32_t> ix(576, -5000);  // leftovers must not survive
    GranuleInfo gi;
    const int32_t bits = c.loop.QuantiseBlock(xr.data(), ix.data(), gi, 762);
    const double v = 3.0 / std::pow(2.0, gi.step * 0.25);
    EXPECT_GE(v, 10000.0);
    EXPECT_EQ(ix[100], static_cast<int32_t>(std::pow(v, 0.75)));
    EXPECT_LE(ix[100], 8205);
    EXPECT_EQ(std::count(ix.begin(), ix.end(), 0), 575);

    std::vector<int32_t> frame(2304, 0);
    frame[100] = -ix[100];
    mp3enc::SideInfo side;
    side.at(0, 0) = gi;
    side.at(0, 0).part2_3_length = 0;  // no stuffing: only the Huffman bits
    c.formatter.CodeMainData(frame.data(), side);
    EXPECT_EQ(c.formatter.MainData(0, 0).totalBits, bits);

    xr[100] = 1e9;  // larger still: the block steps up until the line is codable
    c.loop.QuantiseBlock(xr.data(), ix.data(), gi, 762);
    EXPECT_LE(ix[100], 8205);
    EXPECT_GT(ix[100], 4000);
}
