// The entry points: frame counts, padding, the idle and refused states, and the exact
// frames of silence.
#include <gtest/gtest.h>

#include <memory>

#include "tests/mp3enc/mp3_test_util.h"

using namespace mp3test;

TEST(Mp3Encoder, EntryPointsCountFramesAndIgnoreWhatTheyCannotDo) {
    std::FILE* f = std::tmpfile();
    Pcm block(2 * 4608, 1000);
    EXPECT_EQ(EncodeMp3(block.data(), 4608), 0);  // idle
    CloseMp3Encoder();                            // idle: nothing
    ASSERT_TRUE(InitMp3Encoder(44100, f));
    EXPECT_FALSE(InitMp3Encoder(48000, f));  // one at a time
    EXPECT_EQ(EncodeMp3(block.data(), 0), 1);
    EXPECT_EQ(EncodeMp3(block.data(), -5), 1);
    EXPECT_EQ(ReadBack(f).size(), 0u);
    EXPECT_EQ(EncodeMp3(block.data(), 4608), 1);  // one 18432-byte block: four frames
    EXPECT_EQ(ReadBack(f).size(), 4u * 418);
    // A partial count makes a whole frame of the samples given and silence, reading
    // nothing beyond them (an exact-size heap block for the address sanitizer).
    const Pcm tone = Sine(100, 440.0, 44100, 0.5);
    std::unique_ptr<int16_t[]> exact(new int16_t[200]);
    std::copy(tone.begin(), tone.end(), exact.get());
    EXPECT_EQ(EncodeMp3(exact.get(), 100), 1);
    EXPECT_EQ(ReadBack(f).size(), 5u * 418);
    CloseMp3Encoder();  // three more
    EXPECT_EQ(ReadBack(f).size(), 8u * 418);
    CloseMp3Encoder();
    EXPECT_EQ(EncodeMp3(block.data(), 4608), 0);
    EXPECT_EQ(ReadBack(f).size(), 8u * 418);
    std::fclose(f);
    f = std::tmpfile();
    ASSERT_TRUE(InitMp3Encoder(44100, f));
    EncodeMp3(exact.get(), 100);
    CloseMp3Encoder();
    EXPECT_TRUE(ReadBack(f) == EncodeWithEntryPoints(tone, 44100, 1152));  // the same as zeros after it
    std::fclose(f);

    // A close right after init still writes three decodable frames of silence.
    const Decoded d = Decode(EncodeWithEntryPoints(Pcm(), 48000));
    EXPECT_TRUE(d.parsed);
    EXPECT_EQ(d.frames.size(), 3u);
    EXPECT_EQ(d.errors, 0);
    EXPECT_EQ(d.pcm, Pcm(3 * 2304, 0));
}

TEST(Mp3Encoder, RatesWithoutASamplingFrequencyCodeAreRefused) {
    std::FILE* f = std::tmpfile();
    Pcm block(2 * 4608, 100);
    for (int rate : {22050, 96000, 0, -44100}) {
        EXPECT_FALSE(InitMp3Encoder(rate, f)) << rate;
        EXPECT_EQ(mp3enc::ActiveMp3Encoder(), nullptr);
        EXPECT_EQ(EncodeMp3(block.data(), 4608), 0);
        CloseMp3Encoder();
    }
    EXPECT_FALSE(InitMp3Encoder(44100, nullptr));
    EXPECT_EQ(ReadBack(f).size(), 0u);
    EXPECT_TRUE(InitMp3Encoder(32000, f));  // after refusals a supported rate starts normally
    CloseMp3Encoder();
    EXPECT_EQ(ReadBack(f).size(), 3u * 576);
    std::fclose(f);
}

TEST(Mp3Encoder, FrameSizesFollowThePaddingRule) {
    // At 44100 Hz frames 24 and 49 of every 49 are unpadded, and 49 frames are exactly
    // 128000 * 49 * 1152 / 44100 / 8 bytes.
    const int n = 98;
    const Decoded d = Decode(EncodeWithEntryPoints(MusicLike(1152 * (n - 3), 44100, 1), 44100, 1152));
    EXPECT_TRUE(d.parsed);
    ASSERT_EQ(d.frames.size(), static_cast<size_t>(n));
    for (int i = 1; i <= n; ++i) EXPECT_EQ(d.frames[i - 1].bytes, i % 49 == 24 || i % 49 == 0 ? 417 : 418) << i;
    EXPECT_EQ(d.frames.back().offset + 417, 2u * 20480);
    for (int rate : {48000, 32000}) {
        const Decoded e = Decode(EncodeWithEntryPoints(Noise(1152 * 20, 0.3, 4), rate));
        EXPECT_TRUE(e.parsed);
        EXPECT_EQ(e.frames.size(), 23u);  // five blocks of four, and three at close
        for (const Frame& fr : e.frames) EXPECT_EQ(fr.bytes, rate == 48000 ? 384 : 576);
    }
}

TEST(Mp3Encoder, FrameOfSilenceAt44100IsExact) {
    const Bytes s = EncodeWithEntryPoints(Pcm(2 * 1152 * 24, 0), 44100);
    const Decoded d = Decode(s);
    ASSERT_TRUE(d.parsed);
    ASSERT_EQ(d.frames.size(), 27u);
    for (int padded = 0; padded < 2; ++padded) {  // frame 24 is the first of 417 bytes
        const Frame& f = d.frames[padded ? 0 : 23];
        ASSERT_EQ(f.bytes, padded ? 418 : 417);
        const uint8_t* p = s.data() + f.offset;
        EXPECT_EQ(Bytes(p, p + 4), (Bytes{0xFF, 0xFB, static_cast<uint8_t>(padded ? 0x92 : 0x90), 0x84}));
        const Side si = ParseSide(p);
        EXPECT_EQ(si.mainDataBegin | si.privateAndScfsi, 0u);
        for (int b = 0; b < 4; ++b)
            for (int k = 0; k < kFields; ++k) {
                const uint32_t want = k == kPart23 ? (b == 0 ? 3048u + 8 * padded : 0u)
                                      : k == kGlobalGain ? 142u : k == kCount1Table ? 1u : 0u;
                EXPECT_EQ(si.block[b][k], want) << "block " << b << " field " << k;
            }
        for (int i = 36; i < f.bytes; ++i) ASSERT_EQ(p[i], 0xFF) << "main data byte " << i;
    }
}

TEST(Mp3Encoder, StuffingAt32000IsSpreadSoEveryLengthFits) {
    // 4320 bits of main data per frame; silence uses none, and one block holds 4095.
    const Bytes s = EncodeWithEntryPoints(Pcm(2 * 1152 * 4, 0), 32000);
    const Decoded d = Decode(s);
    ASSERT_TRUE(d.parsed);
    ASSERT_EQ(d.frames.size(), 7u);
    const Side si = ParseSide(s.data());
    const uint32_t want[4] = {4095, 4320 - 4095, 0, 0};
    for (int b = 0; b < 4; ++b) EXPECT_EQ(si.block[b][kPart23], want[b]) << b;
    EXPECT_EQ(si.block[1][kGlobalGain], 142u);
    for (int i = 36; i < 576; ++i) ASSERT_EQ(s[i], 0xFF) << "main data byte " << i;
    EXPECT_EQ(d.errors, 0);
    EXPECT_EQ(d.pcm, Pcm(7 * 2304, 0));
}
