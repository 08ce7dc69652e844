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

uint32_t Le32(const std::string& bytes, size_t offset) {
    return ReadLe32(reinterpret_cast<const uint8_t*>(bytes.data()) + offset);
}
uint32_t Le16(const std::string& bytes, size_t offset) {
    return ReadLe16(reinterpret_cast<const uint8_t*>(bytes.data()) + offset);
}

struct Chunk {
    std::string id;
    uint32_t offset;  // of the chunk's body
    uint32_t size;
};

// Walks the chunks inside the RIFF form, honouring the pad byte of odd sizes. Fails
// the test when a chunk runs past the file or the RIFF size disagrees with the file.
std::vector<Chunk> WalkRiff(const std::string& file) {
    std::vector<Chunk> chunks;
    EXPECT_GE(file.size(), 12u);
    if (file.size() < 12) return chunks;
    EXPECT_EQ(file.substr(0, 4), "RIFF");
    EXPECT_EQ(file.substr(8, 4), "WAVE");
    EXPECT_EQ(Le32(file, 4), file.size() - 8) << "RIFF size";
    size_t at = 12;
    while (at + 8 <= file.size()) {
        Chunk chunk{file.substr(at, 4), uint32_t(at + 8), Le32(file, at + 4)};
        EXPECT_LE(at + 8 + chunk.size, file.size()) << chunk.id << " runs past the end";
        chunks.push_back(chunk);
        at += 8 + chunk.size + (chunk.size & 1);
    }
    EXPECT_EQ(at, file.size()) << "bytes left after the last chunk";
    return chunks;
}

std::vector<uint8_t> Ramp(size_t bytes, uint8_t start) {
    std::vector<uint8_t> data(bytes);
    for (size_t i = 0; i < bytes; ++i) data[i] = uint8_t(start + i * 7);
    return data;
}

// Checks the fmt, fact and data chunks of a finished file against the samples that
// went in.
void ExpectFinishedFile(const std::string& file, uint32_t rate, const std::vector<uint8_t>& samples) {
    const std::vector<Chunk> chunks = WalkRiff(file);
    ASSERT_EQ(chunks.size(), 3u);
    EXPECT_EQ(chunks[0].id, "fmt ");
    EXPECT_EQ(chunks[0].size, 18u);
    EXPECT_EQ(Le16(file, 20), 1u);         // PCM
    EXPECT_EQ(Le16(file, 22), 2u);         // channels
    EXPECT_EQ(Le32(file, 24), rate);
    EXPECT_EQ(Le32(file, 28), rate * 4);
    EXPECT_EQ(Le16(file, 32), 4u);
    EXPECT_EQ(Le16(file, 34), 16u);
    EXPECT_EQ(Le16(file, 36), 0u);
    EXPECT_EQ(chunks[1].id, "fact");
    EXPECT_EQ(chunks[1].size, 4u);
    EXPECT_EQ(Le32(file, chunks[1].offset), samples.size() / 2);
    EXPECT_EQ(chunks[2].id, "data");
    EXPECT_EQ(chunks[2].offset, kWavWriterHeaderBytes);
    ASSERT_EQ(chunks[2].size, samples.size());
    EXPECT_TRUE(samples.empty() ||
                std::memcmp(file.data() + chunks[2].offset, samples.data(), samples.size()) == 0);
}

