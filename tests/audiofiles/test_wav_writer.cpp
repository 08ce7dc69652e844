// The WAV writer's files are checked by walking their RIFF chunks here, byte by byte,
// and by the project's own WAV reader.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "audiofiles/wav_layout.h"
#include "audiofiles/wav_writer.h"
#include "test_support.h"

namespace {

using testing_support::IsolatedScope;
using testing_support::ReadFile;

uint32_t Le(const std::string& bytes, size_t offset, int size = 4) {
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data()) + offset;
    return size == 2 ? ReadLe16(p) : ReadLe32(p);
}

std::vector<uint8_t> Ramp(size_t bytes, uint8_t start) {
    std::vector<uint8_t> data(bytes);
    for (size_t i = 0; i < bytes; ++i) data[i] = uint8_t(start + i * 7);
    return data;
}

// Walks the RIFF chunks of a finished file (pad bytes included) and checks the fmt,
// fact and data chunks against the samples that went in.
void ExpectFile(const std::string& file, uint32_t rate, const std::vector<uint8_t>& samples) {
    ASSERT_GE(file.size(), 12u);
    EXPECT_EQ(file.substr(0, 4) + file.substr(8, 4), "RIFFWAVE");
    EXPECT_EQ(Le(file, 4), file.size() - 8);
    std::string ids;
    size_t at = 12;
    while (at + 8 <= file.size()) {
        const uint32_t size = Le(file, at + 4);
        ASSERT_LE(at + 8 + size, file.size());
        ids += file.substr(at, 4);
        if (ids.size() == 12) {  // data
            ASSERT_EQ(size, samples.size());
            EXPECT_TRUE(samples.empty() || std::memcmp(file.data() + at + 8, samples.data(), size) == 0);
        }
        at += 8 + size + (size & 1);
    }
    EXPECT_EQ(at, file.size());
    ASSERT_EQ(ids, "fmt factdata");
    EXPECT_EQ(Le(file, 16), 18u);
    const uint32_t format[] = {1, 2, rate & 0xFFFF, rate >> 16, (rate * 4) & 0xFFFF, (rate * 4) >> 16, 4, 16, 0};
    for (int i = 0; i < 9; ++i) EXPECT_EQ(Le(file, 20 + 2 * i, 2), format[i]) << "format word " << i;
    EXPECT_EQ(Le(file, 42), 4u);
    EXPECT_EQ(Le(file, 46), samples.size() / 2) << "fact: every 16-bit value";
    EXPECT_EQ(Le(file, 54), samples.size());
}

uint32_t Write(const std::vector<uint8_t>& data, size_t bytes, int expectResult = kWavWriteOk) {
    uint32_t written = 12345;
    EXPECT_EQ(WavWriteData(data.data(), uint32_t(bytes), written), expectResult);
    return written;
}

TEST(WavWriter, OneBlockGivesTheExactFileAndTheReaderAcceptsIt) {
    IsolatedScope scope;
    const std::vector<uint8_t> block = Ramp(18432, 3);
    ASSERT_TRUE(WavOpenForWrite("Out.wav", 44100));
    EXPECT_EQ(Write(block, 18432), 18432u);
    EXPECT_EQ(WavCloseForWrite(), 18432u);
    const std::string file = ReadFile("Out.wav");
    ASSERT_EQ(file.size(), 58u + 18432u);
    EXPECT_EQ(Le(file, 4), 18482u);
    ExpectFile(file, 44100, block);

    WavLayout layout;
    ASSERT_TRUE(ParseWavHeader(reinterpret_cast<const uint8_t*>(file.data()), uint32_t(file.size()), layout));
    EXPECT_EQ(layout.channels, 2u);
    EXPECT_EQ(layout.sampleRate, 44100u);
    EXPECT_EQ(layout.dataOffset, 58u);
    EXPECT_EQ(layout.sourceFrames, 4608u);
}

TEST(WavWriter, EmptyRepeatedAndRefusedRecordings) {
    IsolatedScope scope;
    testing_support::WriteFile("Out.wav", std::string(100000, 'x'));  // an older, longer file
    ASSERT_TRUE(WavOpenForWrite("Out.wav", 48000));
    EXPECT_FALSE(WavOpenForWrite("Other.wav", 48000)) << "one writer per process";
    EXPECT_FALSE(std::filesystem::exists("Other.wav"));
    const std::string open = ReadFile("Out.wav");  // a valid empty file until closed
    ASSERT_EQ(open.size(), 58u);
    EXPECT_EQ(Le(open, 46), 0xFFFFFFFFu);
    EXPECT_EQ(WavCloseForWrite(), 0u);
    ExpectFile(ReadFile("Out.wav"), 48000, {});
    EXPECT_EQ(Write(Ramp(8, 0), 8, kWavWriteNotOpen), 0u);
    EXPECT_FALSE(WavOpenForWrite("no-such-folder/Out.wav", 44100));

    std::vector<uint8_t> all;
    ASSERT_TRUE(WavOpenForWrite("Out.wav", 96000));
    for (int i = 0; i < 3; ++i) {
        const std::vector<uint8_t> block = Ramp(18432, uint8_t(i * 31));
        EXPECT_EQ(Write(block, 18432), 18432u);
        all.insert(all.end(), block.begin(), block.end());
    }
    const std::vector<uint8_t> odd = Ramp(7, 9);  // an odd count gets a pad byte
    EXPECT_EQ(Write(odd, 7), 7u);
    all.insert(all.end(), odd.begin(), odd.end());
    EXPECT_EQ(WavCloseForWrite(), all.size());
    ExpectFile(ReadFile("Out.wav"), 96000, all);
}

TEST(WavWriter, StopsAtTheSizeLimitWithAValidFile) {
    IsolatedScope scope;
    WavSetDataLimit(10002);  // whole frames: 10000
    ASSERT_TRUE(WavOpenForWrite("Out.wav", 44100));
    WavSetDataLimit(kWavWriterMaxDataBytes);  // the open file keeps its own limit
    const std::vector<uint8_t> block = Ramp(18432, 1);
    EXPECT_EQ(Write(block, 6000), 6000u);
    const std::vector<uint8_t> rest(block.begin() + 6000, block.end());
    EXPECT_EQ(Write(rest, 6000), 4000u) << "a short write at the limit";
    EXPECT_EQ(Write(block, 6000), 0u);
    EXPECT_EQ(WavCloseForWrite(), 10000u);
    ExpectFile(ReadFile("Out.wav"), 44100, std::vector<uint8_t>(block.begin(), block.begin() + 10000));
}

// A disk that fills up mid-block: the system takes part of the block, the writer keeps
// its whole frames and closes a consistent file.
TEST(WavWriter, AFailingWriteClosesAConsistentFile) {
    IsolatedScope scope;
    const std::vector<uint8_t> block = Ramp(18432, 5);
    ASSERT_TRUE(WavOpenForWrite("Out.wav", 44100));
    EXPECT_EQ(Write(block, 18432), 18432u);
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
    std::vector<uint8_t> expected(block);
    expected.insert(expected.end(), block.begin(), block.begin() + 1000);
    ExpectFile(ReadFile("Out.wav"), 44100, expected);
    EXPECT_TRUE(WavOpenForWrite("Out.wav", 44100)) << "free for the next recording";
    WavCloseForWrite();
}

}  // namespace
