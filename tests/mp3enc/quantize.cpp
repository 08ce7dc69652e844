// Rate control of single blocks and of a frame: the first guess, the binary search, the
// runs and region split, lines that quantise far above 1000, and where unused bits go.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "mp3enc/quantize.h"
#include "tests/mp3enc/mp3_test_util.h"

using mp3enc::GranuleInfo;
using mp3enc::QuantLoop;

namespace {

struct Fixture {
    static mp3enc::FrameSettings Settings(int rateIndex) {
        mp3enc::FrameSettings s;
        s.sampleRateIndex = rateIndex;
        s.bitRateIndex = 9;
        return s;
    }
    explicit Fixture(int rateIndex = 0) : settings(Settings(rateIndex)) {}
    mp3enc::FrameSettings settings;
    mp3enc::HuffTableSet tables;
    QuantLoop loop{settings, tables};
};

}  // namespace

TEST(Mp3Quantise, SilentBlockSearchesDownToStepMinus68) {
    Fixture f;
    std::vector<double> xr(576, 0.0);
    std::vector<int32_t> ix(576, 0);
    GranuleInfo gi;
    EXPECT_EQ(QuantLoop::FirstGuess(xr.data()), -70.0);
    EXPECT_EQ(f.loop.QuantiseBlock(xr.data(), ix.data(), gi, 762), 0);
    const int32_t expected[] = {65, -3, -37, -54, -62, -66, -68, -69};
    ASSERT_EQ(f.loop.searchCount, 8);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(f.loop.searchSteps[i], expected[i]) << i;
    EXPECT_EQ(gi.step, -68.0);
    EXPECT_EQ(gi.big_values, 0);
    EXPECT_EQ(gi.count1, 0);
    EXPECT_EQ(gi.count1table_select, 1);

    // A whole frame of silence: global_gain 142 everywhere, the frame's bits in block 0.
    std::vector<double> spectrum(2304, 0.0);
    std::vector<int32_t> lines(2304, 0);
    mp3enc::SideInfo side;
    f.loop.QuantiseFrame(spectrum.data(), side, lines.data(), 1524, 2);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(side.granules[k].global_gain, 142);
        EXPECT_EQ(side.granules[k].part2_3_length, k == 0 ? 3048 : 0);
    }
}

TEST(Mp3Quantise, FirstGuessFromSpectralFlatness) {
    std::vector<double> xr(576, 0.0);
    xr[10] = 1.0;  // 8 ln(576) = 50.8: guess 50 - 70
    EXPECT_EQ(QuantLoop::FirstGuess(xr.data()), -20.0);
    for (int i = 0; i < 288; ++i) xr[2 * i] = -1.0;  // half the lines: 8 ln 2 = 5.5
    EXPECT_EQ(QuantLoop::FirstGuess(xr.data()), -65.0);
    for (double& v : xr) v = 0.25;  // flat
    EXPECT_EQ(QuantLoop::FirstGuess(xr.data()), -70.0);
    for (int i = 0; i < 576; ++i) xr[i] = i == 0 ? 1.0 : 1e-30;  // far from flat: clamped
    EXPECT_EQ(QuantLoop::FirstGuess(xr.data()), -170.0);
    xr[1] = 1e-200;  // its square underflows to 0: still the clamp, not undefined
    EXPECT_EQ(QuantLoop::FirstGuess(xr.data()), -170.0);
}

