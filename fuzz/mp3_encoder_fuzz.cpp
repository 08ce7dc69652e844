// The encoder's entry points fed arbitrary 16-bit stereo PCM in blocks of any length, at
// each of its three rates. What comes out must be nothing but whole 128 kbit/s frames,
// as many as the blocks ask for plus the three of the close, at the rate's average size;
// every frame's four part2_3_length fields must add up to exactly its main data, and
// LAME's decoder must take every frame without a complaint and give all its samples.
//
// Input: byte 0 picks the rate (44100, 48000, 32000), bytes 1 and 2 the block length
// (1 to kBlockFrames sample frames), the rest is the PCM, interleaved left first. At most
// kMaxBlocks blocks are encoded: a short block still costs a whole frame.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/audio_block.h"
#include "tests/mp3enc/mp3_test_util.h"

namespace {

constexpr size_t kMaxBlocks = 8;

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int32_t kRates[3] = {44100, 48000, 32000};
    if (size < 3 || size > (1 << 16)) return 0;
    const int32_t rate = kRates[data[0] % 3];
    const int32_t blockFrames = int32_t((data[1] | data[2] << 8) % kBlockFrames) + 1;
    const size_t frames = std::min((size - 3) / 4, kMaxBlocks * size_t(blockFrames));
    mp3test::Pcm pcm(2 * frames);
    if (frames > 0) std::memcpy(pcm.data(), data + 3, 4 * frames);

    std::FILE* file = std::tmpfile();
    if (file == nullptr) return 0;
    Check(InitMp3Encoder(rate, file));
    size_t expected = 3;  // the close's
    for (size_t start = 0; start < frames; start += size_t(blockFrames)) {
        const int32_t n = int32_t(frames - start < size_t(blockFrames) ? frames - start : size_t(blockFrames));
        Check(EncodeMp3(pcm.data() + 2 * start, n) == 1);
        expected += size_t((n - 1) / 1152 + 1);
    }
    CloseMp3Encoder();
    const mp3test::Bytes stream = mp3test::ReadBack(file);
    std::fclose(file);

    const mp3test::Decoded decoded = mp3test::Decode(stream);
    Check(decoded.parsed);
    Check(decoded.frames.size() == expected);
    const double averageBytes = 1152.0 / (rate / 1000.0) * 128 / 8;
    Check(std::fabs(double(stream.size()) - averageBytes * double(expected)) < 1.0);
    for (const mp3test::Frame& frame : decoded.frames) {
        const uint8_t* bytes = stream.data() + frame.offset;
        Check((bytes[2] >> 2 & 3) == uint32_t(data[0] % 3));
        const mp3test::Side side = mp3test::ParseSide(bytes);
        Check(side.mainDataBegin == 0);
        uint32_t mainBits = 0;
        for (const auto& block : side.block) {
            Check(block[mp3test::kBigValues] <= 288);
            mainBits += block[mp3test::kPart23];
        }
        Check(mainBits == uint32_t(8 * frame.bytes - 288));
    }
    Check(decoded.errors == 0);
    Check(decoded.pcm.size() == decoded.frames.size() * 2304);
    return 0;
}
