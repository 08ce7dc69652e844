// The sound file reader over 16-bit PCM WAV images, at the file's own rate.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>

#include "sound_fixtures.h"
#include "soundfile/sound_file.h"

namespace {

using fixtures::Bytes;

Bytes Wav(const std::vector<int16_t>& samples, uint32_t channels) {
    return fixtures::MakeWav(1, channels, 8000, 16, fixtures::Samples(samples));
}

// The first `frames` frames of block equal source from frame `first` on.
bool Holds(const std::vector<int16_t>& block, const std::vector<int16_t>& source, uint32_t channels, size_t first,
           size_t frames) {
    return std::equal(block.begin(), block.begin() + frames * channels, source.begin() + first * channels);
}

TEST(PcmReader, BlocksEndWithAZeroFilledShortBlockThenNothing) {
    for (uint32_t channels : {2u, 1u}) {
        SCOPED_TRACE(channels);
        const std::vector<int16_t> source = fixtures::Music(10000, channels, 8000);
        fixtures::Reader reader(Wav(source, channels), 8000);
        SoundFile& file = reader.file;
        ASSERT_TRUE(file.Ready());
        EXPECT_EQ(file.Format(), 1u);
        EXPECT_EQ(file.Channels(), channels);
        EXPECT_EQ(file.SampleRate(), 8000u);
        EXPECT_EQ(file.TotalFrames(), 10000u);
        EXPECT_EQ(file.BlockCount(), 3u);
        // Room for a stereo block; a mono block leaves the second half untouched.
        std::vector<int16_t> block(kBlockFrames * 2, 0x1234);
        for (uint32_t first : {0u, 4608u, 9216u}) {
            ASSERT_EQ(file.ReadBlock(block.data()), std::min(4608u, 10000 - first));
            EXPECT_TRUE(Holds(block, source, channels, first, std::min(4608u, 10000 - first))) << first;
        }
        for (size_t i = 784 * channels; i < block.size(); ++i)
            ASSERT_EQ(block[i], i < kBlockFrames * channels ? 0 : 0x1234) << i;
        std::fill(block.begin(), block.end(), 0x5A5A);
        EXPECT_EQ(file.ReadBlock(block.data()), 0u);
        EXPECT_EQ(std::count(block.begin(), block.end(), 0x5A5A), long(block.size()));
        file.Rewind();  // after the end: from the first frame again
        ASSERT_EQ(file.ReadBlock(block.data()), 4608u);
        EXPECT_TRUE(Holds(block, source, channels, 0, 4608));
    }
}

TEST(PcmReader, SeekGoesToTheBlockWithinLimits) {
    const std::vector<int16_t> source = fixtures::Music(10 * 4608, 1, 8000);
    fixtures::Reader reader(Wav(source, 1), 8000), shortReader(Wav(source, 1), 8000);
    shortReader.image.resize(44 + (3 * 4608 - 10) * 2);
    fixtures::Open(shortReader.file, shortReader.image, 8000);
    ASSERT_EQ(reader.file.BlockCount(), 10u);
    ASSERT_EQ(shortReader.file.BlockCount(), 3u);
    std::vector<int16_t> block(kBlockFrames);
    // Blocks of 0 or less rewind; later ones are limited to blockCount - 4; a file of
    // fewer than four blocks has a negative limit, so any seek rewinds.
    using Seek = std::pair<int32_t, uint32_t>;  // target, first block read
    for (auto [target, first] : {Seek{3, 3}, Seek{0, 0}, Seek{-3, 0}, Seek{INT32_MIN, 0}, Seek{100, 6}, Seek{INT32_MAX, 6}}) {
        reader.file.ReadBlock(block.data());
        reader.file.SeekToBlock(target);
        ASSERT_EQ(reader.file.ReadBlock(block.data()), 4608u) << target;
        EXPECT_TRUE(Holds(block, source, 1, first * 4608, 4608)) << target;
    }
    shortReader.file.ReadBlock(block.data());
    shortReader.file.ReadBlock(block.data());
    shortReader.file.SeekToBlock(2);
    ASSERT_EQ(shortReader.file.ReadBlock(block.data()), 4608u);
    EXPECT_TRUE(Holds(block, source, 1, 0, 4608));
}

TEST(PcmReader, RefusedFilesAreNotReady) {
    const Bytes wav = fixtures::MakeWav(1, 2, 44100, 16, Bytes(4000, 0x10));
    using Case = std::pair<Bytes, uint32_t>;  // image, rate
    for (const auto& [image, rate] : {Case{wav, 0}, Case{fixtures::MakeWav(85, 2, 44100, 0, Bytes(4000, 0x10)), 44100},
                                      Case{Bytes(3000, 0x00), 44100}, Case{Bytes{'R', 'I', 'F'}, 44100}}) {
        fixtures::Reader reader(image, rate);  // no rate; MPEG without frames; neither RIFF nor MP3
        EXPECT_FALSE(reader.file.Ready()) << image.size();
    }
    EXPECT_TRUE(fixtures::Reader(wav, 44100).file.Ready());
}

}  // namespace
