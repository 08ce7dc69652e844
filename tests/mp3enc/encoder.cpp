// The entry points and the front end: frame counts, padding, idle and refused states,
// and the analysis state that carries from frame to frame.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "tests/mp3enc/mp3_test_util.h"

using namespace mp3test;

namespace {

long FileBytes(std::FILE* f) { return static_cast<long>(ReadBack(f).size()); }

}  // namespace

TEST(Mp3Encoder, EntryPointsCountFramesAndIgnoreWhatTheyCannotDo) {
    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    Pcm block(2 * 4608, 1000);
    EXPECT_EQ(EncodeMp3(block.data(), 4608), 0);  // idle
    CloseMp3Encoder();                            // idle: nothing
    ASSERT_TRUE(InitMp3Encoder(44100, f));
    EXPECT_FALSE(InitMp3Encoder(48000, f));  // one at a time
    EXPECT_EQ(EncodeMp3(block.data(), 0), 1);
    EXPECT_EQ(EncodeMp3(block.data(), -5), 1);
    EXPECT_EQ(FileBytes(f), 0);
    EXPECT_EQ(EncodeMp3(block.data(), 4608), 1);  // one 18432-byte block: four frames
    EXPECT_EQ(FileBytes(f), 4 * 418);
    // A partial count makes a whole frame from the samples given, silence after them,
    // and reads nothing beyond them (an exact-size heap block for the address sanitizer).
    const Pcm tone = Sine(100, 440.0, 44100, 0.5);
    std::unique_ptr<int16_t[]> exact(new int16_t[200]);
    std::copy(tone.begin(), tone.end(), exact.get());
    EXPECT_EQ(EncodeMp3(exact.get(), 100), 1);
    EXPECT_EQ(FileBytes(f), 5 * 418);
    CloseMp3Encoder();  // three more
    EXPECT_EQ(FileBytes(f), 8 * 418);
    CloseMp3Encoder();
    EXPECT_EQ(FileBytes(f), 8 * 418);
    EXPECT_EQ(EncodeMp3(block.data(), 4608), 0);
    std::fclose(f);
    f = std::tmpfile();
    ASSERT_TRUE(InitMp3Encoder(44100, f));
    EncodeMp3(exact.get(), 100);
    CloseMp3Encoder();
    EXPECT_TRUE(ReadBack(f) == EncodeWithEntryPoints(tone, 44100, 1152));  // the same as zeros after it
    std::fclose(f);

    // A close right after init still writes three decodable frames of silence.
    const std::vector<uint8_t> s = EncodeWithEntryPoints(Pcm(), 48000);
    bool ok = false;
    const std::vector<Frame> frames = SplitFrames(s, &ok);
    EXPECT_TRUE(ok);
    ASSERT_EQ(frames.size(), 3u);
    const Decoded d = HipDecode(s, frames);
    EXPECT_EQ(d.failedFrames + d.reportedErrors, 0);
    EXPECT_EQ(d.pcm.size(), 3u * 2304);
    for (int16_t v : d.pcm) ASSERT_EQ(v, 0);
}

TEST(Mp3Encoder, RatesWithoutASamplingFrequencyCodeAreRefused) {
    for (int rate : {22050, 96000, 0, -44100, 8000}) {
        std::FILE* f = std::tmpfile();
        EXPECT_FALSE(InitMp3Encoder(rate, f)) << rate;
        EXPECT_EQ(mp3enc::ActiveMp3Encoder(), nullptr);
        Pcm block(2 * 4608, 100);
        EXPECT_EQ(EncodeMp3(block.data(), 4608), 0);
        CloseMp3Encoder();
        EXPECT_EQ(FileBytes(f), 0) << rate;
        std::fclose(f);
    }
    EXPECT_FALSE(InitMp3Encoder(44100, nullptr));
    // After a refusal a supported rate starts normally.
    std::FILE* f = std::tmpfile();
    EXPECT_TRUE(InitMp3Encoder(32000, f));
    CloseMp3Encoder();
    EXPECT_EQ(FileBytes(f), 3 * 576);
    std::fclose(f);
}

