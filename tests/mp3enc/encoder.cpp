// The entry points: frame counts, and the idle and refused states.
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
    EXPECT_EQ(mp3enc::BitRateIndex(320), 14);  // the top rate has its header code too
    EXPECT_EQ(ReadBack(f).size(), 0u);
    std::fclose(f);
}
