// Constant data of the MPEG-1 audio standard that the encoder needs, generated into
// tables.cpp from tests/mp3enc/data/mpeg-audio-tables.txt by scripts/gen_mp3enc_tables.py.
#pragma once

#include <cstdint>

namespace mp3enc {

// Analysis window of the polyphase filterbank, to six decimal places.
extern const double kAnalysisWindow[512];

// One Huffman code table as the standard prints it: xlen rows by ylen columns,
// codewords right-aligned, lengths without sign bits or linbits. Numbers 32 and 33 are
// the count1 tables A and B (1 x 16, indexed by the quadruple).
struct HuffSource {
    int32_t number;
    int32_t xlen;
    int32_t ylen;
    const uint32_t* codes;
    const uint8_t* lengths;
};
constexpr int kHuffSourceCount = 17;
extern const HuffSource kHuffSources[kHuffSourceCount];

// Long-block scale-factor band boundaries, by sample-rate index (44100, 48000, 32000 Hz).
extern const int32_t kSfbLong[3][23];

}  // namespace mp3enc
