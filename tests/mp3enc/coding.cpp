// Pair and quadruple coding, the bit writer and frame headers; the quantiser's first
// guess, a silent block's step, runs and regions, its 3/4 power, and lines far above 1000.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <tuple>

#include "mp3enc/quantize.h"
#include "tests/mp3enc/mp3_test_util.h"
#include "tests/mp3enc/plain_encoder.h"

using namespace mp3test;
using mp3enc::GranuleInfo;
using mp3enc::QuantLoop;
using testing::ElementsAre;
using testing::FieldsAre;

namespace {

Bytes Drain(const mp3enc::BitList& list) {
    std::FILE* f = std::tmpfile();
    mp3enc::BitWriter writer(f);
    for (const auto& e : list.entries) writer.Put(e.value, e.bits);
    writer.Flush();
    const Bytes bytes = ReadBack(f);
    std::fclose(f);
    return bytes;
}

struct Coder {
    explicit Coder(int rateIndex = 0) : settings{.bitRateIndex = 9, .sampleRateIndex = rateIndex} {}
    mp3enc::FrameSettings settings;
    mp3enc::HuffTableSet tables;
    mp3enc::BitWriter writer{nullptr};
    mp3enc::FrameFormatter formatter{settings, tables, writer};
    QuantLoop loop{settings, tables};
};

}  // namespace

TEST(Mp3Bitstream, PairAndQuadrupleCodesCarrySignsEscapesAndStuffing) {
    // Table, x, y; then code, its bits, extension (linbits and signs), its bits.
    const std::tuple<int, int, int, uint32_t, int, uint32_t, int> pairs[] = {
        {1, -1, 0, 0b011, 3, 0, 0},                           // the codeword of (1, 0), "01", then x's sign
        {2, 0, 2, 0b0000010, 7, 0, 0},                        // "000001", then y's sign only
        {2, 0, 0, 1, 1, 0, 0},                                // no signs
        {19, 20, -3, 11, 9, 0b010101, 6},                     // (15, 3) of table 16; 20 - 15, sign 0, sign 1
        {24, 14, 0, 1033, 12, 0, 1},                          // 14 is not escaped
        {31, -8206, 15, 3, 4, (8191u << 15) | (1u << 14), 28},  // the largest: 8191 in 13 linbits
        {0, 5, 5, 0, 0, 0, 0},                                // table 0 codes nothing
    };
    Coder c;
    for (const auto& [t, x, y, code, codeBits, extension, extensionBits] : pairs) {
        mp3enc::PairCode pc;
        const int bits = mp3enc::CodePair(c.tables, t, x, y, &pc);
        EXPECT_EQ(std::tie(bits, pc.code, pc.codeBits, pc.extension, pc.extensionBits),
                  std::make_tuple(codeBits + extensionBits, code, codeBits, extension, extensionBits)) << t << " " << x;
    }

    // (-1, 0, 0, 0) in table A is 0111 and its sign; 37 bits of stuffing make it up to 42.
    std::vector<int32_t> ix(2304, 0);
    ix[0] = -1;
    mp3enc::SideInfo side;
    GranuleInfo& gi = side.at(0, 0);
    gi.count1 = 1;
    gi.part2_3_length = 42;
    c.formatter.CodeMainData(ix.data(), side);
    const mp3enc::BitList& main = c.formatter.MainData(0, 0);
    EXPECT_THAT(main.entries,
                ElementsAre(FieldsAre(0b0111u, 4), FieldsAre(1u, 1), FieldsAre(~0u, 32), FieldsAre(0x1Fu, 5)));
    EXPECT_EQ(main.totalBits, 42);
    // Table B codes it as 15 - 8; a block with no length writes nothing.
    gi.count1table_select = 1;
    gi.part2_3_length = 5;
    c.formatter.CodeMainData(ix.data(), side);
    EXPECT_THAT(main.entries, ElementsAre(FieldsAre(7u, 4), FieldsAre(1u, 1)));
    EXPECT_EQ(c.formatter.MainData(1, 1).totalBits, 0);
}

TEST(Mp3Bitstream, WriterAndHeaderBytesAtEveryRateWithAndWithoutPadding) {
    mp3enc::BitList list;
    list.Append(0b101, 3);
    list.Append(0xFFFF, 4);  // only the low four bits
    list.Append(0, 0);
    list.Append(0x1, 1);
    list.Append(0xABCDEF12u, 32);
    EXPECT_EQ(Drain(list), (Bytes{0b10111111, 0xAB, 0xCD, 0xEF, 0x12}));
    const uint8_t third[3] = {0x90, 0x94, 0x98};  // 44100, 48000, 32000 Hz
    for (int r = 0; r < 3; ++r)
        for (int padding = 0; padding < 2; ++padding)
            EXPECT_EQ(Drain(Coder(r).formatter.Header(padding)),
                      (Bytes{0xFF, 0xFB, static_cast<uint8_t>(third[r] + 2 * padding), 0x84}));
}

