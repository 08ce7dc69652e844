// Sample-rate conversion of PCM WAV images against the interpolation formulas written out here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "sound_fixtures.h"
#include "soundfile/sound_file.h"

namespace {

using fixtures::ReadAll;

int16_t Truncated(double v) { return int16_t(std::max(-32768.0, std::min(32767.0, v))); }

// Cosine blend of a and b at fraction t, truncated toward zero (stereo).
int16_t Cosine(int16_t a, int16_t b, double t) {
    const double w = (1 - std::cos(t * 3.14159265359)) / 2;
    return Truncated((a / 32768.0 * (1 - w) + b / 32768.0 * w) * 32768.0);
}

// Cubic through s0..s3 at t between s1 and s2.
int16_t CubicAt(int16_t s0, int16_t s1, int16_t s2, int16_t s3, double t) {
    const double y0 = s0 / 32768.0, y1 = s1 / 32768.0, y2 = s2 / 32768.0, y3 = s3 / 32768.0;
    const double a0 = y3 - y2 - y0 + y1, a1 = y0 - y1 - a0, a2 = y2 - y0, a3 = y1;
    return Truncated((a0 * t * t * t + a1 * t * t + a2 * t + a3) * 32768.0);
}

struct Converted : fixtures::Reader {  // a reader at `to` Hz over a PCM WAV of source at `from` Hz
    Converted(const std::vector<int16_t>& source, uint32_t channels, uint32_t from, uint32_t to)
        : Reader(fixtures::MakeWav(1, channels, from, 16, fixtures::Samples(source)), to) {
        EXPECT_TRUE(file.Ready());
    }
};

TEST(Resampler, UpsamplingCopiesThenBlendsWithTheCosineThenTheCubic) {
    const std::vector<int16_t> source = fixtures::Music(44100, 2, 44100);
    auto src = [&](size_t frame, size_t c) { return source[std::min<size_t>(frame, 44099) * 2 + c]; };  // last held
    Converted converted(source, 2, 44100, 48000);
    SoundFile& file = converted.file;
    EXPECT_EQ(file.TotalFrames(), 48000u);
    EXPECT_EQ(file.BlockCount(), 11u);
    const std::vector<int16_t> out = ReadAll(file);
    ASSERT_EQ(out.size(), 48000u * 2);
    // Frame 0 copied; the cosine at 0.91875 and 1.8375; then the cubic at every k * step.
    double position = 0;
    for (size_t k = 0; k < 48000; ++k, position += 0.91875) {
        const size_t i = size_t(position);
        const double t = position - double(i);
        for (size_t c = 0; c < 2; ++c) {
            const int16_t expected = t == 0  ? src(i, c)
                                     : i < 2 ? Cosine(src(i, c), src(i + 1, c), t)
                                             : CubicAt(src(i - 1, c), src(i, c), src(i + 1, c), src(i + 2, c), t);
            ASSERT_EQ(out[k * 2 + c], expected) << "frame " << k;
        }
    }
    std::vector<int16_t> block(kBlockFrames * 2);
    // A seek restarts the sequence: block 3 starts at output frame 13824, source frame 12700.
    file.SeekToBlock(3);
    ASSERT_EQ(file.ReadBlock(block.data()), 4608u);
    for (size_t c = 0; c < 2; ++c) {
        EXPECT_EQ(block[c], src(12700, c));
        EXPECT_EQ(block[2 + c], Cosine(src(12700, c), src(12701, c), 0.91875));
        EXPECT_EQ(block[6 + c], CubicAt(src(12701, c), src(12702, c), src(12703, c), src(12704, c), 0.75625));
    }
    EXPECT_EQ(4608 + ReadAll(file).size() / 2, size_t(std::floor((44100 - 12700) * 48000.0 / 44100.0)));
}

TEST(Resampler, FullScaleSquareWaveIsLimitedNotWrapped) {
    std::vector<int16_t> source(2 * 4000);  // eight frames up, eight down: the cubic overshoots at the edges
    for (size_t i = 0; i < 4000; ++i) source[2 * i] = source[2 * i + 1] = (i / 8) % 2 ? -32768 : 32767;
    const std::vector<int16_t> out = ReadAll(Converted(source, 2, 44100, 48000).file);
    int limited[2] = {0, 0};  // between two full-scale neighbours the output is full scale too
    for (size_t k = 3; k * 0.91875 + 1 < 4000; ++k) {
        const size_t i = size_t(k * 0.91875);
        if (source[2 * i] != source[2 * i + 2] || std::abs(k * 0.91875 - std::round(k * 0.91875)) < 1e-6) continue;
        ASSERT_TRUE(out[2 * k] == source[2 * i] && out[2 * k + 1] == source[2 * i]) << k;
        ++limited[source[2 * i] < 0];
    }
    EXPECT_TRUE(limited[0] > 1000 && limited[1] > 1000);
}

TEST(Resampler, DownsamplingTinyFilesAndExtremeRatios) {
    const std::vector<int16_t> source = fixtures::Music(48000, 1, 48000);
    EXPECT_EQ(ReadAll(Converted(source, 1, 48000, 44100).file).size(), 44100u);
    // Two source frames: nothing is read past them (ASan checks); the last frame is held.
    const std::vector<int16_t> out = ReadAll(Converted({100, -100, 300, -300}, 2, 8000, 48000).file);
    ASSERT_EQ(out.size(), 24u);
    EXPECT_TRUE(out[0] == 100 && out[1] == -100 && out[22] == 300 && out[23] == -300);
    // A huge ratio neither overflows the frame counts nor reads past the data.
    EXPECT_EQ(Converted({100, -100, 300, -300}, 2, 8000, 4000000000u).file.TotalFrames(), 1000000u);
}

}  // namespace