TEST(Mp3Quantise, LinesAreTheTruncatedPowerEvenNextToWholeNumbers) {
    Fixture f;
    std::vector<double> xr(576);
    std::mt19937 gen(5);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int i = 0; i < 576; ++i) {
        if (i < 200) {
            // Exact powers n^(4/3) for n^(1/3) whole, and their neighbours.
            const double base = std::pow(static_cast<double>(i / 3 + 1), 4.0);
            xr[i] = i % 3 == 0 ? base : std::nextafter(base, i % 3 == 1 ? 0.0 : 1e300);
        } else if (i < 400) {
            xr[i] = (i % 2 ? -1 : 1) * std::pow(10.0, 6.0 * unit(gen) - 3.0);
        } else {
            xr[i] = std::pow(static_cast<double>(i - 399), 4.0 / 3.0) * (1.0 + (unit(gen) - 0.5) * 1e-13);
        }
    }
    f.loop.SetBlock(xr.data());
    std::vector<int32_t> ix(576, -77);
    for (double step : {-20.0, -3.0, 0.0, 1.0, 7.0, 33.0}) {
        const double stepsize = std::pow(2.0, step * 0.25);
        std::vector<int32_t> want(576);
        for (int i = 0; i < 576; ++i) {
            const double p = std::pow(std::fabs(xr[i]) / stepsize, 0.75);
            want[i] = p >= mp3enc::kMaxQuantised ? mp3enc::kMaxQuantised : static_cast<int32_t>(p);
        }
        EXPECT_EQ(f.loop.Quantise(step, ix.data()), *std::max_element(want.begin(), want.end())) << step;
        EXPECT_EQ(ix, want) << "step " << step;
    }
    f.loop.Quantise(0.0, ix.data());
    EXPECT_EQ(ix[3], 8);  // 16^(3/4) exactly
    EXPECT_EQ(ix[4], 7);  // just below 16
}

TEST(Mp3Quantise, RunsCountQuadruplesDownFromTheLastNonZeroPair) {
    std::vector<int32_t> ix(576, 0);
    GranuleInfo gi;
    for (int i = 0; i < 100; i += 3) ix[i] = (i % 2) ? -1 : 1;  // last non-zero line 99
    QuantLoop::Runs(ix.data(), gi);
    EXPECT_EQ(gi.big_values, 0);
    EXPECT_EQ(gi.count1, 25);
    ix[101] = 1;  // 102 lines: 25 quadruples and one pair left
    QuantLoop::Runs(ix.data(), gi);
    EXPECT_EQ(gi.big_values, 1);
    EXPECT_EQ(gi.count1, 25);
    ix[50] = -2;  // quadruples only above the last line beyond 1
    QuantLoop::Runs(ix.data(), gi);
    EXPECT_EQ(gi.count1, 12);
    EXPECT_EQ(gi.big_values, 27);
    std::fill(ix.begin(), ix.end(), 0);
    ix[575] = 3;
    QuantLoop::Runs(ix.data(), gi);
    EXPECT_EQ(gi.big_values, 288);
    EXPECT_EQ(gi.count1, 0);
}

TEST(Mp3Quantise, RegionSplitFollowsTheBandBoundaries) {
    Fixture f;  // 44100 Hz: 0 4 8 12 16 20 24 30 36 44 52 62 74 90 110 ...
    GranuleInfo gi;
    gi.big_values = 100;  // 200 lines: row 18 (238) gives (5, 6)
    f.loop.RegionSplit(gi);
    EXPECT_EQ(gi.region0_count, 5);
    EXPECT_EQ(gi.region1_count, 6);
    EXPECT_EQ(gi.region1start, 24);
    EXPECT_EQ(gi.region2start, 90);
    EXPECT_EQ(gi.bigvalues_region, 200);
    gi.big_values = 1;  // row 1: (0, 0); region 2 starts beyond the big values
    f.loop.RegionSplit(gi);
    EXPECT_EQ(gi.region0_count, 0);
    EXPECT_EQ(gi.region1_count, 0);
    EXPECT_EQ(gi.region1start, 4);
    EXPECT_EQ(gi.region2start, 8);
    gi.big_values = 0;  // counts cleared, starts kept from the last pass
    f.loop.RegionSplit(gi);
    EXPECT_EQ(gi.region0_count, 0);
    EXPECT_EQ(gi.region1start, 4);
    EXPECT_EQ(gi.region2start, 8);
    EXPECT_EQ(gi.bigvalues_region, 2);
    Fixture f32(2);  // 32000 Hz: ... 44 54 66 82 102 126 156 194 240 296 364 448 550 576
    gi.big_values = 288;
    f32.loop.RegionSplit(gi);
    EXPECT_EQ(gi.region0_count, 6);
    EXPECT_EQ(gi.region1_count, 7);
    EXPECT_EQ(gi.region1start, 30);
    EXPECT_EQ(gi.region2start, 156);
}

