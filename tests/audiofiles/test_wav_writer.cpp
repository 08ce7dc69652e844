// The WAV writer's files are compared byte for byte with the layout written out here
// (the layout table reads that layout back).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "audiofiles/wav_writer.h"
#include "test_support.h"

namespace {

using testing_support::IsolatedScope;
using testing_support::ReadFile;

std::string Le(uint32_t value, int bytes) {
    std::string text;
    for (int i = 0; i < bytes; ++i) text += char(value >> (8 * i));
    return text;
}

std::string Ramp(size_t bytes, int start) {
    std::string data(bytes, '\0');
    for (size_t i = 0; i < bytes; ++i) data[i] = char(start + i * 7);
    return data;
}

// The finished file of 16-bit stereo samples at rate: the sizes, an 18-byte format
// chunk, a fact chunk counting every 16-bit value, and a pad byte after an odd count.
std::string Expected(uint32_t rate, const std::string& samples) {
    const uint32_t n = uint32_t(samples.size());
    return "RIFF" + Le(50 + n + n % 2, 4) + "WAVEfmt " + Le(18, 4) + Le(1, 2) + Le(2, 2) + Le(rate, 4) +
           Le(rate * 4, 4) + Le(4, 2) + Le(16, 2) + Le(0, 2) + "fact" + Le(4, 4) + Le(n / 2, 4) + "data" + Le(n, 4) +
           samples + std::string(n % 2, '\0');
}

uint32_t Write(const std::string& data, int expectResult = kWavWriteOk) {
    uint32_t written = 12345;
    EXPECT_EQ(WavWriteData(data.data(), uint32_t(data.size()), written), expectResult);
    return written;
}

TEST(WavWriter, WritesExactFilesAndRefusesASecondWriter) {
    IsolatedScope scope;
    const std::string block = Ramp(18432, 3);
    ASSERT_TRUE(WavOpenForWrite("Out.wav", 44100));
    EXPECT_EQ(Write(block), 18432u);
    EXPECT_EQ(WavCloseForWrite(), 18432u);
    const std::string file = ReadFile("Out.wav");
    ASSERT_EQ(file.size(), 58u + 18432u);
    EXPECT_TRUE(file == Expected(44100, block));

    // A longer file is replaced. Until the close it reads as a valid file of what was
    // written so far, with the fact value still unset, so a process that dies leaves it so.
    ASSERT_TRUE(WavOpenForWrite("Out.wav", 96000));
    EXPECT_FALSE(WavOpenForWrite("Other.wav", 48000)) << "one writer per process";
    EXPECT_FALSE(std::filesystem::exists("Other.wav"));
    auto unfinished = [](const std::string& samples) { return Expected(96000, samples).replace(46, 4, Le(0xFFFFFFFF, 4)); };
    EXPECT_EQ(ReadFile("Out.wav"), unfinished(""));
    const std::string all = block + Ramp(18432, 31) + Ramp(7, 9);  // an odd count gets a pad byte
    for (size_t at = 0; at < all.size(); at += 18432) {
        EXPECT_EQ(Write(all.substr(at, 18432)), std::min<size_t>(18432, all.size() - at));
        const std::string sofar = all.substr(0, at + 18432);
        if (sofar.size() % 2 == 0) {
            EXPECT_TRUE(ReadFile("Out.wav") == unfinished(sofar)) << sofar.size();
        }
    }
    EXPECT_EQ(WavCloseForWrite(), all.size());
    EXPECT_TRUE(ReadFile("Out.wav") == Expected(96000, all));
    EXPECT_EQ(WavCloseForWrite(), 0u);
    EXPECT_EQ(Write(block, kWavWriteNotOpen), 0u);
    EXPECT_FALSE(WavOpenForWrite("no-such-folder/Out.wav", 44100));
}

// Past the limit, which keeps the 32-bit sizes true, a write is short and the file valid.
TEST(WavWriter, StopsAtTheSizeLimitWithAValidFile) {
    IsolatedScope scope;
    WavSetDataLimit(10002);  // whole frames: 10000
    ASSERT_TRUE(WavOpenForWrite("Out.wav", 44100));
    WavSetDataLimit(kWavWriterMaxDataBytes);  // the open file keeps its own limit
    const std::string block = Ramp(18432, 1);
    EXPECT_EQ(Write(block.substr(0, 6000)), 6000u);
    EXPECT_EQ(Write(block.substr(6000, 6000)), 4000u);
    EXPECT_EQ(Write(block), 0u);
    EXPECT_EQ(WavCloseForWrite(), 10000u);
    EXPECT_TRUE(ReadFile("Out.wav") == Expected(44100, block.substr(0, 10000)));
}

// A disk that fills up mid-block: the writer keeps the whole frames that reached the
// file and closes it consistent.
TEST(WavWriter, AFailingWriteClosesAConsistentFile) {
    IsolatedScope scope;
    const std::string block = Ramp(18432, 5);
    ASSERT_TRUE(WavOpenForWrite("Out.wav", 44100));
    EXPECT_EQ(Write(block), 18432u);
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 58 + 18432 + 1002;  // 250 frames and half of one more
    void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    uint32_t written = 0;
    const int result = WavWriteData(block.data(), 18432, written);
    const bool openAfter = WavIsOpen();
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(result, kWavWriteCannotWrite);
    EXPECT_EQ(written, 1000u);
    EXPECT_FALSE(openAfter);
    EXPECT_EQ(WavCloseForWrite(), 0u) << "already closed at the failure";
    EXPECT_TRUE(ReadFile("Out.wav") == Expected(44100, block + block.substr(0, 1000)));
    EXPECT_TRUE(WavOpenForWrite("Out.wav", 44100)) << "free for the next recording";
    WavCloseForWrite();
}

}  // namespace