TEST(Mp3Encoder, FrameSizesFollowThePaddingRule) {
    std::FILE* sink = std::tmpfile();
    {
        mp3enc::Mp3Encoder e44(44100, 128, 2, sink);
        EXPECT_EQ(e44.WholeSlots(), 417);
        EXPECT_NEAR(e44.FractionalSlots(), 0.9591836734694, 1e-12);
        mp3enc::Mp3Encoder e48(48000, 128, 2, sink);
        EXPECT_EQ(e48.WholeSlots(), 384);
        EXPECT_EQ(e48.FractionalSlots(), 0.0);
        mp3enc::Mp3Encoder e32(32000, 128, 2, sink);
        EXPECT_EQ(e32.WholeSlots(), 576);
        EXPECT_EQ(e32.FractionalSlots(), 0.0);
    }
    std::fclose(sink);

    const int n = 98;  // two runs of 49 frames
    const std::vector<uint8_t> s = EncodeWithEntryPoints(MusicLike(1152 * (n - 3), 44100, 1), 44100, 1152);
    bool ok = false;
    const std::vector<Frame> frames = SplitFrames(s, &ok);
    EXPECT_TRUE(ok);
    ASSERT_EQ(frames.size(), static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        const bool unpadded = (i + 1) % 49 == 24 || (i + 1) % 49 == 0;
        EXPECT_EQ(frames[i].bytes, unpadded ? 417 : 418) << "frame " << i + 1;
        EXPECT_EQ(frames[i].padding, unpadded ? 0 : 1) << "frame " << i + 1;
    }
    EXPECT_EQ(s.size(), 2u * 20480);  // 49 frames are exactly 128000 * 49 * 1152 / 44100 / 8 bytes
    for (int rate : {48000, 32000}) {
        const std::vector<uint8_t> t = EncodeWithEntryPoints(Noise(1152 * 20, 0.3, 4), rate);
        const std::vector<Frame> fr = SplitFrames(t, &ok);
        EXPECT_TRUE(ok);
        EXPECT_EQ(fr.size(), 23u);  // 20 frames fill five blocks of four, and three at close
        for (const Frame& f : fr) EXPECT_EQ(f.bytes, rate == 48000 ? 384 : 576);
        for (const Frame& f : fr) EXPECT_EQ(f.padding, 0);
    }
}

TEST(Mp3Encoder, AnalysisStateCarriesAcrossFrames) {
    std::FILE* f = std::tmpfile();
    mp3enc::Mp3Encoder e(44100, 128, 2, f);
    ASSERT_TRUE(e.Ready());
    const Pcm silence(2304, 0);
    e.EncodeFrame(2304, silence.data(), false);
    for (int i = 0; i < 2304; ++i) ASSERT_EQ(e.Spectrum()[i], 0.0) << i;  // every product has a zero factor
    const Pcm loud = Sine(1152, 440.0, 44100, 0.9);
    e.EncodeFrame(2304, loud.data(), false);
    e.EncodeFrame(2304, silence.data(), false);
    int nonZero[2] = {0, 0};
    for (int g = 0; g < 2; ++g)
        for (int i = 0; i < 1152; ++i) nonZero[g] += e.Spectrum()[g * 1152 + i] != 0.0;
    EXPECT_GT(nonZero[0], 100);  // the FIFO and the previous granule still hold the tone
    e.EncodeFrame(2304, silence.data(), false);
    e.EncodeFrame(2304, silence.data(), false);
    for (int i = 0; i < 2304; ++i) ASSERT_EQ(e.Spectrum()[i], 0.0) << i;  // and then it has passed

    // Signs: the quantised lines carry the sign of their spectral line.
    e.EncodeFrame(2304, loud.data(), false);
    int checked = 0;
    for (int i = 0; i < 2304; ++i) {
        const int32_t q = e.QuantisedLines()[i];
        if (q == 0) continue;
        ++checked;
        ASSERT_EQ(q < 0, e.Spectrum()[i] < 0.0) << i;
    }
    EXPECT_GT(checked, 20);
    std::fclose(f);
}

TEST(Mp3Encoder, SingleChannelFramesDecode) {
    std::FILE* f = std::tmpfile();
    std::vector<uint8_t> bytes;
    {
        mp3enc::Mp3Encoder e(44100, 128, 1, f);
        ASSERT_TRUE(e.Ready());
        EXPECT_EQ(e.Settings().mode, 3);
        const Pcm stereo = Sine(1152 * 10, 1000.0, 44100, 0.5);
        Pcm mono(1152 * 10);
        for (size_t i = 0; i < mono.size(); ++i) mono[i] = stereo[2 * i];
        for (int k = 0; k < 10; ++k) {
            e.EncodeFrame(1152, mono.data() + 1152 * k, false);
            EXPECT_EQ(e.MeanBits(), (e.Settings().bitsPerFrame - 168) >> 1);
        }
        const Pcm zeros(1152, 0);
        e.EncodeFrame(1152, zeros.data(), true);
    }
    bytes = ReadBack(f);
    std::fclose(f);
    bool ok = false;
    const std::vector<Frame> frames = SplitFrames(bytes, &ok);
    EXPECT_TRUE(ok);
    ASSERT_EQ(frames.size(), 13u);
    EXPECT_EQ(bytes[3] >> 6, 3);  // single channel
    const Decoded d = HipDecode(bytes, frames);
    EXPECT_EQ(d.failedFrames + d.reportedErrors, 0);
    EXPECT_EQ(d.framesOut, 13);
}
