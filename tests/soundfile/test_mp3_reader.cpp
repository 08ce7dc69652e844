// The sound file reader over MP3 streams made by `lame`, decoded through the hip decoder
// and compared with `lame --decode` of the same files (the player's tests play PCM files).
#include <gtest/gtest.h>

#include <algorithm>

#include "sound_fixtures.h"
#include "soundfile/mp3_frame_scanner.h"
#include "soundfile/sound_file.h"

namespace {

using fixtures::Bytes;
using fixtures::ReadAll;
using Mp3Reader = fixtures::LameTest;

// MPEG-1 (four frames a block) and MPEG-2 (eight), constant and variable bit rates, stereo
// and mono, with and without the leading information frame (read as a frame of silence).
// With -t, `lame --decode` gives our samples 529 frames earlier and flushes the last frame,
// which we never deliver. A seek to any block continues as the straight read does.
TEST_F(Mp3Reader, DecodesAsLameDoesAndSeeksToEveryBlockBitForBit) {
    struct Case { const char* options; uint32_t channels, rate; bool info, lame; };  // 144-byte frames hold no info
    for (const Case& c : {Case{"-b 128 -t", 2, 44100, false, true}, Case{"-V 2", 2, 48000, true, false},
                          Case{"-b 96 -m m -t", 1, 32000, false, true}, Case{"-b 64 -t", 2, 22050, false, true},
                          Case{"-V 4", 2, 24000, true, false}, Case{"-b 32 -m m", 1, 16000, false, false}}) {
        SCOPED_TRACE(c.options);
        fixtures::Reader reader(Encode("seek", c.rate * 5, c.channels, c.rate, c.options), c.rate);
        SoundFile& file = reader.file;
        ASSERT_TRUE(file.Ready());
        const std::vector<int16_t> straight = ReadAll(file);
        const size_t blockSamples = size_t(kBlockFrames) * c.channels;
        const size_t frameSamples = (c.rate < 32000 ? 576 : 1152) * c.channels;
        EXPECT_EQ(std::count(straight.begin(), straight.begin() + frameSamples, 0) == long(frameSamples), c.info);
        if (c.lame) {
            const std::vector<int16_t> lame = fixtures::LameDecode(dir.path(), reader.image);
            const size_t delay = 529 * c.channels;
            ASSERT_EQ(straight.size(), size_t(file.TotalFrames()) * c.channels);
            ASSERT_EQ(straight.size() + frameSamples, lame.size() + delay);
            for (size_t i = delay; i < straight.size(); ++i) ASSERT_EQ(straight[i], lame[i - delay]) << "sample " << i;
        }
        std::vector<int16_t> block(blockSamples);
        for (int32_t b = 1; b + 4 <= int32_t(file.BlockCount()); ++b) {
            file.SeekToBlock(b);
            for (int32_t k = b; k < b + 2; ++k) {
                ASSERT_EQ(file.ReadBlock(block.data()), 4608u) << "block " << k << " after seeking to " << b;
                ASSERT_TRUE(std::equal(block.begin(), block.end(), &straight[k * blockSamples])) << k << "/" << b;
            }
        }
        file.Rewind();  // replays it all
        EXPECT_EQ(ReadAll(file), straight);
        Mp3FrameScanner index(reader.image.data(), uint32_t(reader.image.size()));
        ASSERT_NE(index.Build(), 0u);
        const Bytes one(reader.image.begin(), reader.image.begin() + index.FrameOffset(1));
        fixtures::Open(file, one, c.rate);
        EXPECT_FALSE(file.Ready()) << "a lone frame yields nothing";
    }
}

TEST(SoundFile, RefusesWhatItCannotRead) {
    const Bytes wav = fixtures::MakeWav(1, 2, 44100, 16, Bytes(4000, 0x10));
    const Bytes mpegWithoutFrames = fixtures::MakeWav(85, 2, 44100, 0, Bytes(4000, 0x10));
    using Refused = std::pair<Bytes, uint32_t>;  // no rate; MPEG without frames; neither RIFF nor MP3
    for (const auto& [image, rate] : {Refused{wav, 0}, Refused{mpegWithoutFrames, 44100},
                                      Refused{Bytes(3000, 0), 44100}, Refused{{'R', 'I', 'F'}, 44100}})
        EXPECT_FALSE(fixtures::Reader(image, rate).file.Ready()) << image.size();
    EXPECT_TRUE(fixtures::Reader(wav, 44100).file.Ready());
}

}  // namespace
