// The sound file reader over MP3 streams made by `lame`, decoded through the hip
// decoder and compared with `lame --decode` of the same files.
#include <gtest/gtest.h>

#include <algorithm>

#include "sound_fixtures.h"
#include "soundfile/mp3_frame_scanner.h"
#include "soundfile/sound_file.h"

namespace {

using fixtures::Bytes;
using fixtures::ReadAll;
using Mp3Reader = fixtures::LameTest;

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

// A seek to any block continues sample for sample as the straight read does: the
// decoder's lead-in leaves its synthesis filter where the straight read has it. MPEG-1
// (four frames a block) and MPEG-2 (eight), constant and variable bit rates, with and
// without the leading information frame (read as a frame of silence, so that frame
// numbers and sample positions agree), stereo and mono.
TEST_F(Mp3Reader, SeekToEveryBlockContinuesBitForBit) {
    struct Case { const char* options; uint32_t channels, rate; bool info; };  // 144-byte frames hold none
    for (const Case& c : {Case{"-b 128", 2, 44100, true}, Case{"-V 2", 2, 48000, true},
                          Case{"-b 96 -m m -t", 1, 32000, false}, Case{"-b 64", 2, 22050, true},
                          Case{"-V 4", 2, 24000, true}, Case{"-b 32 -m m", 1, 16000, false}}) {
        SCOPED_TRACE(c.options);
        fixtures::Reader reader(Encode("seek", c.rate * 5, c.channels, c.rate, c.options), c.rate);
        SoundFile& file = reader.file;
        ASSERT_TRUE(file.Ready());
        const std::vector<int16_t> straight = ReadAll(file);
        const size_t blockSamples = size_t(kBlockFrames) * c.channels;
        const size_t frameSamples = (c.rate < 32000 ? 576 : 1152) * c.channels;
        EXPECT_EQ(std::count(straight.begin(), straight.begin() + frameSamples, 0) == long(frameSamples), c.info);
        std::vector<int16_t> block(blockSamples);
        for (int32_t b = 1; b + 4 <= int32_t(file.BlockCount()); ++b) {
            file.SeekToBlock(b);
            for (int32_t k = b; k < b + 2; ++k) {
                ASSERT_EQ(file.ReadBlock(block.data()), 4608u) << "block " << k << " after seeking to " << b;
                ASSERT_TRUE(std::equal(block.begin(), block.end(), straight.begin() + k * blockSamples))
                    << "block " << k << " after seeking to " << b;
            }
        }
        file.Rewind();  // replays it all
        EXPECT_EQ(ReadAll(file), straight);
    }
}

}  // namespace
