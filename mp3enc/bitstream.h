// Huffman tables, pair coding and frame assembly: a frame's header, side information and
// main data are collected as lists of (value, bit count) entries and drained through an
// MSB-first bit writer into the output file, one whole frame at a time.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "mp3enc/frame_types.h"

namespace mp3enc {

struct HuffTable {
    int32_t xlen = 0;
    int32_t ylen = 0;
    int32_t linbits = 0;
    int32_t linmax = 0;
    const uint32_t* codes = nullptr;   // index x * ylen + y (count1: the quadruple)
    const uint8_t* lengths = nullptr;  // without sign bits or linbits
};

// Tables 0..31 for pairs (0, 4 and 14 empty; 16..23 and 24..31 share the codes of 16
// and 24), 32 and 33 the count1 tables A and B.
class HuffTableSet {
public:
    HuffTableSet();
    HuffTable tables[34];
};

struct PairCode {
    uint32_t code = 0;
    int32_t codeBits = 0;
    uint32_t extension = 0;  // linbits and signs of the escape tables
    int32_t extensionBits = 0;
};

// Codes the pair (x, y) with table t; returns the total bits. Tables up to 15 carry the
// signs below the codeword, the escape tables 16..31 in the extension.
int32_t CodePair(const HuffTableSet& set, int t, int32_t x, int32_t y, PairCode* out);

class BitList {
public:
    struct Entry {
        uint32_t value;
        int32_t bits;
    };
    explicit BitList(int startEntries = 0) { entries.reserve(startEntries); }
    void Reset() {
        entries.clear();
        totalBits = 0;
    }
    void Append(uint32_t value, int32_t bits) {
        entries.push_back({value, bits});
        totalBits += bits;
    }
    std::vector<Entry> entries;
    int32_t totalBits = 0;
};

class BitWriter {
public:
    static constexpr int kBufferBytes = 2048;  // one frame; 128 kbit/s frames are at most 576
    explicit BitWriter(std::FILE* file) : file_(file) {}
    // Appends the low n bits of value, most significant first.
    void Put(uint32_t value, int32_t n);
    // Hands the complete bytes to the file; write errors are not looked at.
    void Flush();
    int32_t BufferedBytes() const { return byteCount_; }
    int32_t FreeBits() const { return freeBits_; }
    int32_t WriteCount() const { return writeCount_; }

private:
    std::FILE* file_;
    uint8_t buffer_[kBufferBytes] = {};
    uint32_t byte_ = 0;
    int32_t byteCount_ = 0;
    int32_t freeBits_ = 8;
    int32_t writeCount_ = 0;
};

inline void BitWriter::Put(uint32_t value, int32_t n) {
    if (n <= 0) return;
    if (n > 32) n = 32;
    // The bits already in the byte being filled, then the low n bits of value.
    const int32_t filled = 8 - freeBits_;
    const uint64_t bits = n == 32 ? value : (value & ((1u << n) - 1u));
    const uint64_t acc = (static_cast<uint64_t>(byte_ >> freeBits_) << n) | bits;
    int32_t total = filled + n;
    while (total >= 8) {
        total -= 8;
        if (byteCount_ < kBufferBytes) buffer_[byteCount_++] = static_cast<uint8_t>(acc >> total);
    }
    freeBits_ = 8 - total;
    byte_ = static_cast<uint32_t>((acc << freeBits_) & 0xFFu);
}

class FrameFormatter {
public:
    // Builds the two header templates from the settings as they are now.
    FrameFormatter(const FrameSettings& settings, const HuffTableSet& tables, BitWriter& writer);
    void CodeSideInfo(const SideInfo& side);
    // ix: the frame's 2 x 2 x 576 signed quantised lines, granule-major.
    void CodeMainData(const int32_t* ix, const SideInfo& side);
    void WriteFrame();

    const BitList& Header(int padding) const { return header_[padding]; }
    const BitList& MainData(int granule, int channel) const { return mainData_[granule * 2 + channel]; }

private:
    int Channels() const { return settings_.mode == 3 ? 1 : 2; }
    void CodeGranule(const int32_t* ix, const GranuleInfo& gi, BitList& list);

    const FrameSettings& settings_;
    const HuffTableSet& tables_;
    BitWriter& writer_;
    BitList header_[2];
    BitList frameSide_{2};
    BitList scfsi_[2]{BitList(4), BitList(4)};
    BitList granuleSide_[4]{BitList(13), BitList(13), BitList(13), BitList(13)};
    // Worst case of one block: 288 pairs of codeword + extension, or 144 quadruples of
    // codeword + 4 signs, plus 4095 / 32 + 1 stuffing entries.
    static constexpr int kMainDataEntries = 1024;
    BitList mainData_[4]{BitList(kMainDataEntries), BitList(kMainDataEntries),
                         BitList(kMainDataEntries), BitList(kMainDataEntries)};
};

}  // namespace mp3enc
