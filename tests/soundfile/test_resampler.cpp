// Sample-rate conversion of PCM WAV images. Expected values are computed here from the
// interpolation formulas, independently of the reader's code.
#include <gtest/gtest.h>

#include <cmath>

#include "sound_fixtures.h"
#include "soundfile/sound_file.h"

namespace {

using fixtures::Bytes;

int16_t Truncated(double v) { return int16_t(std::max(-32768.0, std::min(32767.0, v))); }

// Cosine blend of a and b at fraction t, truncated toward zero (stereo).
int16_t Cosine(int16_t a, int16_t b, double t) {
    const double w = (1 - std::cos(t * 3.14159265359)) / 2;
    return Truncated((a / 32768.0 * (1 - w) + b / 32768.0 * w) * 32768.0);
}

// Cubic through y0..y3 at t between y1 and y2.
int16_t CubicAt(int16_t s0, int16_t s1, int16_t s2, int16_t s3, double t) {
    const double y0 = s0 / 32768.0, y1 = s1 / 32768.0, y2 = s2 / 32768.0, y3 = s3 / 32768.0;
    const double a0 = y3 - y2 - y0 + y1, a1 = y0 - y1 - a0, a2 = y2 - y0, a3 = y1;
    return Truncated((a0 * t * t * t + a1 * t * t + a2 * t + a3) * 32768.0);
}

// Output frame k's source position: the step added k times, as the converter advances.
std::vector<double> Positions(size_t count, double step) {
    std::vector<double> positions(count);
    double position = 0;
    for (size_t k = 0; k < count; ++k, position += step) positions[k] = position;
    return positions;
}

// Reads the whole file; returns the interleaved output trimmed to the frames delivered.
std::vector<int16_t> ReadAll(SoundFile& file) {
    std::vector<int16_t> all, block(size_t(kBlockFrames) * file.channels);
    while (uint32_t frames = file.ReadBlock(block.data()))
        all.insert(all.end(), block.begin(), block.begin() + frames * file.channels);
    return all;
}

TEST(Resampler, UpsamplingCopiesThenBlendsWithTheCosineThenTheCubic) {
    const std::vector<int16_t> source = fixtures::Music(44100, 2, 44100);
    const Bytes wav = fixtures::MakeWav(1, 2, 44100, 16, fixtures::Samples(source));
    Mp3Decoder decoder;
    SoundFile file;
    file.Open(wav.data(), uint32_t(wav.size()), 48000, decoder);
    ASSERT_TRUE(file.ready);
    EXPECT_TRUE(file.resampling);
    EXPECT_EQ(file.readerKind, 2u);
    EXPECT_DOUBLE_EQ(file.stepRatio, 0.91875);
    EXPECT_EQ(file.totalFrames, 48000u);
    EXPECT_EQ(file.blockCount, 11u);

    const std::vector<int16_t> out = ReadAll(file);
    ASSERT_EQ(out.size(), 48000u * 2);  // every frame of totalFrames is delivered
    auto src = [&](int frame, int c) { return source[size_t(frame) * 2 + c]; };
    for (int c = 0; c < 2; ++c) {
        EXPECT_EQ(out[c], src(0, c));
        EXPECT_EQ(out[2 + c], Cosine(src(0, c), src(1, c), 0.91875));
        EXPECT_EQ(out[4 + c], Cosine(src(1, c), src(2, c), 0.8375));
        // Position 2.75625: the cubic over frames 1..4.
        EXPECT_EQ(out[6 + c], CubicAt(src(1, c), src(2, c), src(3, c), src(4, c), 0.75625));
    }
    // Further on, across block boundaries, every frame is the cubic at k * step.
    const std::vector<double> positions = Positions(48000, 0.91875);
    for (int k : {1000, 4607, 4608, 4609, 30001, 47990}) {
        const double position = positions[k];
        const int i = int(std::floor(position));
        const double t = position - i;
        for (int c = 0; c < 2; ++c) {
            const int16_t expected = t == 0 ? src(i, c)
                                            : CubicAt(src(i - 1, c), src(i, c), src(i + 1, c),
                                                      src(std::min(i + 2, 44099), c), t);
            ASSERT_EQ(out[size_t(k) * 2 + c], expected) << "frame " << k;
        }
    }
    // After the end: 0, and the block untouched.
    std::vector<int16_t> block(kBlockFrames * 2, 99);
    EXPECT_EQ(file.ReadBlock(block.data()), 0u);
    EXPECT_EQ(block[0], 99);
}

TEST(Resampler, PositionsOnSourceFramesCopyThem) {
    // Doubling the rate: every second output frame lies on a source frame.
    const std::vector<int16_t> source = fixtures::Music(3000, 1, 24000);
    const Bytes wav = fixtures::MakeWav(1, 1, 24000, 16, fixtures::Samples(source));
    Mp3Decoder decoder;
    SoundFile file;
    file.Open(wav.data(), uint32_t(wav.size()), 48000, decoder);
    ASSERT_TRUE(file.ready);
    EXPECT_EQ(file.totalFrames, 6000u);
    const std::vector<int16_t> out = ReadAll(file);
    ASSERT_EQ(out.size(), 6000u);
    for (size_t k = 0; k < out.size(); k += 2) ASSERT_EQ(out[k], source[k / 2]) << k;
    // Mono start rounds the cosine blend down: position 0.5 is the plain mean.
    EXPECT_EQ(out[1], int16_t(std::floor((source[0] + source[1]) / 2.0)));
    EXPECT_EQ(out[3], int16_t(std::floor((source[1] + source[2]) / 2.0)));
}

TEST(Resampler, FullScaleSquareWaveIsLimitedNotWrapped) {
    // Eight frames up, eight down: the cubic overshoots next to every edge.
    std::vector<int16_t> source(2 * 4000);
    for (size_t i = 0; i < 4000; ++i) source[2 * i] = source[2 * i + 1] = (i / 8) % 2 ? -32768 : 32767;
    const Bytes wav = fixtures::MakeWav(1, 2, 44100, 16, fixtures::Samples(source));
    Mp3Decoder decoder;
    SoundFile file;
    file.Open(wav.data(), uint32_t(wav.size()), 48000, decoder);
    ASSERT_TRUE(file.ready);
    const std::vector<int16_t> out = ReadAll(file);
    int limitedHigh = 0, limitedLow = 0;
    const std::vector<double> positions = Positions(out.size() / 2, 0.91875);
    for (size_t k = 3; k < out.size() / 2; ++k) {
        const double position = positions[k];
        const size_t i = size_t(position);
        if (i + 1 >= 4000) break;
        const int16_t y1 = source[2 * i], y2 = source[2 * (i + 1)];
        if (y1 == 32767 && y2 == 32767) {
            ASSERT_EQ(out[2 * k], 32767) << k;
            ASSERT_EQ(out[2 * k + 1], 32767) << k;
            ++limitedHigh;
        } else if (y1 == -32768 && y2 == -32768) {
            ASSERT_EQ(out[2 * k], -32768) << k;
            ++limitedLow;
        }
    }
    EXPECT_GT(limitedHigh, 1000);
    EXPECT_GT(limitedLow, 1000);
}

TEST(Resampler, DownsamplingAndShortFiles) {
    const std::vector<int16_t> source = fixtures::Music(48000, 1, 48000);
    const Bytes wav = fixtures::MakeWav(1, 1, 48000, 16, fixtures::Samples(source));
    Mp3Decoder decoder;
    SoundFile file;
    file.Open(wav.data(), uint32_t(wav.size()), 44100, decoder);
    ASSERT_TRUE(file.ready);
    EXPECT_EQ(file.totalFrames, 44100u);
    EXPECT_EQ(ReadAll(file).size(), 44100u);

    // Two source frames: too few for the cubic's neighbours, yet nothing is read past
    // them (the address sanitizer run checks the reads).
    const Bytes tiny = fixtures::MakeWav(1, 2, 8000, 16, fixtures::Samples({100, -100, 300, -300}));
    SoundFile tinyFile;
    tinyFile.Open(tiny.data(), uint32_t(tiny.size()), 48000, decoder);
    ASSERT_TRUE(tinyFile.ready);
    EXPECT_EQ(tinyFile.totalFrames, 12u);
    const std::vector<int16_t> out = ReadAll(tinyFile);
    ASSERT_EQ(out.size(), 24u);
    EXPECT_EQ(out[0], 100);
    EXPECT_EQ(out[1], -100);
    EXPECT_EQ(out[22], 300);  // the last frame is held, not invented
    EXPECT_EQ(out[23], -300);

    // A huge ratio neither overflows the frame counts nor reads past the data.
    SoundFile wide;
    wide.Open(tiny.data(), uint32_t(tiny.size()), 4000000000u, decoder);
    ASSERT_TRUE(wide.ready);
    EXPECT_EQ(wide.totalFrames, 1000000u);
    SoundFile narrow;
    narrow.Open(wav.data(), uint32_t(wav.size()), 1, decoder);
    ASSERT_TRUE(narrow.ready);
    EXPECT_EQ(narrow.totalFrames, 1u);
    EXPECT_EQ(ReadAll(narrow).size(), 1u);
}

TEST(Resampler, SeekRestartsTheStartSequence) {
    const std::vector<int16_t> source = fixtures::Music(10 * 4608, 2, 44100);
    const Bytes wav = fixtures::MakeWav(1, 2, 44100, 16, fixtures::Samples(source));
    Mp3Decoder decoder;
    SoundFile file;
    file.Open(wav.data(), uint32_t(wav.size()), 48000, decoder);
    ASSERT_TRUE(file.ready);
    std::vector<int16_t> block(kBlockFrames * 2);
    file.ReadBlock(block.data());

    file.SeekToBlock(3);
    // Block 3 starts at output frame 13824, source frame floor(13824 * 0.91875) = 12700.
    const size_t at = 12700;
    ASSERT_EQ(file.ReadBlock(block.data()), 4608u);
    for (int c = 0; c < 2; ++c) {
        EXPECT_EQ(block[c], source[at * 2 + c]);
        EXPECT_EQ(block[2 + c], Cosine(source[at * 2 + c], source[(at + 1) * 2 + c], 0.91875));
        EXPECT_EQ(block[6 + c], CubicAt(source[(at + 1) * 2 + c], source[(at + 2) * 2 + c],
                                        source[(at + 3) * 2 + c], source[(at + 4) * 2 + c], 0.75625));
    }
    // From there to the end: the remaining source frames at the new rate.
    size_t frames = 4608;
    while (uint32_t n = file.ReadBlock(block.data())) frames += n;
    EXPECT_EQ(frames, size_t(std::floor((10 * 4608 - at) * 48000.0 / 44100.0)));
}

}  // namespace
