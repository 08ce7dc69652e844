// The WAV writer's own guarantees; the recorder's tests check its finished files byte for byte.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <string>

#include "audiofiles/wav_writer.h"
#include "test_support.h"

namespace {

using testing_support::ReadFile;

std::string Le(uint32_t value, int bytes) {
    std::string text;
    for (int i = 0; i < bytes; ++i) text += char(value >> (8 * i));
    return text;
}

// 16-bit stereo samples at 44100 Hz; the fact value stays all ones until the close.
std::string Expected(const std::string& samples, bool closed) {
    const uint32_t n = uint32_t(samples.size());
    return "RIFF" + Le(50 + n, 4) + "WAVEfmt " + Le(18, 4) + Le(1, 2) + Le(2, 2) + Le(44100, 4) + Le(44100 * 4, 4) +
           Le(4, 2) + Le(16, 2) + Le(0, 2) + "fact" + Le(4, 4) + Le(closed ? n / 2 : 0xFFFFFFFF, 4) + "data" +
           Le(n, 4) + samples;
}

// Until the close the file is valid as far as it goes, so a process that dies leaves it so; a
// disk full mid-block keeps the whole frames that reached it and closes it consistent.
TEST(WavWriter, TheFileIsValidAfterEveryBlockAndAFailingWriteClosesIt) {
    testing_support::IsolatedScope scope;
    testing_support::WriteFile("Out.wav", std::string(100000, 'x'));  // replaced
    std::string data(18432, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = char(3 + i * 7);
    ASSERT_TRUE(WavOpenForWrite("Out.wav", 44100));
    EXPECT_FALSE(WavOpenForWrite("Other.wav", 48000));
    EXPECT_EQ(ReadFile("Out.wav"), Expected("", false));
    uint32_t written = 0;
    for (const std::string& sofar : {data, data + data}) {
        EXPECT_EQ(WavWriteData(data.data(), 18432, written), kWavWriteOk);
        EXPECT_TRUE(ReadFile("Out.wav") == Expected(sofar, false)) << sofar.size();
    }
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 58 + 2 * 18432 + 1002;  // 250 frames and half of one more
    void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const int result = WavWriteData(data.data(), 18432, written);
    const bool openAfter = WavIsOpen();
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(result, kWavWriteCannotWrite);
    EXPECT_EQ(written, 1000u);
    EXPECT_FALSE(openAfter);
    EXPECT_EQ(WavCloseForWrite(), 0u);
    EXPECT_TRUE(ReadFile("Out.wav") == Expected(data + data + data.substr(0, 1000), true));
    EXPECT_EQ(WavWriteData(data.data(), 18432, written), kWavWriteNotOpen);
    EXPECT_FALSE(WavOpenForWrite("no-such-folder/Out.wav", 44100));
    EXPECT_TRUE(WavOpenForWrite("Out.wav", 44100));
    WavCloseForWrite();
}

// The limit keeps the 32-bit sizes true: past it a write is short, whole frames only, and the
// file stays valid.
TEST(WavWriter, StopsAtTheSizeLimitWithAValidFile) {
    testing_support::IsolatedScope scope;
    WavSetDataLimit(10002);
    const bool opened = WavOpenForWrite("Out.wav", 44100);
    WavSetDataLimit(kWavWriterMaxDataBytes);  // the open file keeps its own
    ASSERT_TRUE(opened);
    const std::string data(18432, 'a');
    uint32_t written = 0;
    EXPECT_EQ(WavWriteData(data.data(), 6000, written), kWavWriteOk);
    EXPECT_EQ(written, 6000u);
    EXPECT_EQ(WavWriteData(data.data(), 6000, written), kWavWriteOk);
    EXPECT_EQ(written, 4000u);
    EXPECT_EQ(WavCloseForWrite(), 10000u);
    EXPECT_TRUE(ReadFile("Out.wav") == Expected(data.substr(0, 10000), true));
}

}  // namespace
