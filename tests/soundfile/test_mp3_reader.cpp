// The sound file reader over MP3 streams made by `lame`, decoded through the hip
// decoder and compared with `lame --decode` of the same files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "sound_fixtures.h"
#include "soundfile/mp3_frame_scanner.h"
#include "soundfile/sound_file.h"

namespace {

using fixtures::Bytes;
using fixtures::ReadAll;

class Mp3Reader : public fixtures::LameTest {
protected:
    std::vector<int16_t> block = std::vector<int16_t>(kBlockFrames * 2);
};

// lame --decode drops the decoder's delay of 528 + 1 sample frames and flushes the last
// frame; our reader keeps the delay and never delivers the last frame (one frame of
// lag). So lame's frame j is our frame j + 529. With -t lame writes no information
// frame and so has no encoder delay to cut.
TEST_F(Mp3Reader, DeliversWhatLameDecodes) {
    struct Case { const char* options; uint32_t channels, rate, frameSamples; };
    for (const Case& c : {Case{"-b 128 -t", 2, 44100, 1152}, Case{"-b 96 -m m -t", 1, 44100, 1152},
                          Case{"-b 64 -t", 2, 22050, 576}}) {
        SCOPED_TRACE(c.options);
        const Bytes mp3 = Encode("cbr", c.rate * 3, c.channels, c.rate, c.options);
        SoundFile file;
        fixtures::Open(file, mp3, c.rate);
        ASSERT_TRUE(file.Ready());
        EXPECT_EQ(file.Format(), 85u);
        EXPECT_EQ(file.Channels(), c.channels);
        Mp3FrameScanner index(mp3.data(), uint32_t(mp3.size()));
        ASSERT_NE(index.Build(), 0u);
        EXPECT_EQ(file.SourceFrames(), (index.frameCount - 1) * c.frameSamples);
        const std::vector<int16_t> ours = ReadAll(file), lame = fixtures::LameDecode(dir.path(), mp3);
        const size_t delay = 529 * c.channels;
        ASSERT_EQ(ours.size(), size_t(file.TotalFrames()) * c.channels);
        ASSERT_EQ(ours.size() + c.frameSamples * c.channels, lame.size() + delay);
        for (size_t i = delay; i < ours.size(); ++i) ASSERT_EQ(ours[i], lame[i - delay]) << "sample " << i;
        // A lone frame would yield nothing: refused.
        const Bytes one(mp3.begin(), mp3.begin() + index.FrameOffset(1));
        fixtures::Open(file, one, c.rate);
        EXPECT_FALSE(file.Ready());
    }
}

TEST_F(Mp3Reader, Mp3InsideAWavPlaysLikeTheBareStream) {
    const Bytes mp3 = Encode("vbr", 44100 * 2, 2, 44100, "-V 4");
    // Format tag 85 with twelve extra format bytes after their count.
    Bytes wav = fixtures::MakeWav(85, 2, 44100, 0, mp3);
    wav.insert(wav.begin() + 36, 14, 0);
    fixtures::PutLe32(wav, 16, 30);
    fixtures::PutLe16(wav, 36, 12);
    fixtures::PutLe32(wav, 4, uint32_t(wav.size() - 8));
    SoundFile bare, wrapped;
    fixtures::Open(bare, mp3, 44100);
    fixtures::Open(wrapped, wav, 44100);
    ASSERT_TRUE(bare.Ready() && wrapped.Ready());
    EXPECT_EQ(wrapped.Format(), 85u);
    EXPECT_EQ(wrapped.SourceFrames(), bare.SourceFrames());
    const std::vector<int16_t> a = ReadAll(bare);
    EXPECT_GT(a.size(), 44100u * 2);
    EXPECT_EQ(ReadAll(wrapped), a);
}

TEST_F(Mp3Reader, SeekResumesAtTheFrameBoundaryExactlyAsAStraightRead) {
    const Bytes mp3 = Encode("cbr", 44100 * 4, 2, 44100, "-b 128");
    SoundFile file;
    fixtures::Open(file, mp3, 44100);
    ASSERT_TRUE(file.Ready());
    const std::vector<int16_t> straight = ReadAll(file);
    ASSERT_EQ(file.BlockCount(), 39u);
    // The leading information frame comes out as a frame of silence, so that frame
    // numbers and sample positions agree.
    for (size_t i = 0; i < 1152 * 2; ++i) ASSERT_EQ(straight[i], 0) << i;
    EXPECT_NE(straight[1152 * 2 + 600], 0);

    // Past the limit: blockCount - 4, then on to the end as the straight read ends.
    file.SeekToBlock(1000);
    const std::vector<int16_t> rest = ReadAll(file);
    ASSERT_EQ(rest.size(), straight.size() - size_t(35) * 4608 * 2);
    EXPECT_TRUE(std::equal(rest.begin(), rest.end(), straight.begin() + size_t(35) * 4608 * 2));
    // Rewinding after the end replays identically.
    file.Rewind();
    EXPECT_EQ(ReadAll(file), straight);
}

// A seek to any block continues sample for sample as the straight read does: the
// decoder's lead-in leaves its synthesis filter where the straight read has it. MPEG-1
// (four frames a block) and MPEG-2 (eight), constant and variable bit rates, with and
// without the leading information frame, stereo and mono.
TEST_F(Mp3Reader, SeekToEveryBlockContinuesBitForBit) {
    struct Case { const char* options; uint32_t channels, rate; };
    for (const Case& c : {Case{"-b 128", 2, 44100}, Case{"-V 2", 2, 48000}, Case{"-b 96 -m m -t", 1, 32000},
                          Case{"-b 64", 2, 22050}, Case{"-V 4", 2, 24000}, Case{"-b 32 -m m", 1, 16000}}) {
        SCOPED_TRACE(c.options);
        const Bytes mp3 = Encode("seek", c.rate * 5, c.channels, c.rate, c.options);
        SoundFile file;
        fixtures::Open(file, mp3, c.rate);
        ASSERT_TRUE(file.Ready());
        const std::vector<int16_t> straight = ReadAll(file);
        const size_t blockSamples = size_t(kBlockFrames) * c.channels;
        for (int32_t b = 1; b + 4 <= int32_t(file.BlockCount()); ++b) {
            file.SeekToBlock(b);
            for (int32_t k = b; k < b + 2; ++k) {
                ASSERT_EQ(file.ReadBlock(block.data()), 4608u) << "block " << k << " after seeking to " << b;
                ASSERT_TRUE(std::equal(block.begin(), block.begin() + blockSamples,
                                       straight.begin() + k * blockSamples))
                    << "block " << k << " after seeking to " << b;
            }
        }
    }
}

TEST_F(Mp3Reader, ResampledStreamRestartsItsStartAtTheSeekFrame) {
    const Bytes mp3 = Encode("cbr", 44100 * 3, 2, 44100, "-b 128 -t");
    SoundFile direct, file;
    fixtures::Open(direct, mp3, 44100);
    fixtures::Open(file, mp3, 48000);
    ASSERT_TRUE(direct.Ready() && file.Ready());
    EXPECT_TRUE(file.Resampling());
    EXPECT_EQ(file.TotalFrames(), uint32_t(std::floor(direct.SourceFrames() * (48000.0 / 44100.0))));
    const std::vector<int16_t> source = ReadAll(direct), all = ReadAll(file);
    ASSERT_EQ(all.size(), size_t(file.TotalFrames()) * 2);
    EXPECT_EQ(all[0], source[0]);
    EXPECT_EQ(all[1], source[1]);

    // Block 3 starts at source frame floor(3 * 4608 * 44100 / 48000) = 12700, inside
    // frame 11 (12672..13823): the converter restarts on that frame's first sample.
    file.SeekToBlock(3);
    ASSERT_EQ(file.ReadBlock(block.data()), 4608u);
    const size_t at = 12672 * 2;
    EXPECT_EQ(block[0], source[at]);
    EXPECT_EQ(block[1], source[at + 1]);
    const double w = (1 - std::cos(0.91875 * 3.14159265359)) / 2;
    EXPECT_EQ(block[2], int16_t((source[at] / 32768.0 * (1 - w) + source[at + 2] / 32768.0 * w) * 32768.0));
    EXPECT_EQ(4608 + ReadAll(file).size() / 2, size_t(std::floor((direct.SourceFrames() - 12672) * (48000.0 / 44100.0))));
}

}  // namespace
