// The entry points: frame counts, the idle and refused states, and the exact frames of
// silence with their padding at every rate.
#include <gtest/gtest.h>

#include <memory>

#include "tests/mp3enc/mp3_test_util.h"

using namespace mp3test;

TEST(Mp3Encoder, EntryPointsCountFramesAndRefuseWhatTheyCannotDo) {
    std::FILE* f = std::tmpfile();
    Pcm block(2 * 4608, 1000);
    EXPECT_EQ(EncodeMp3(block.data(), 4608), 0);  // idle
    CloseMp3Encoder();                            // idle: nothing
    ASSERT_TRUE(InitMp3Encoder(44100, f));
    EXPECT_FALSE(InitMp3Encoder(48000, f));  // one at a time
    for (int frames : {0, -5}) EXPECT_EQ(EncodeMp3(block.data(), frames), 1);
    EXPECT_EQ(ReadBack(f).size(), 0u);
    EXPECT_EQ(EncodeMp3(block.data(), 4608), 1);  // one 18432-byte block: four frames
    EXPECT_EQ(ReadBack(f).size(), 4u * 418);
    // A partial count: the samples given and silence, nothing read past them (ASan).
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

    // Rates without a sampling-frequency code and a null file are refused: nothing written.
    f = std::tmpfile();
    for (int rate : {22050, 96000, 0, -44100}) {
        EXPECT_FALSE(InitMp3Encoder(rate, f)) << rate;
        EXPECT_EQ(mp3enc::ActiveMp3Encoder(), nullptr);
        EXPECT_EQ(EncodeMp3(block.data(), 4608), 0);
        CloseMp3Encoder();
    }
    EXPECT_FALSE(InitMp3Encoder(44100, nullptr));
    EXPECT_EQ(ReadBack(f).size(), 0u);
    std::fclose(f);
}

TEST(Mp3Encoder, FramesOfSilenceAreExactAtEveryRate) {
    const int rates[3] = {44100, 48000, 32000};
    for (int r = 0; r < 3; ++r) {
        SCOPED_TRACE(rates[r]);
        const Bytes s = EncodeWithEntryPoints(Pcm(2 * 1152 * 95, 0), rates[r], 1152);
        const Decoded d = Decode(s);
        ASSERT_TRUE(d.parsed);
        ASSERT_EQ(d.frames.size(), 98u);
        EXPECT_EQ(d.errors, 0);
        EXPECT_EQ(d.pcm, Pcm(98 * 2304, 0));
        for (int i = 1; i <= 98; ++i) {
            // At 44100 Hz all but frames 24 and 49 of every 49 are padded; elsewhere none.
            const int padding = r == 0 && i % 49 != 24 && i % 49 != 0;
            const Frame& f = d.frames[i - 1];
            ASSERT_EQ(f.bytes, (r == 0 ? 417 : r == 1 ? 384 : 576) + padding) << i;
            const uint8_t* p = s.data() + f.offset;
            ASSERT_EQ(Bytes(p, p + 4), (Bytes{0xFF, 0xFB, static_cast<uint8_t>(0x90 + 4 * r + 2 * padding), 0x84}))
                << i;
            // Unused bits go to block 0, at 32000 Hz beyond its 12-bit field to block 1.
            const uint32_t part23[4] = {r == 0 ? 3048u + 8 * padding : r == 1 ? 2784u : 4095u,
                                        r == 2 ? 225u : 0u, 0, 0};
            const Side si = ParseSide(p);
            ASSERT_EQ(si.mainDataBegin | si.privateAndScfsi, 0u) << i;
            for (int b = 0; b < 4; ++b)
                for (int k = 0; k < kFields; ++k)
                    ASSERT_EQ(si.block[b][k], k == kPart23 ? part23[b] : k == kGlobalGain ? 142u : k == kCount1Table)
                        << "frame " << i << " block " << b << " field " << k;
            for (int j = 36; j < f.bytes; ++j) ASSERT_EQ(p[j], 0xFF) << "frame " << i << " main data byte " << j;
        }
    }
}