TEST(WavWriter, OneBlockGivesTheExactFileAndTheReaderAcceptsIt) {
    IsolatedScope scope;
    const std::vector<uint8_t> block = Ramp(18432, 3);
    ASSERT_TRUE(WavOpenForWrite("Out.wav", 44100));
    EXPECT_TRUE(WavIsOpen());
    uint32_t written = 0;
    EXPECT_EQ(WavWriteData(block.data(), 18432, written), kWavWriteOk);
    EXPECT_EQ(written, 18432u);
    EXPECT_EQ(WavCloseForWrite(), 18432u);
    EXPECT_FALSE(WavIsOpen());

    const std::string file = ReadFile("Out.wav");
    ASSERT_EQ(file.size(), 58u + 18432u);
    EXPECT_EQ(Le32(file, 4), 18482u);
    EXPECT_EQ(Le32(file, 46), 9216u);
    EXPECT_EQ(Le32(file, 54), 18432u);
    ExpectFinishedFile(file, 44100, block);

    WavLayout layout;
    ASSERT_TRUE(ParseWavHeader(reinterpret_cast<const uint8_t*>(file.data()), uint32_t(file.size()), layout));
    EXPECT_EQ(layout.format, kWavFormatPcm);
    EXPECT_EQ(layout.channels, 2u);
    EXPECT_EQ(layout.sampleRate, 44100u);
    EXPECT_EQ(layout.dataOffset, 58u);
    EXPECT_EQ(layout.sourceFrames, 4608u);
}

TEST(WavWriter, EmptyAndRepeatedRecordingsAndTheOpenHeader) {
    IsolatedScope scope;
    // A leftover from an earlier, longer recording is replaced, not overwritten in part.
    testing_support::WriteFile("Out.wav", std::string(100000, 'x'));

    ASSERT_TRUE(WavOpenForWrite("Out.wav", 48000));
    // Until the close the sample count says "unknown" and the file is a valid empty WAV.
    std::string open = ReadFile("Out.wav");
    ASSERT_EQ(open.size(), 58u);
    EXPECT_EQ(Le32(open, 46), 0xFFFFFFFFu);
    EXPECT_EQ(Le32(open, 54), 0u);
    EXPECT_EQ(WavCloseForWrite(), 0u);
    ExpectFinishedFile(ReadFile("Out.wav"), 48000, {});

    // Several blocks, then a second recording that replaces the first.
    std::vector<uint8_t> all;
    ASSERT_TRUE(WavOpenForWrite("Out.wav", 48000));
    for (int i = 0; i < 5; ++i) {
        const std::vector<uint8_t> block = Ramp(18432, uint8_t(i * 31));
        uint32_t written = 0;
        ASSERT_EQ(WavWriteData(block.data(), 18432, written), kWavWriteOk);
        ASSERT_EQ(written, 18432u);
        all.insert(all.end(), block.begin(), block.end());
    }
    EXPECT_EQ(WavCloseForWrite(), 5u * 18432u);
    ExpectFinishedFile(ReadFile("Out.wav"), 48000, all);

    const std::vector<uint8_t> second = Ramp(4608, 99);
    ASSERT_TRUE(WavOpenForWrite("Out.wav", 96000));
    uint32_t written = 0;
    ASSERT_EQ(WavWriteData(second.data(), 4608, written), kWavWriteOk);
    EXPECT_EQ(WavCloseForWrite(), 4608u);
    ExpectFinishedFile(ReadFile("Out.wav"), 96000, second);
}

TEST(WavWriter, RefusesWhatItCannotDo) {
    IsolatedScope scope;
    uint32_t written = 7;
    const uint8_t bytes[8] = {};
    EXPECT_EQ(WavWriteData(bytes, 8, written), kWavWriteNotOpen);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(WavCloseForWrite(), 0u);
    EXPECT_FALSE(WavOpenForWrite("no-such-folder/Out.wav", 44100));
    EXPECT_FALSE(WavOpenForWrite(nullptr, 44100));
    EXPECT_FALSE(WavIsOpen());

    // One writer per process: a second open fails and leaves the first file alone.
    ASSERT_TRUE(WavOpenForWrite("Out.wav", 44100));
    EXPECT_FALSE(WavOpenForWrite("Other.wav", 44100));
    EXPECT_FALSE(std::filesystem::exists("Other.wav"));
    ASSERT_EQ(WavWriteData(bytes, 8, written), kWavWriteOk);
    EXPECT_EQ(WavCloseForWrite(), 8u);
    EXPECT_EQ(WavCloseForWrite(), 0u);  // a second close does nothing
    EXPECT_EQ(ReadFile("Out.wav").size(), 66u);
}