// With the literal rule a line at 10000 or above would keep whatever the array held
// before; here it is quantised like every other line, up to 8206 that no table codes.
TEST(Mp3Quantise, LineFarAboveTenThousandIsCodedAndCountedAlike) {
    Fixture f;
    // One strong line among faint ones: the flatness guess starts the search so low that
    // the strong line quantises where 3 / 2^(step/4) is far above 10000.
    std::vector<double> xr(576, 1e-12);
    xr[100] = -3.0;
    std::vector<int32_t> ix(576, -5000);  // leftovers must not survive
    GranuleInfo gi;
    const int32_t bits = f.loop.QuantiseBlock(xr.data(), ix.data(), gi, 762);
    const double v = 3.0 / std::pow(2.0, gi.step * 0.25);
    EXPECT_GE(v, 10000.0);
    EXPECT_EQ(ix[100], static_cast<int32_t>(std::pow(v, 0.75)));
    EXPECT_GT(ix[100], 1000);
    EXPECT_LE(ix[100], 8205);
    EXPECT_EQ(std::count(ix.begin(), ix.end(), 0), 575);
    // The dequantised line is within a unit's step of the input.
    const double back = std::pow(ix[100], 4.0 / 3.0) * std::pow(2.0, gi.step * 0.25);
    EXPECT_NEAR(back, 3.0, std::pow(2.0, gi.step * 0.25) * std::pow(ix[100], 1.0 / 3.0) * 4.0 / 3.0);

    // What the formatter writes is exactly what was counted.
    std::vector<int32_t> frame(2304, 0);
    for (int i = 0; i < 576; ++i) frame[i] = xr[i] < 0 ? -ix[i] : ix[i];
    mp3enc::SideInfo side;
    side.at(0, 0) = gi;
    side.at(0, 0).part2_3_length = 0;  // no stuffing: only the Huffman bits
    mp3enc::BitWriter writer(nullptr);
    mp3enc::FrameFormatter formatter(f.settings, f.tables, writer);
    formatter.CodeMainData(frame.data(), side);
    EXPECT_EQ(formatter.MainData(0, 0).totalBits, bits);
    const int region = 100 < gi.region1start ? 0 : (100 < gi.region2start ? 1 : 2);
    EXPECT_GE(gi.table_select[region], 16);
    EXPECT_GE(f.tables.tables[gi.table_select[region]].linmax, ix[100] - 15);

    // Larger still: the block steps up until the line is codable.
    xr[100] = 1e9;
    f.loop.QuantiseBlock(xr.data(), ix.data(), gi, 762);
    EXPECT_LE(ix[100], 8205);
    EXPECT_GT(ix[100], 4000);
}

TEST(Mp3Quantise, UnusedBitsGoToGranuleZeroChannelZeroEvenWhenItIsSilent) {
    Fixture f;
    std::vector<double> spectrum(2304, 0.0);
    std::mt19937 gen(9);
    std::normal_distribution<double> n(0.0, 0.05);
    for (int i = 576; i < 2304; ++i) spectrum[i] = i % 576 < 300 ? n(gen) : 0.0;
    std::vector<int32_t> ix(2304, 0);
    mp3enc::SideInfo side;
    f.loop.QuantiseFrame(spectrum.data(), side, ix.data(), 1528, 2);
    int32_t total = 0;
    for (int k = 1; k < 4; ++k) {
        EXPECT_GT(side.granules[k].part2_3_length, 0);
        EXPECT_LE(side.granules[k].part2_3_length, 764);
        total += side.granules[k].part2_3_length;
    }
    EXPECT_EQ(side.granules[0].big_values, 0);
    EXPECT_EQ(side.granules[0].part2_3_length, 4 * 764 - total);
    for (int i = 0; i < 2304; ++i) ASSERT_GE(ix[i], 0);
}
