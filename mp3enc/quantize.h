// Rate control: for every granule and channel the quantiser step that makes the
// Huffman-coded spectrum fit the block's share of the frame. A first guess from the
// spectral flatness, a binary search, then single steps upwards until the block fits.
// No psychoacoustic model and no scale factors; bit counts come from the code lengths
// of the Huffman tables.
#pragma once

#include <cstdint>

#include "mp3enc/bitstream.h"
#include "mp3enc/frame_types.h"

namespace mp3enc {

// The largest magnitude any table can code is 15 + 8191; a line that quantises above it
// is given this value, which the bit counts always reject.
constexpr int32_t kMaxQuantised = 8206;
// The largest part2_3_length its 12-bit field holds.
constexpr int32_t kMaxPart23Length = 4095;
// The binary search counts a block only while its largest line is at most this; a larger
// line makes the count kUncountedBits, more than any block may have.
constexpr int32_t kLargestCountedLine = 8192;
constexpr int32_t kUncountedBits = 100000;
// The binary search's upper bound on the quantiser step.
constexpr int32_t kHighestSearchStep = 200;
// The outer loop raises the step while a line quantises above this, so it never settles
// on a block with a clamped line.
constexpr int32_t kLargestSettledLine = kMaxQuantised - 1;
// global_gain is the step plus this.
constexpr int32_t kGlobalGainOffset = 210;

class QuantLoop {
public:
    QuantLoop(const FrameSettings& settings, const HuffTableSet& tables);

    // spectrum and ix: 2 x channels blocks of 576, granule-major (block 2g + c). On
    // return ix holds magnitudes and side holds every block's side information.
    void QuantiseFrame(const double* spectrum, SideInfo& side, int32_t* ix, int32_t meanBits, int channels);

    // The stages of one block, for the frame loop and for tests.
    static double FirstGuess(const double* xr);
    // Returns the bits of the block at its final step.
    int32_t QuantiseBlock(const double* xr, int32_t* ix, GranuleInfo& gi, int32_t maxBits);
    // ix = min(floor((|xr| / 2^(step/4))^0.75), kMaxQuantised) for all 576 lines of the
    // block last given to SetBlock; returns the largest value.
    int32_t Quantise(double step, int32_t* ix);
    void SetBlock(const double* xr);
    // Binary-search count of a quantised block (fills the same fields as the outer loop).
    // A count above limit may stop early, with some larger number and table_select
    // unfinished.
    int32_t CountBits(const int32_t* ix, GranuleInfo& gi, int32_t largest, int32_t limit = INT32_MAX) const;
    // Lines from end on must be 0.
    static void Runs(const int32_t* ix, GranuleInfo& gi, int end = kGranuleLines);
    int32_t Count1Bits(const int32_t* ix, GranuleInfo& gi) const;
    void RegionSplit(GranuleInfo& gi) const;
    // Chooses table_select for the three regions; returns the big-values bits, or stops
    // at a region that takes them above limit.
    int32_t ChooseTables(const int32_t* ix, GranuleInfo& gi, int32_t limit = INT32_MAX) const;
    // Picks the table for lines [begin, end); *bits gets its cost.
    int ChooseTable(const int32_t* ix, int begin, int end, int32_t* bits) const;

    // Binary-search steps of the last block, for tests.
    int32_t searchSteps[16] = {};
    int32_t searchCount = 0;

private:
    const FrameSettings& settings_;
    const HuffTableSet& tables_;
    const int32_t* sfb_;  // long-block band boundaries of the sample rate
    double abs_[kGranuleLines];      // |xr| of the block being quantised
    double tailMax_[kGranuleLines];  // the largest of abs_[i..575]
    double root_[kGranuleLines];     // abs_^0.75, nearly, below rootEnd_
    int rootEnd_ = 0;
    int zeroFrom_ = kGranuleLines;  // the last Quantise left every line from here on 0
    // Bit counts of several tables summed in one word, kField bits each: a region has at
    // most 288 pairs of at most 21 bits (escapes aside), so no field overflows.
    static constexpr int kField = 21;
    static const int kGroups[6][3];
    uint64_t groupBits_[6][256] = {};  // a group's tables: code length plus sign bits
    uint64_t escapeBits_[256] = {};    // tables 16 and 24 by (min(x, 15), min(y, 15)): the same, without linbits
    uint32_t quadBits_[16] = {};       // count1 tables A and B: code length plus sign bits
    int32_t leftover_ = 0;
};

}  // namespace mp3enc