TEST(WavWriter, StopsAtTheSizeLimitWithAValidFile) {
    IsolatedScope scope;
    WavSetDataLimit(10002);  // rounded down to whole frames: 10000
    ASSERT_TRUE(WavOpenForWrite("Out.wav", 44100));
    WavSetDataLimit(kWavWriterMaxDataBytes);  // the open file keeps its own limit

    const std::vector<uint8_t> block = Ramp(18432, 1);
    uint32_t written = 0;
    EXPECT_EQ(WavWriteData(block.data(), 6000, written), kWavWriteOk);
    EXPECT_EQ(written, 6000u);
    EXPECT_EQ(WavWriteData(block.data() + 6000, 6000, written), kWavWriteOk);
    EXPECT_EQ(written, 4000u) << "a short write at the limit";
    EXPECT_EQ(WavWriteData(block.data(), 6000, written), kWavWriteOk);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(WavCloseForWrite(), 10000u);
    ExpectFinishedFile(ReadFile("Out.wav"), 44100,
                       std::vector<uint8_t>(block.begin(), block.begin() + 10000));

    // The default limit keeps the file, and so every header size, below 4 GiB.
    EXPECT_LE(uint64_t(kWavWriterMaxDataBytes) + kWavWriterHeaderBytes, 0xFFFFFFFFull);
    EXPECT_EQ(kWavWriterMaxDataBytes % 4, 0u);

    // An odd byte count gets its pad byte and stays walkable.
    ASSERT_TRUE(WavOpenForWrite("Out.wav", 8000));
    EXPECT_EQ(WavWriteData(block.data(), 7, written), kWavWriteOk);
    EXPECT_EQ(WavCloseForWrite(), 7u);
    const std::string odd = ReadFile("Out.wav");
    EXPECT_EQ(odd.size(), 58u + 8u);
    const std::vector<Chunk> chunks = WalkRiff(odd);
    ASSERT_EQ(chunks.size(), 3u);
    EXPECT_EQ(chunks[2].size, 7u);
    EXPECT_EQ(Le32(odd, 46), 3u);
}

// A disk that fills up mid-block: the system takes part of the block, the writer keeps
// the whole frames of it and closes a consistent file.
TEST(WavWriter, AFailingWriteClosesAConsistentFile) {
    IsolatedScope scope;
    ASSERT_TRUE(WavOpenForWrite("Out.wav", 44100));
    const std::vector<uint8_t> block = Ramp(18432, 5);
    uint32_t written = 0;
    ASSERT_EQ(WavWriteData(block.data(), 18432, written), kWavWriteOk);

    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 58 + 18432 + 1002;  // room for 250 frames and half of one more
    void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const int result = WavWriteData(block.data(), 18432, written);
    const bool openAfter = WavIsOpen();
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(result, kWavWriteCannotWrite);
    EXPECT_EQ(written, 1000u);
    EXPECT_FALSE(openAfter);
    EXPECT_EQ(WavWriteData(block.data(), 4, written), kWavWriteNotOpen);
    EXPECT_EQ(WavCloseForWrite(), 0u) << "the file was closed at the failure";

    std::vector<uint8_t> expected(block);
    expected.insert(expected.end(), block.begin(), block.begin() + 1000);
    const std::string file = ReadFile("Out.wav");
    EXPECT_EQ(file.size(), 58u + 18432u + 1000u);
    ExpectFinishedFile(file, 44100, expected);

    // The writer is free for the next recording.
    EXPECT_TRUE(WavOpenForWrite("Out.wav", 44100));
    EXPECT_EQ(WavCloseForWrite(), 0u);
}

}  // namespace
