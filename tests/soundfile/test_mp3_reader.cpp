// The sound file reader over MP3 streams made by `lame`, decoded through the hip
// decoder, compared with `lame --decode` of the same files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "sound_fixtures.h"
#include "soundfile/mp3_frame_scanner.h"
#include "soundfile/sound_file.h"

namespace {

using fixtures::Bytes;
using testing_support::TempDir;

std::vector<int16_t> ReadAll(SoundFile& file) {
    std::vector<int16_t> all, block(size_t(kBlockFrames) * file.channels);
    while (uint32_t frames = file.ReadBlock(block.data()))
        all.insert(all.end(), block.begin(), block.begin() + frames * file.channels);
    return all;
}

// The MP3 wrapped in a WAV with format tag 85 and twelve extra format bytes.
Bytes WrapInWav(const Bytes& mp3) {
    Bytes wav = fixtures::MakeWav(85, 2, 44100, 0, {});
    wav.resize(36);
    fixtures::PutLe32(wav, 16, 30);
    wav.resize(50, 0);
    fixtures::PutLe16(wav, 36, 12);
    wav.insert(wav.end(), {'d', 'a', 't', 'a', 0, 0, 0, 0});
    fixtures::PutLe32(wav, 54, uint32_t(mp3.size()));
    wav.insert(wav.end(), mp3.begin(), mp3.end());
    fixtures::PutLe32(wav, 4, uint32_t(wav.size() - 8));
    return wav;
}

// After a seek the decoder starts afresh a few frames earlier; its synthesis filter's
// floating-point history then sums in another order than in a straight read, which
// can move a sample by one step of rounding. Anything else (a wrong frame, a lost bit
// reservoir) differs by far more.
void ExpectSameAsStraight(const int16_t* got, const int16_t* straight, size_t samples) {
    size_t rounded = 0;
    for (size_t i = 0; i < samples; ++i) {
        const int difference = std::abs(int(got[i]) - int(straight[i]));
        ASSERT_LE(difference, 1) << "sample " << i;
        rounded += difference;
    }
    EXPECT_LT(rounded, samples / 200);
}

class Mp3Reader : public ::testing::Test {
protected:
    static void SetUpTestSuite() { InitMp3Tables(); }
    TempDir dir;
    Mp3Decoder decoder;
};

// lame --decode drops the decoder's delay of 528 + 1 sample frames at the start and
// flushes the last frame at the end; our reader keeps the delay and, because its
// output lags one frame behind its input, never delivers the last frame. So lame's
// frame j is our frame j + 529, for every frame we deliver from 529 on. (No
// information frame is written (-t), so lame has no encoder delay to cut.)
void ExpectSameAsLame(const std::vector<int16_t>& ours, const std::vector<int16_t>& lame, uint32_t channels,
                      uint32_t frameSamples) {
    const size_t delay = 529 * channels;
    ASSERT_EQ(ours.size() + frameSamples * channels, lame.size() + delay);
    for (size_t i = delay; i < ours.size(); ++i) ASSERT_EQ(ours[i], lame[i - delay]) << "sample " << i;
}

TEST_F(Mp3Reader, DeliversWhatLameDecodes) {
    const Bytes mp3 = fixtures::LameEncode(dir.path(), "cbr", 44100 * 3, 2, 44100, "-b 128 -t");
    SoundFile file;
    file.Open(mp3.data(), uint32_t(mp3.size()), 44100, decoder);
    ASSERT_TRUE(file.ready);
    EXPECT_EQ(file.format, 85u);
    EXPECT_EQ(file.readerKind, 1u);
    EXPECT_EQ(file.channels, 2u);
    EXPECT_EQ(file.sampleRate, 44100u);
    EXPECT_EQ(file.sourceFrames, file.mp3Source->frameCount * 1152 - 1152);
    EXPECT_EQ(file.totalFrames, file.sourceFrames);

    // The first block takes five frames (the first yields nothing) and is full.
    std::vector<int16_t> block(kBlockFrames * 2);
    ASSERT_EQ(file.ReadBlock(block.data()), 4608u);
    EXPECT_EQ(file.mp3Source->nextFrame, 5u);
    file.Rewind();
    EXPECT_EQ(file.mp3Source->nextFrame, 0u);

    const std::vector<int16_t> ours = ReadAll(file);
    EXPECT_EQ(ours.size(), size_t(file.totalFrames) * 2);
    ExpectSameAsLame(ours, fixtures::LameDecode(dir.path(), mp3), 2, 1152);
}

TEST_F(Mp3Reader, MonoAndMpeg2DecodeLikeLameToo) {
    const Bytes mono = fixtures::LameEncode(dir.path(), "mono", 44100 * 2, 1, 44100, "-b 96 -m m -t");
    SoundFile file;
    file.Open(mono.data(), uint32_t(mono.size()), 44100, decoder);
    ASSERT_TRUE(file.ready);
    EXPECT_EQ(file.channels, 1u);
    ExpectSameAsLame(ReadAll(file), fixtures::LameDecode(dir.path(), mono), 1, 1152);

    const Bytes mpeg2 = fixtures::LameEncode(dir.path(), "mpeg2", 22050 * 2, 2, 22050, "-b 64 -t");
    SoundFile low;
    low.Open(mpeg2.data(), uint32_t(mpeg2.size()), 22050, decoder);
    ASSERT_TRUE(low.ready);
    EXPECT_EQ(low.sourceFrames, (low.mp3Source->frameCount - 1) * 576);
    // Eight MPEG-2 frames to a block, plus the one that yields nothing.
    std::vector<int16_t> block(kBlockFrames * 2);
    ASSERT_EQ(low.ReadBlock(block.data()), 4608u);
    EXPECT_EQ(low.mp3Source->nextFrame, 9u);
    low.Rewind();
    ExpectSameAsLame(ReadAll(low), fixtures::LameDecode(dir.path(), mpeg2), 2, 576);
}

TEST_F(Mp3Reader, Mp3InsideAWavPlaysLikeTheBareStream) {
    const Bytes mp3 = fixtures::LameEncode(dir.path(), "vbr", 44100 * 2, 2, 44100, "-V 4");
    const Bytes wav = WrapInWav(mp3);
    SoundFile bare, wrapped;
    bare.Open(mp3.data(), uint32_t(mp3.size()), 44100, decoder);
    wrapped.Open(wav.data(), uint32_t(wav.size()), 44100, decoder);
    ASSERT_TRUE(bare.ready);
    ASSERT_TRUE(wrapped.ready);
    EXPECT_EQ(wrapped.format, 85u);
    EXPECT_EQ(wrapped.readerKind, 1u);
    EXPECT_EQ(wrapped.sourceFrames, bare.sourceFrames);
    EXPECT_EQ(wrapped.blockCount, bare.blockCount);
    const std::vector<int16_t> a = ReadAll(bare);
    EXPECT_GT(a.size(), 44100u * 2);
    EXPECT_EQ(ReadAll(wrapped), a);
}

TEST_F(Mp3Reader, SeekResumesAtTheFrameBoundaryExactlyAsAStraightRead) {
    const Bytes mp3 = fixtures::LameEncode(dir.path(), "cbr", 44100 * 4, 2, 44100, "-b 128");
    SoundFile file;
    file.Open(mp3.data(), uint32_t(mp3.size()), 44100, decoder);
    ASSERT_TRUE(file.ready);
    const std::vector<int16_t> straight = ReadAll(file);
    ASSERT_EQ(file.blockCount, 39u);
    // The leading information frame comes out as a frame of silence, so that frame
    // numbers and sample positions agree.
    for (size_t i = 0; i < 1152 * 2; ++i) ASSERT_EQ(straight[i], 0) << i;
    EXPECT_NE(straight[1152 * 2 + 600], 0);

    std::vector<int16_t> block(kBlockFrames * 2);
    // Block 1 has fewer than eight frames before it; blocks 9 and 20 have more.
    for (int32_t target : {1, 9, 20, 35}) {
        file.SeekToBlock(target);
        // A block is four frames, so the frame boundary is the block's own start.
        for (int32_t b = target; b < target + 2; ++b) {
            const uint32_t frames = file.ReadBlock(block.data());
            ASSERT_EQ(frames, 4608u);
            ExpectSameAsStraight(block.data(), straight.data() + size_t(b) * 4608 * 2, 4608 * 2);
            if (HasFailure()) {
                ADD_FAILURE() << "block " << b << " after seeking to " << target;
                return;
            }
        }
    }
    // Past the limit: blockCount - 4, then to the end as the straight read ends.
    file.SeekToBlock(1000);
    std::vector<int16_t> rest;
    while (uint32_t frames = file.ReadBlock(block.data()))
        rest.insert(rest.end(), block.begin(), block.begin() + frames * 2);
    ASSERT_EQ(rest.size(), straight.size() - size_t(35) * 4608 * 2);
    ExpectSameAsStraight(rest.data(), straight.data() + size_t(35) * 4608 * 2, rest.size());

    // Rewinding after the end replays identically.
    file.Rewind();
    EXPECT_EQ(ReadAll(file), straight);
}

TEST_F(Mp3Reader, ResampledStreamRestartsItsStartAtTheSeekFrame) {
    const Bytes mp3 = fixtures::LameEncode(dir.path(), "cbr", 44100 * 3, 2, 44100, "-b 128 -t");
    SoundFile direct, file;
    direct.Open(mp3.data(), uint32_t(mp3.size()), 44100, decoder);
    file.Open(mp3.data(), uint32_t(mp3.size()), 48000, decoder);
    ASSERT_TRUE(direct.ready);
    ASSERT_TRUE(file.ready);
    EXPECT_EQ(file.readerKind, 2u);
    EXPECT_EQ(file.totalFrames, uint32_t(std::floor(direct.sourceFrames * (48000.0 / 44100.0))));
    const std::vector<int16_t> source = ReadAll(direct);

    const std::vector<int16_t> all = ReadAll(file);
    ASSERT_EQ(all.size(), size_t(file.totalFrames) * 2);
    EXPECT_EQ(all[0], source[0]);
    EXPECT_EQ(all[1], source[1]);

    // Block 3 starts at source frame floor(3 * 4608 * 44100 / 48000) = 12700, inside
    // frame 11 (12672..13823): the converter restarts on that frame's first sample.
    file.SeekToBlock(3);
    std::vector<int16_t> block(kBlockFrames * 2);
    ASSERT_EQ(file.ReadBlock(block.data()), 4608u);
    const size_t at = 12672 * 2;
    EXPECT_EQ(block[0], source[at]);
    EXPECT_EQ(block[1], source[at + 1]);
    const double w = (1 - std::cos(0.91875 * 3.14159265359)) / 2;
    EXPECT_EQ(block[2], int16_t((source[at] / 32768.0 * (1 - w) + source[at + 2] / 32768.0 * w) * 32768.0));
    // The output runs on to the last source frame the decoder delivers.
    size_t frames = 4608;
    while (uint32_t n = file.ReadBlock(block.data())) frames += n;
    EXPECT_EQ(frames, size_t(std::floor((direct.sourceFrames - 12672) * (48000.0 / 44100.0))));
}

TEST_F(Mp3Reader, UnplayableStreamsAreRefused) {
    auto ready = [&](const Bytes& image) {
        SoundFile file;
        file.Open(image.data(), uint32_t(image.size()), 44100, decoder);
        return file.ready;
    };
    const Bytes mpeg25 = fixtures::LameEncode(dir.path(), "mpeg25", 11025, 1, 11025, "-b 32");
    EXPECT_FALSE(ready(mpeg25));
    const Bytes mp3 = fixtures::LameEncode(dir.path(), "cbr", 4608, 2, 44100, "-b 128 -t");
    EXPECT_TRUE(ready(mp3));
    // One frame: indexed, but it yields nothing.
    Mp3FrameScanner scanner(mp3.data(), uint32_t(mp3.size()));
    ASSERT_NE(scanner.Build(), 0u);
    EXPECT_FALSE(ready(Bytes(mp3.begin(), mp3.begin() + scanner.FrameOffset(1))));
    EXPECT_FALSE(ready(Bytes(mp3.begin(), mp3.begin() + 30)));
}

}  // namespace
