// The frame index over MP3 streams made by `lame` at test time, as they are and with
// tags, junk and damage spliced in.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "sound_fixtures.h"
#include "soundfile/mp3_frame_scanner.h"

namespace {

using fixtures::Bytes;

// The scanner's results over data, with its index copied out.
struct Index {
    explicit Index(const Bytes& data) : scanner(data.data(), uint32_t(data.size())), pages(scanner.Build()) {
        for (uint32_t i = 0; i < scanner.frameCount; ++i) {
            offsets.push_back(scanner.FrameOffset(i));
            lengths.push_back(scanner.FrameLengthAt(i));
        }
    }
    long Count(int32_t length) const { return std::count(lengths.begin(), lengths.end(), length); }
    Mp3FrameScanner scanner;
    uint32_t pages;
    const uint32_t& frames = scanner.frameCount;
    std::vector<uint32_t> offsets;
    std::vector<int32_t> lengths;
};

// Frames follow each other without gaps from offset 0 to the end of the data.
void ExpectContiguous(const Index& index, size_t size) {
    ASSERT_FALSE(index.offsets.empty());
    EXPECT_EQ(index.offsets[0], 0u);
    for (size_t i = 1; i < index.offsets.size(); ++i)
        ASSERT_EQ(index.offsets[i], index.offsets[i - 1] + uint32_t(index.lengths[i - 1])) << "frame " << i;
    EXPECT_EQ(index.offsets.back() + uint32_t(index.lengths.back()), size);
}

using FrameScanner = fixtures::LameTest;

TEST_F(FrameScanner, FrameLengthsRatesAndLengthsOfStreams) {
    // kbit/s * 144 (72 for MPEG-2) / rate, plus a padding byte: 417.96, 384 and 208.98.
    struct Case { const char* options; uint32_t rate, channels, frameSamples; int32_t shortLength, longLength; };
    for (const Case& c : {Case{"-b 128 -t", 44100, 2, 1152, 417, 418}, Case{"-b 128 -m m -t", 48000, 1, 1152, 384, 384},
                          Case{"-b 64 -t", 22050, 2, 576, 208, 209}}) {
        SCOPED_TRACE(c.rate);
        const Bytes mp3 = Encode("cbr", c.rate * 2, c.channels, c.rate, c.options);
        const Index index(mp3);
        ASSERT_EQ(index.pages, 1u);
        EXPECT_EQ(index.scanner.sampleRate, c.rate);
        EXPECT_EQ(index.scanner.channels, c.channels);
        EXPECT_GT(index.frames, 70u);
        EXPECT_EQ(index.scanner.sourceFrames, (index.frames - 1) * c.frameSamples);
        ExpectContiguous(index, mp3.size());
        EXPECT_GT(index.Count(c.shortLength), 0);
        EXPECT_GT(index.Count(c.longLength), 0);
        EXPECT_EQ(index.Count(c.shortLength) + (c.longLength != c.shortLength ? index.Count(c.longLength) : 0),
                  long(index.frames));
    }
    // MPEG-2.5 (11025 Hz) is refused, and so is data without frames.
    const Bytes mpeg25 = Encode("mpeg25", 11025, 1, 11025, "-b 32 -t");
    ASSERT_GE(mpeg25.size(), 2u);
    ASSERT_EQ(mpeg25[1] & 0xFE, 0xE2);
    EXPECT_EQ(Index(mpeg25).pages, 0u);
    EXPECT_EQ(Index(Bytes(5000, 0xFF)).pages, 0u);
}

TEST_F(FrameScanner, SkipsTagsAndJunkAroundTheStream) {
    const Bytes mp3 = Encode("cbr", 44100, 2, 44100, "-b 128 -t");
    const Index plain(mp3);
    ASSERT_GT(plain.frames, 10u);
    // An ID3v2 tag of 0x0101 = 257 bytes after its 10-byte header (size bytes 00 00 02 01,
    // seven bits each), holding a frame header that must not be taken.
    Bytes tagged = {'I', 'D', '3', 3, 0, 0, 0, 0, 2, 1};
    tagged.resize(267, 0x20);
    std::copy_n(mp3.begin(), 8, tagged.begin() + 40);
    // Junk with a lone FF FB pair: a header whose would-be successor is no header.
    Bytes junk = {0x00, 0x12, 0xFF, 0xFB, 0x90, 0x64, 0x00, 0x00, 0xFF, 0x00};
    junk.resize(600, 0x55);
    // A trailing 128-byte tag ends the scan, even with a frame header inside it.
    Bytes tag(128, ' ');
    std::memcpy(tag.data(), "TAG", 3);
    std::copy_n(mp3.begin(), 8, tag.begin() + 40);

    for (const auto& [before, after] : {std::pair{tagged, Bytes{}}, std::pair{junk, Bytes{}}, std::pair{Bytes{}, tag}}) {
        Bytes image = before;
        image.insert(image.end(), mp3.begin(), mp3.end());
        image.insert(image.end(), after.begin(), after.end());
        const Index index(image);
        ASSERT_EQ(index.frames, plain.frames) << before.size();
        EXPECT_EQ(index.lengths, plain.lengths);
        for (size_t i = 0; i < index.frames; ++i) ASSERT_EQ(index.offsets[i], plain.offsets[i] + before.size());
    }
}

TEST_F(FrameScanner, StrayAndMissingBytesAreAbsorbedByTheFrameBefore) {
    const Bytes mp3 = Encode("cbr", 44100, 2, 44100, "-b 128 -t");
    const Index plain(mp3);
    ASSERT_GT(plain.frames, 20u);
    const auto at = mp3.begin() + plain.offsets[11];
    // A stray byte, a lost byte, a run of garbage (belonging to no frame), a cut end.
    Bytes inserted(mp3.begin(), at), removed(mp3.begin(), at - 1), garbage(mp3.begin(), at);
    inserted.push_back(0x00);
    garbage.insert(garbage.end(), 50, 0x00);
    for (Bytes* b : {&inserted, &removed, &garbage}) b->insert(b->end(), at, mp3.end());
    struct Case { const Bytes& image; int frame10Change, offsetChange; };
    for (const Case& c : {Case{inserted, 1, 1}, Case{removed, -1, -1}, Case{garbage, 0, 50}}) {
        const Index index(c.image);
        ASSERT_EQ(index.frames, plain.frames) << c.offsetChange;
        EXPECT_EQ(index.lengths[10], plain.lengths[10] + c.frame10Change);
        EXPECT_EQ(index.offsets[12], plain.offsets[12] + c.offsetChange);
        EXPECT_EQ(index.offsets.back() + uint32_t(index.lengths.back()), c.image.size());
    }
    const Index cut(Bytes(mp3.begin(), mp3.end() - 100));
    ASSERT_EQ(cut.frames, plain.frames);
    EXPECT_EQ(cut.lengths.back(), plain.lengths.back() - 100);
}

TEST_F(FrameScanner, VariableBitRateStreamIndexesItsInformationFrame) {
    const Bytes vbr = Encode("vbr", 44100 * 2, 2, 44100, "-V 4");
    const Index index(vbr);
    ASSERT_GT(index.frames, 75u);
    ExpectContiguous(index, vbr.size());
    EXPECT_NE(std::string(vbr.begin(), vbr.begin() + index.lengths[0]).find("Xing"), std::string::npos);
    std::vector<int32_t> lengths = index.lengths;
    std::sort(lengths.begin(), lengths.end());
    EXPECT_GT(std::unique(lengths.begin(), lengths.end()) - lengths.begin(), 2) << "several bit rates";
}

TEST_F(FrameScanner, StreamsLongerThanAnHourAreIndexedToTheirEnd) {
    // 30 s of frames repeated 160 times: 80 minutes, about 184000 frames.
    const Bytes part = Encode("part", 44100 * 30, 2, 44100, "-b 128 -t");
    const uint32_t partFrames = Index(part).frames;
    ASSERT_GT(partFrames, 1140u);
    Bytes whole;
    for (int i = 0; i < 160; ++i) whole.insert(whole.end(), part.begin(), part.end());
    Mp3FrameScanner scanner(whole.data(), uint32_t(whole.size()));
    ASSERT_NE(scanner.Build(), 0u);
    EXPECT_EQ(scanner.frameCount, partFrames * 160);
    const uint32_t last = scanner.frameCount - 1;
    EXPECT_EQ(scanner.FrameOffset(last) + uint32_t(scanner.FrameLengthAt(last)), whole.size());
    EXPECT_EQ(scanner.sourceFrames, last * 1152);
}

}  // namespace
