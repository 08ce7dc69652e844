// The sound file reader over 16-bit PCM WAV images, at the file's own rate.
#include <gtest/gtest.h>

#include "sound_fixtures.h"
#include "soundfile/sound_file.h"

namespace {

using fixtures::Bytes;

// Frame i holds i (left) and -i (right), or i alone in mono, modulo 30000.
Bytes CountingWav(uint32_t frames, uint32_t channels, uint32_t rate) {
    std::vector<int16_t> samples(size_t(frames) * channels);
    for (uint32_t i = 0; i < frames; ++i) {
        samples[size_t(i) * channels] = int16_t(i % 30000);
        if (channels == 2) samples[size_t(i) * 2 + 1] = int16_t(-int32_t(i % 30000));
    }
    return fixtures::MakeWav(1, channels, rate, 16, fixtures::Samples(samples));
}

// Checks that out holds frames first.. of CountingWav for `count` frames.
void ExpectCounting(const std::vector<int16_t>& out, uint32_t channels, uint32_t first, uint32_t count) {
    for (uint32_t f = 0; f < count; ++f) {
        const int16_t expected = int16_t((first + f) % 30000);
        ASSERT_EQ(out[size_t(f) * channels], expected) << "frame " << f;
        if (channels == 2) {
            ASSERT_EQ(out[size_t(f) * 2 + 1], -expected) << "frame " << f;
        }
    }
}

TEST(PcmReader, BlocksEndWithAZeroFilledShortBlockThenNothing) {
    const Bytes wav = CountingWav(10000, 2, 44100);
    Mp3Decoder decoder;
    SoundFile file;
    file.Open(wav.data(), uint32_t(wav.size()), 44100, decoder);
    ASSERT_TRUE(file.ready);
    EXPECT_EQ(file.format, 1u);
    EXPECT_EQ(file.readerKind, 0u);
    EXPECT_EQ(file.channels, 2u);
    EXPECT_EQ(file.sampleRate, 44100u);
    EXPECT_EQ(file.sourceFrames, 10000u);
    EXPECT_EQ(file.totalFrames, 10000u);
    EXPECT_EQ(file.blockCount, 3u);
    EXPECT_FALSE(file.resampling);

    std::vector<int16_t> block(kBlockFrames * 2, 0x7777);
    ASSERT_EQ(file.ReadBlock(block.data()), 4608u);
    ExpectCounting(block, 2, 0, 4608);
    ASSERT_EQ(file.ReadBlock(block.data()), 4608u);
    ExpectCounting(block, 2, 4608, 4608);
    ASSERT_EQ(file.ReadBlock(block.data()), 784u);
    ExpectCounting(block, 2, 9216, 784);
    for (size_t i = 784 * 2; i < block.size(); ++i) ASSERT_EQ(block[i], 0) << i;

    std::fill(block.begin(), block.end(), 0x5A5A);
    EXPECT_EQ(file.ReadBlock(block.data()), 0u);
    for (int16_t s : block) ASSERT_EQ(s, 0x5A5A);

    // Rewinding after the end replays from the first frame.
    file.Rewind();
    ASSERT_EQ(file.ReadBlock(block.data()), 4608u);
    ExpectCounting(block, 2, 0, 4608);
}

TEST(PcmReader, MonoBlocksAreHalfTheBytes) {
    const Bytes wav = CountingWav(5000, 1, 8000);
    Mp3Decoder decoder;
    SoundFile file;
    file.Open(wav.data(), uint32_t(wav.size()), 8000, decoder);
    ASSERT_TRUE(file.ready);
    EXPECT_EQ(file.blockCount, 2u);
    // Room for one mono block plus a guard that must stay untouched.
    std::vector<int16_t> block(kBlockFrames + 16, 0x1234);
    ASSERT_EQ(file.ReadBlock(block.data()), 4608u);
    ASSERT_EQ(file.ReadBlock(block.data()), 392u);
    ExpectCounting(block, 1, 4608, 392);
    for (size_t i = 392; i < kBlockFrames; ++i) ASSERT_EQ(block[i], 0);
    for (size_t i = kBlockFrames; i < block.size(); ++i) ASSERT_EQ(block[i], 0x1234);
}

TEST(PcmReader, SeekGoesToTheBlockWithinLimits) {
    const Bytes wav = CountingWav(10 * 4608, 1, 44100);
    Mp3Decoder decoder;
    SoundFile file;
    file.Open(wav.data(), uint32_t(wav.size()), 44100, decoder);
    ASSERT_TRUE(file.ready);
    ASSERT_EQ(file.blockCount, 10u);
    std::vector<int16_t> block(kBlockFrames);

    file.SeekToBlock(3);
    ASSERT_EQ(file.ReadBlock(block.data()), 4608u);
    ExpectCounting(block, 1, 3 * 4608, 4608);

    for (int32_t rewinding : {0, -3, INT32_MIN}) {
        file.ReadBlock(block.data());
        file.SeekToBlock(rewinding);
        ASSERT_EQ(file.ReadBlock(block.data()), 4608u);
        ExpectCounting(block, 1, 0, 4608);
    }

    // Past the end: limited to blockCount - 4.
    file.SeekToBlock(100);
    ASSERT_EQ(file.ReadBlock(block.data()), 4608u);
    ExpectCounting(block, 1, 6 * 4608, 4608);
    file.SeekToBlock(INT32_MAX);
    ASSERT_EQ(file.ReadBlock(block.data()), 4608u);
    ExpectCounting(block, 1, 6 * 4608, 4608);

    // A file of fewer than four blocks has a negative limit: any seek rewinds.
    const Bytes shortWav = CountingWav(3 * 4608 - 10, 1, 44100);
    SoundFile shortFile;
    shortFile.Open(shortWav.data(), uint32_t(shortWav.size()), 44100, decoder);
    ASSERT_TRUE(shortFile.ready);
    ASSERT_EQ(shortFile.blockCount, 3u);
    shortFile.ReadBlock(block.data());
    shortFile.ReadBlock(block.data());
    shortFile.SeekToBlock(2);
    ASSERT_EQ(shortFile.ReadBlock(block.data()), 4608u);
    ExpectCounting(block, 1, 0, 4608);
}

TEST(PcmReader, RefusedFilesAreNotReady) {
    Mp3Decoder decoder;
    auto ready = [&](const Bytes& image, uint32_t rate = 44100) {
        SoundFile file;
        file.Open(image.data(), uint32_t(image.size()), rate, decoder);
        return file.ready;
    };
    const Bytes payload(4000, 0x10);
    EXPECT_TRUE(ready(fixtures::MakeWav(1, 2, 44100, 16, payload)));
    EXPECT_FALSE(ready(fixtures::MakeWav(1, 2, 44100, 16, payload), 0));
    EXPECT_FALSE(ready(fixtures::MakeWav(1, 2, 44100, 8, payload)));
    EXPECT_FALSE(ready(fixtures::MakeWav(1, 2, 44100, 24, payload)));
    EXPECT_FALSE(ready(fixtures::MakeWav(1, 0, 44100, 16, payload)));
    EXPECT_FALSE(ready(fixtures::MakeWav(1, 6, 44100, 16, payload)));
    EXPECT_FALSE(ready(fixtures::MakeWav(1, 2, 44100, 16, {})));          // exactly 44 bytes
    EXPECT_FALSE(ready(fixtures::MakeWav(85, 2, 44100, 0, payload)));     // no MP3 frames inside
    EXPECT_FALSE(ready(Bytes(3000, 0x00)));                               // neither RIFF nor MP3
    EXPECT_FALSE(ready(Bytes{'R', 'I', 'F'}));
}

}  // namespace
