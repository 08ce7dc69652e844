#include "mp3enc/quantize.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "mp3enc/kernel.h"
#include "mp3enc/tables.h"

namespace mp3enc {

namespace {

// (region0_count, region1_count) by the first band boundary at or above the big values.
const int32_t kRegion0[23] = {0, 0, 0, 0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5, 5, 5, 6, 6};
const int32_t kRegion1[23] = {0, 0, 0, 0, 0, 1, 1, 1, 2, 2, 3, 3, 4, 4, 4, 5, 5, 6, 6, 6, 7, 7, 7};

// root[i] = abs[i]^0.75 as the square root of abs^1.5, within a few units in the last
// place of the exact power, for i in [begin, end).
MP3ENC_KERNEL void Roots(const double* abs, int begin, int end, double* root) {
    for (int i = begin; i < end; ++i) root[i] = std::sqrt(abs[i] * std::sqrt(abs[i]));
}

using V4d = double __attribute__((vector_size(32)));
using V4l = int64_t __attribute__((vector_size(32)));
using V4i = int32_t __attribute__((vector_size(16)));

// ix[i] = trunc(min(root[i] * scale, cap)) for i < end (a multiple of 4); returns the
// largest value before truncation, and in *nearWhole whether any value of at least 0.5
// lies within 1e-9 of a whole number.
MP3ENC_KERNEL double ScaleAndTruncate(const double* root, double scale, double cap, int end, int32_t* ix,
                                      bool* nearWhole) {
    V4l edges = {0, 0, 0, 0};
    V4d tops = {0.0, 0.0, 0.0, 0.0};
    for (int i = 0; i < end; i += 4) {
        V4d yv;
        std::memcpy(&yv, root + i, sizeof yv);
        yv *= scale;
        yv = yv < cap ? yv : cap;
        const V4i q = __builtin_convertvector(yv, V4i);
        std::memcpy(ix + i, &q, sizeof q);
        V4d distance = yv - __builtin_convertvector(q, V4d) - 0.5;  // +-0.5 next to a whole number
        distance = distance < 0.0 ? -distance : distance;
        edges |= (yv >= 0.5) & (distance > 0.5 - 1e-9);
        tops = yv > tops ? yv : tops;
    }
    *nearWhole = (edges[0] | edges[1] | edges[2] | edges[3]) != 0;
    return std::max(std::max(tops[0], tops[1]), std::max(tops[2], tops[3]));
}

// Over the lines that are not 0: the sums of ln(xr^2) and of xr^2, in vectors of four
// (so in another order than one by one). The logarithm is ln m + k ln 2 for xr^2 =
// m 2^k, m within [sqrt(1/2), sqrt(2)), by the series 2 atanh((m - 1) / (m + 1)) to its
// 15th power, within 1e-13. False when a square is not a normal number, where the
// series does not hold.
MP3ENC_KERNEL bool ApproximateSums(const double* xr, double* sumLog, double* sumE) {
    constexpr double kLn2 = 0.6931471805599453;
    V4d logs = {0.0, 0.0, 0.0, 0.0}, energies = logs;
    V4l odd = {0, 0, 0, 0};
    for (int i = 0; i < kGranuleLines; i += 4) {
        V4d x;
        std::memcpy(&x, xr + i, sizeof x);
        const V4d e = x * x;
        const V4l used = x != 0.0;
        odd |= used & ((e < 2.2250738585072014e-308) | (e > 1.7976931348623157e308));  // not normal
        V4l bits;
        std::memcpy(&bits, &e, sizeof bits);
        V4l k = (bits >> 52) - 1023;
        bits = (bits & 0x000FFFFFFFFFFFFF) | 0x3FF0000000000000;  // m in [1, 2)
        V4d m;
        std::memcpy(&m, &bits, sizeof m);
        const V4l high = m > 1.4142135623730951;
        m = high ? m * 0.5 : m;
        k -= high;  // high is -1 where true
        const V4d s = (m - 1.0) / (m + 1.0), s2 = s * s;
        static constexpr double kTerms[7] = {1.0 / 13, 1.0 / 11, 1.0 / 9, 1.0 / 7, 1.0 / 5, 1.0 / 3, 1.0};
        V4d p = {1.0 / 15, 1.0 / 15, 1.0 / 15, 1.0 / 15};
#pragma GCC unroll 7
        for (const double c : kTerms) p = p * s2 + c;
        const V4d ln = __builtin_convertvector(k, V4d) * kLn2 + 2.0 * s * p;
        logs += used ? ln : 0.0;
        energies += used ? e : 0.0;
    }
    *sumLog = (logs[0] + logs[1]) + (logs[2] + logs[3]);
    *sumE = (energies[0] + energies[1]) + (energies[2] + energies[3]);
    return (odd[0] | odd[1] | odd[2] | odd[3]) == 0;
}

// The group of small tables whose first (by number) is the first with xlen above m, for
// 0 < m < 15.
int SmallTableGroup(int32_t m) {
    if (m < 2) return 0;
    if (m < 3) return 1;
    if (m < 4) return 2;
    if (m < 6) return 3;
    if (m < 8) return 4;
    return 5;
}

}  // namespace

// Tables 1..15 that share xlen and ylen, the first of each group by number; 0 for none.
const int QuantLoop::kGroups[6][3] = {{1, 0, 0}, {2, 3, 0}, {5, 6, 0}, {7, 8, 9}, {10, 11, 12}, {13, 15, 0}};

QuantLoop::QuantLoop(const FrameSettings& settings, const HuffTableSet& tables)
    : settings_(settings), tables_(tables), sfb_(kSfbLong[settings.sampleRateIndex >= 0 ? settings.sampleRateIndex : 0]) {
    // Code length plus sign bits of every pair of tables 1..15.
    uint8_t pairBits[16][256] = {};
    for (int t = 1; t <= 15; ++t) {
        const HuffTable& h = tables_.tables[t];
        for (int x = 0; x < h.xlen; ++x)
            for (int y = 0; y < h.ylen; ++y)
                pairBits[t][x * h.ylen + y] = static_cast<uint8_t>(h.lengths[x * h.ylen + y] + (x != 0) + (y != 0));
    }
    for (int g = 0; g < 6; ++g)
        for (int p = 0; p < 256; ++p)
            for (int k = 0; k < 3; ++k)
                if (kGroups[g][k] != 0)
                    groupBits_[g][p] |= static_cast<uint64_t>(pairBits[kGroups[g][k]][p]) << (kField * k);
    const uint8_t* len16 = tables_.tables[16].lengths;
    const uint8_t* len24 = tables_.tables[24].lengths;
    for (int x = 0; x < 16; ++x)
        for (int y = 0; y < 16; ++y) {
            const int signs = (x != 0) + (y != 0);
            escapeBits_[x * 16 + y] = static_cast<uint64_t>(len16[x * 16 + y] + signs) |
                                      static_cast<uint64_t>(len24[x * 16 + y] + signs) << kField;
        }
    for (int p = 0; p < 16; ++p) {
        const int n = (p >> 3 & 1) + (p >> 2 & 1) + (p >> 1 & 1) + (p & 1);
        quadBits_[p] = static_cast<uint32_t>(tables_.tables[32].lengths[p] + n) |
                       static_cast<uint32_t>(tables_.tables[33].lengths[p] + n) << 16;
    }
}

double QuantLoop::FirstGuess(const double* xr) {
    // Only the guess truncated to a whole number matters, so sums that are near enough
    // decide it unless it lies next to a whole number; those sums are off from the exact
    // ones by less than 1e-6 in all, which moves r by less than 1e-8.
    double approxLog = 0.0, approxE = 0.0;
    if (ApproximateSums(xr, &approxLog, &approxE)) {
        if (approxE == 0.0) return -70.0;
        const double mean = approxLog / 576;
        if (mean > -700.0) {  // exp(mean) stays a normal number
            const double r = 8.0 * std::log(std::exp(mean) / (approxE / 576));
            const double below = std::floor(r);
            if (r - below > 1e-6 && r - below < 1.0 - 1e-6) return (r >= -100.0 ? std::trunc(r) : -100.0) - 70.0;
        }
    }
    double sumLog = 0.0, sumE = 0.0;
    for (int i = 0; i < kGranuleLines; ++i) {
        if (xr[i] == 0.0) continue;
        const double e = xr[i] * xr[i];
        sumLog += std::log(e);
        sumE += e;
    }
    if (sumE == 0.0) return -70.0;
    double r = 8.0 * std::log(std::exp(sumLog / 576) / (sumE / 576));
    if (!(r >= -100.0)) r = -100.0;  // also a flatness of -inf when a square underflows
    return std::trunc(r) - 70.0;
}

void QuantLoop::SetBlock(const double* xr) {
    for (int i = 0; i < kGranuleLines; ++i) abs_[i] = std::fabs(xr[i]);
    double m = 0.0;
    for (int i = kGranuleLines - 1; i >= 0; --i) {
        m = abs_[i] > m ? abs_[i] : m;
        tailMax_[i] = m;
    }
    rootEnd_ = 0;
}

int32_t QuantLoop::Quantise(double step, int32_t* ix) {
    const double stepsize = std::pow(2.0, step * 0.25);
    // Lines from `end` on are below 0.999 steps and quantise to 0; so does everything
    // when the largest line is.
    const double zeroBelow = 0.999 * stepsize;
    int end = kGranuleLines;
    if (!(tailMax_[0] >= zeroBelow)) {
        end = 0;
    } else {
        int low = 0;  // tailMax_[low] >= zeroBelow; find the first index where it is not
        while (end - low > 1) {
            const int mid = (low + end) / 2;
            if (tailMax_[mid] >= zeroBelow) low = mid;
            else end = mid;
        }
        end = (end + 3) & ~3;  // whole vectors of four for the loops below
    }
    for (int i = end; i < kGranuleLines; ++i) ix[i] = 0;
    zeroFrom_ = end;
    if (end == 0) return 0;

    // The powers are taken as far as some step needs them.
    if (end > rootEnd_) {
        Roots(abs_, rootEnd_, end, root_);
        rootEnd_ = end;
    }
    // |xr|^0.75 * stepsize^-0.75 is (|xr| / stepsize)^0.75 within a few units in the
    // last place, so it truncates to the same whole number as pow unless it lies next to
    // one; those few lines are done again with pow.
    constexpr double kCap = kMaxQuantised + 0.5;
    const double scale = 1.0 / std::sqrt(stepsize * std::sqrt(stepsize));
    bool nearWhole = false;
    const double top = ScaleAndTruncate(root_, scale, kCap, end, ix, &nearWhole);
    int32_t largest = static_cast<int32_t>(top);
    if (nearWhole) {
        largest = 0;
        for (int i = 0; i < end; ++i) {
            double y = root_[i] * scale;
            y = y < kCap ? y : kCap;
            const double frac = y - ix[i];
            if (y >= 0.5 && y < kCap && (frac < 1e-9 || frac > 1.0 - 1e-9)) {
                const double p = std::pow(abs_[i] / stepsize, 0.75);
                ix[i] = p >= kMaxQuantised ? kMaxQuantised : static_cast<int32_t>(p);
            }
            largest = ix[i] > largest ? ix[i] : largest;
        }
    }
    return largest;
}

void QuantLoop::Runs(const int32_t* ix, GranuleInfo& gi, int end) {
    int i = end;
    while (i > 1 && ix[i - 1] == 0 && ix[i - 2] == 0) i -= 2;
    gi.count1 = 0;
    while (i > 3 && std::abs(ix[i - 1]) <= 1 && std::abs(ix[i - 2]) <= 1 && std::abs(ix[i - 3]) <= 1 &&
           std::abs(ix[i - 4]) <= 1) {
        gi.count1 += 1;
        i -= 4;
    }
    gi.big_values = i / 2;
}

int32_t QuantLoop::Count1Bits(const int32_t* ix, GranuleInfo& gi) const {
    if (gi.count1 == 0) {
        gi.count1table_select = 1;
        return 0;
    }
    // Both tables' sums side by side: 144 quadruples of at most 10 bits fit 16 bits.
    uint32_t sums = 0;
    for (int q = 0, j = 2 * gi.big_values; q < gi.count1; ++q, j += 4) {
        const int v = std::abs(ix[j]), w = std::abs(ix[j + 1]), x = std::abs(ix[j + 2]), y = std::abs(ix[j + 3]);
        sums += quadBits_[8 * v + 4 * w + 2 * x + y];
    }
    const int32_t sumA = static_cast<int32_t>(sums & 0xFFFF), sumB = static_cast<int32_t>(sums >> 16);
    if (sumA < sumB) {
        gi.count1table_select = 0;
        return sumA;
    }
    gi.count1table_select = 1;
    return sumB;
}

void QuantLoop::RegionSplit(GranuleInfo& gi) const {
    if (gi.big_values == 0) {
        gi.region0_count = 0;
        gi.region1_count = 0;
        return;
    }
    const int32_t b = 2 * gi.big_values;
    int a = 0;
    while (sfb_[a] < b) ++a;
    int32_t r0 = kRegion0[a];
    while (r0 > 0 && sfb_[r0 + 1] > b) --r0;
    int32_t r1 = kRegion1[a];
    while (r1 > 0 && sfb_[r0 + r1 + 2] > b) --r1;
    gi.region0_count = r0;
    gi.region1_count = r1;
    gi.region1start = sfb_[r0 + 1];
    gi.region2start = sfb_[r0 + r1 + 2];
    gi.bigvalues_region = b;
}

int QuantLoop::ChooseTable(const int32_t* ix, int begin, int end, int32_t* bits) const {
    int32_t m = 0;
    for (int i = begin; i < end; ++i) {
        const int32_t a = std::abs(ix[i]);
        if (a > m) m = a;
    }
    *bits = 0;
    if (m == 0) return 0;
    constexpr uint64_t kMask = (uint64_t{1} << kField) - 1;
    if (m < 15) {
        // The first table and its alternatives share xlen and ylen: their sums run side by
        // side in one word.
        const int g = SmallTableGroup(m);
        const uint64_t* len = groupBits_[g];
        const int ylen = tables_.tables[kGroups[g][0]].ylen;
        uint64_t sums = 0;
        for (int i = begin; i < end; i += 2) sums += len[std::abs(ix[i]) * ylen + std::abs(ix[i + 1])];
        int t = kGroups[g][0];
        int32_t best = static_cast<int32_t>(sums & kMask);
        for (int k = 1; k < 3; ++k) {
            const int32_t sum = static_cast<int32_t>(sums >> (kField * k) & kMask);
            if (kGroups[g][k] != 0 && sum <= best) {
                best = sum;
                t = kGroups[g][k];
            }
        }
        *bits = best;
        return t;
    }
    int t1 = 16, t2 = 24;
    while (t1 < 23 && tables_.tables[t1].linmax < m - 15) ++t1;
    while (t2 < 31 && tables_.tables[t2].linmax < m - 15) ++t2;
    // Tables 16..23 share one code and 24..31 another; only the linbits differ.
    uint64_t sums = 0;
    int32_t escapes = 0;
    for (int i = begin; i < end; i += 2) {
        const int x = std::abs(ix[i]), y = std::abs(ix[i + 1]);
        escapes += (x > 14) + (y > 14);
        sums += escapeBits_[(x > 14 ? 15 : x) * 16 + (y > 14 ? 15 : y)];
    }
    const int32_t b1 = static_cast<int32_t>(sums & kMask) + escapes * tables_.tables[t1].linbits;
    const int32_t b2 = static_cast<int32_t>(sums >> kField & kMask) + escapes * tables_.tables[t2].linbits;
    if (b2 < b1) {
        *bits = b2;
        return t2;
    }
    *bits = b1;
    return t1;
}

int32_t QuantLoop::ChooseTables(const int32_t* ix, GranuleInfo& gi, int32_t limit) const {
    gi.table_select[0] = gi.table_select[1] = gi.table_select[2] = 0;
    int32_t total = 0, bits = 0;
    if (gi.region1start > 0) {
        gi.table_select[0] = ChooseTable(ix, 0, gi.region1start, &bits);
        total += bits;
        if (total > limit) return total;
    }
    if (gi.region2start > gi.region1start) {
        gi.table_select[1] = ChooseTable(ix, gi.region1start, gi.region2start, &bits);
        total += bits;
        if (total > limit) return total;
    }
    if (2 * gi.big_values > gi.region2start) {
        gi.table_select[2] = ChooseTable(ix, gi.region2start, 2 * gi.big_values, &bits);
        total += bits;
    }
    return total;
}

int32_t QuantLoop::CountBits(const int32_t* ix, GranuleInfo& gi, int32_t largest, int32_t limit) const {
    Runs(ix, gi, zeroFrom_);
    if (largest > kLargestCountedLine) return kUncountedBits;
    const int32_t count1Bits = Count1Bits(ix, gi);
    RegionSplit(gi);
    return count1Bits + ChooseTables(ix, gi, limit - count1Bits);
}

int32_t QuantLoop::QuantiseBlock(const double* xr, int32_t* ix, GranuleInfo& gi, int32_t maxBits) {
    gi = GranuleInfo{};
    SetBlock(xr);
    const double guess = FirstGuess(xr);
    gi.step = guess;

    int32_t low = static_cast<int32_t>(guess), high = kHighestSearchStep, prev = low;
    searchCount = 0;
    for (;;) {
        const int32_t mid = (low + high) >> 1;
        if (searchCount < 16) searchSteps[searchCount++] = mid;
        gi.step = mid;
        const int32_t count = CountBits(ix, gi, Quantise(gi.step, ix), maxBits);
        if (count > maxBits)
            low = mid;
        else
            high = mid;
        if (count == maxBits || std::abs(prev - mid) <= 1) break;
        prev = mid;
    }

    if (maxBits < 0) gi.step -= 1;
    int32_t bits = 0;
    for (;;) {
        gi.step += 1;
        if (Quantise(gi.step, ix) > kLargestSettledLine) continue;
        Runs(ix, gi, zeroFrom_);
        const int32_t count1Bits = Count1Bits(ix, gi);
        RegionSplit(gi);
        bits = count1Bits + ChooseTables(ix, gi, maxBits - count1Bits);
        if (bits <= maxBits) break;
    }
    return bits;
}

void QuantLoop::QuantiseFrame(const double* spectrum, SideInfo& side, int32_t* ix, int32_t meanBits, int channels) {
    const int32_t maxBits = meanBits / channels;
    sfb_ = kSfbLong[settings_.sampleRateIndex >= 0 ? settings_.sampleRateIndex : 0];
    for (int g = 0; g < 2; ++g)
        for (int c = 0; c < channels; ++c) {
            GranuleInfo& gi = side.at(g, c);
            const int block = (2 * g + c) * kGranuleLines;
            const int32_t bits = QuantiseBlock(spectrum + block, ix + block, gi, maxBits);
            gi.part2_3_length = bits;
            leftover_ += maxBits - bits;
            gi.global_gain = static_cast<int32_t>(std::trunc(gi.step)) + kGlobalGainOffset;
        }
    // The unused bits become stuffing, in granule 0 channel 0 first; a block takes no
    // more than its 12-bit length field holds (at 32000 Hz one block cannot hold them all).
    for (int g = 0; g < 2 && leftover_ > 0; ++g)
        for (int c = 0; c < channels && leftover_ > 0; ++c) {
            GranuleInfo& gi = side.at(g, c);
            const int32_t room = kMaxPart23Length - gi.part2_3_length;
            const int32_t add = leftover_ < room ? leftover_ : room;
            gi.part2_3_length += add;
            leftover_ -= add;
        }
    leftover_ = 0;
}

}  // namespace mp3enc