TEST(Mp3Quantise, FirstGuessAndTheStepOfASilentBlock) {
    std::vector<double> xr(576, 0.0);
    std::vector<int32_t> ix(576, 0);
    GranuleInfo gi;
    Coder c;
    EXPECT_EQ(c.loop.QuantiseBlock(xr.data(), ix.data(), gi, 762), 0);
    EXPECT_EQ(gi.step, -68.0);
    EXPECT_EQ(gi.big_values + gi.count1, 0);
    EXPECT_EQ(gi.count1table_select, 1);

    // 8 ln(geometric / arithmetic mean of the energies), truncated, at least -100; minus 70.
    xr[10] = 1.0;  // 8 ln 576 = 50.8
    EXPECT_EQ(QuantLoop::FirstGuess(xr.data()), -20.0);
    for (int i = 0; i < 288; ++i) xr[2 * i] = -1.0;  // 8 ln 2 = 5.5
    EXPECT_EQ(QuantLoop::FirstGuess(xr.data()), -65.0);
    std::fill(xr.begin(), xr.end(), 0.25);  // flat
    EXPECT_EQ(QuantLoop::FirstGuess(xr.data()), -70.0);
    std::fill(xr.begin(), xr.end(), 1e-30);
    xr[0] = 1.0;  // far from flat: clamped
    EXPECT_EQ(QuantLoop::FirstGuess(xr.data()), -170.0);
    xr[1] = 1e-200;  // its square underflows to 0: still the clamp
    EXPECT_EQ(QuantLoop::FirstGuess(xr.data()), -170.0);
}

TEST(Mp3Quantise, RunsAndRegionsFollowTheLinesAndTheBandBoundaries) {
    std::vector<int32_t> ix(576, 0);
    for (int i = 0; i < 100; i += 3) ix[i] = i % 2 ? -1 : 1;  // 25 quadruples
    GranuleInfo gi;
    // Line set, its value; then big_values and count1.
    const int runs[][4] = {{0, 1, 0, 25},
                           {101, 1, 1, 25},   // 102 lines: one pair left over
                           {50, -2, 27, 12},  // quadruples only above the last line beyond 1
                           {575, 3, 288, 0}};
    for (const auto& r : runs) {
        ix[r[0]] = r[1];
        QuantLoop::Runs(ix.data(), gi);
        EXPECT_EQ(std::tie(gi.big_values, gi.count1), std::tie(r[2], r[3])) << r[0];
    }
    // Rate index and big_values; then both counts and both starts.
    const int splits[][6] = {{0, 100, 5, 6, 24, 90},   // 44100 Hz, 200 lines: row 18 (238)
                             {0, 1, 0, 0, 4, 8},       // region 2 starts beyond the big values
                             {0, 0, 0, 0, 4, 8},       // counts cleared, starts kept from the last pass
                             {2, 288, 6, 7, 30, 156}};  // 32000 Hz
    for (const auto& s : splits) {
        gi.big_values = s[1];
        Coder(s[0]).loop.RegionSplit(gi);
        EXPECT_EQ(std::tie(gi.region0_count, gi.region1_count, gi.region1start, gi.region2start, gi.bigvalues_region),
                  std::make_tuple(s[2], s[3], s[4], s[5], std::max(2, 2 * s[1]))) << s[1];
    }
}

// The library's fast 3/4 power against pow: exact powers n^(4/3) and their neighbours,
// values over six decades, and values a hair from a whole quantised line.
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
    std::vector<int> ix(576), want(576);
    for (double step : {-20.0, -3.0, 0.0, 1.0, 7.0, 33.0}) {
        plain::Encoder::Quantise(xr.data(), want.data(), step);
        EXPECT_EQ(c.loop.Quantise(step, ix.data()), *std::max_element(want.begin(), want.end())) << step;
        EXPECT_EQ(ix, want) << "step " << step;
    }
}

// A line at 10000 or above is quantised like every other, up to 8206 that no table codes,
// and what the formatter writes is exactly what was counted.
TEST(Mp3Quantise, LineFarAboveTenThousandIsCodedAndCountedAlike) {
    Coder c;
    // One strong line among faint ones starts the search so low that it quantises where
    // 3 / 2^(step/4) is far above 10000.
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
    EXPECT_GE(c.tables.tables[gi.table_select[100 < gi.region1start ? 0 : 100 < gi.region2start ? 1 : 2]].linmax,
              ix[100] - 15);

    xr[100] = 1e9;  // larger still: the block steps up until the line is codable
    c.loop.QuantiseBlock(xr.data(), ix.data(), gi, 762);
    EXPECT_LE(ix[100], 8205);
    EXPECT_GT(ix[100], 4000);
}
