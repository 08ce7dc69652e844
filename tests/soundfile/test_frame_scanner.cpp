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
using testing_support::TempDir;

struct Index {
    uint32_t pages = 0;
    uint32_t frames = 0;
    uint32_t rate = 0;
    uint32_t channels = 0;
    uint32_t sourceFrames = 0;
    std::vector<uint32_t> offsets;
    std::vector<int32_t> lengths;
};

Index Scan(const Bytes& data) {
    Mp3FrameScanner scanner(data.data(), uint32_t(data.size()));
    Index index;
    index.pages = scanner.Build();
    index.frames = scanner.frameCount;
    index.rate = scanner.sampleRate;
    index.channels = scanner.channels;
    index.sourceFrames = scanner.sourceFrames;
    for (uint32_t i = 0; i < scanner.frameCount; ++i) {
        index.offsets.push_back(scanner.FrameOffset(i));
        index.lengths.push_back(scanner.FrameLengthAt(i));
    }
    return index;
}

// Frames follow each other without gaps from `first` to the end of `size` bytes.
void ExpectContiguous(const Index& index, uint32_t first, size_t size) {
    ASSERT_FALSE(index.offsets.empty());
    EXPECT_EQ(index.offsets[0], first);
    for (size_t i = 1; i < index.offsets.size(); ++i)
        ASSERT_EQ(index.offsets[i], index.offsets[i - 1] + uint32_t(index.lengths[i - 1])) << "frame " << i;
    EXPECT_EQ(index.offsets.back() + uint32_t(index.lengths.back()), size);
}

class FrameScanner : public ::testing::Test {
protected:
    TempDir dir;
};

TEST_F(FrameScanner, ConstantBitRateStreamHasPaddedAndUnpaddedFrames) {
    const Bytes mp3 = fixtures::LameEncode(dir.path(), "cbr", 44100 * 2, 2, 44100, "-b 128 -t");
    const Index index = Scan(mp3);
    ASSERT_EQ(index.pages, 1u);
    EXPECT_EQ(index.rate, 44100u);
    EXPECT_EQ(index.channels, 2u);
    EXPECT_GT(index.frames, 75u);
    EXPECT_EQ(index.sourceFrames, (index.frames - 1) * 1152);
    ExpectContiguous(index, 0, mp3.size());
    // 128000 * 144 / 44100 = 417.96: 417 bytes, or 418 with the padding bit.
    EXPECT_NE(std::count(index.lengths.begin(), index.lengths.end(), 417), 0);
    EXPECT_NE(std::count(index.lengths.begin(), index.lengths.end(), 418), 0);
    EXPECT_EQ(std::count(index.lengths.begin(), index.lengths.end(), 417) +
                  std::count(index.lengths.begin(), index.lengths.end(), 418),
              long(index.frames));

    // Mono at 48000 Hz: 128000 * 144 / 48000 = 384 bytes, never padded.
    const Bytes mono = fixtures::LameEncode(dir.path(), "mono", 48000, 1, 48000, "-b 128 -m m -t");
    const Index monoIndex = Scan(mono);
    EXPECT_EQ(monoIndex.channels, 1u);
    EXPECT_EQ(monoIndex.rate, 48000u);
    ExpectContiguous(monoIndex, 0, mono.size());
    EXPECT_EQ(std::count(monoIndex.lengths.begin(), monoIndex.lengths.end(), 384), long(monoIndex.frames));
}

TEST_F(FrameScanner, SkipsTagsAndJunkAroundTheStream) {
    const Bytes mp3 = fixtures::LameEncode(dir.path(), "cbr", 44100, 2, 44100, "-b 128 -t");
    const Index plain = Scan(mp3);
    ASSERT_GT(plain.frames, 10u);

    // An ID3v2 tag of 0x0101 = 257 bytes after its 10-byte header (size bytes 00 00 02
    // 01, seven bits each). Its body holds a frame header that must not be taken.
    Bytes tagged = {'I', 'D', '3', 3, 0, 0, 0, 0, 2, 1};
    tagged.resize(10 + 257, 0x20);
    std::copy_n(mp3.begin(), 8, tagged.begin() + 40);
    tagged.insert(tagged.end(), mp3.begin(), mp3.end());
    Index index = Scan(tagged);
    EXPECT_EQ(index.frames, plain.frames);
    ExpectContiguous(index, 267, tagged.size());

    // Junk with a lone FF FB pair (a header whose would-be successor is no header).
    Bytes junk = {0x00, 0x12, 0xFF, 0xFB, 0x90, 0x64, 0x00, 0x00, 0xFF, 0x00};
    junk.resize(600, 0x55);
    junk.insert(junk.end(), mp3.begin(), mp3.end());
    index = Scan(junk);
    EXPECT_EQ(index.frames, plain.frames);
    ExpectContiguous(index, 600, junk.size());

    // A trailing 128-byte tag ends the scan where the next frame was expected, even with
    // a frame header inside it.
    Bytes trailed = mp3;
    Bytes tag(128, ' ');
    std::memcpy(tag.data(), "TAG", 3);
    std::copy_n(mp3.begin(), 8, tag.begin() + 40);
    trailed.insert(trailed.end(), tag.begin(), tag.end());
    index = Scan(trailed);
    EXPECT_EQ(index.frames, plain.frames);
    EXPECT_EQ(index.lengths, plain.lengths);
}

TEST_F(FrameScanner, StrayAndMissingBytesAreAbsorbedByTheFrameBefore) {
    const Bytes mp3 = fixtures::LameEncode(dir.path(), "cbr", 44100, 2, 44100, "-b 128 -t");
    const Index plain = Scan(mp3);
    ASSERT_GT(plain.frames, 20u);

    Bytes inserted = mp3;
    inserted.insert(inserted.begin() + plain.offsets[11], 0x00);
    Index index = Scan(inserted);
    ASSERT_EQ(index.frames, plain.frames);
    EXPECT_EQ(index.lengths[10], plain.lengths[10] + 1);
    EXPECT_EQ(index.offsets[11], plain.offsets[11] + 1);
    ExpectContiguous(index, 0, inserted.size());

    Bytes removed = mp3;
    removed.erase(removed.begin() + plain.offsets[11] - 1);
    index = Scan(removed);
    ASSERT_EQ(index.frames, plain.frames);
    EXPECT_EQ(index.lengths[10], plain.lengths[10] - 1);
    EXPECT_EQ(index.offsets[12], plain.offsets[12] - 1);
    ExpectContiguous(index, 0, removed.size());

    // A run of garbage is skipped: its bytes belong to no frame.
    Bytes garbage = mp3;
    garbage.insert(garbage.begin() + plain.offsets[11], 50, 0x00);
    index = Scan(garbage);
    ASSERT_EQ(index.frames, plain.frames);
    EXPECT_EQ(index.lengths[10], plain.lengths[10]);
    EXPECT_EQ(index.offsets[11], plain.offsets[11] + 50);

    // A last frame cut short is indexed with the bytes present.
    Bytes cut(mp3.begin(), mp3.end() - 100);
    index = Scan(cut);
    ASSERT_EQ(index.frames, plain.frames);
    EXPECT_EQ(index.lengths.back(), plain.lengths.back() - 100);
}

TEST_F(FrameScanner, LowerRatesAndVersions) {
    // MPEG-2 at 22050 Hz: 576 sample frames per frame, 64000 * 72 / 22050 = 208.98 bytes.
    const Bytes mpeg2 = fixtures::LameEncode(dir.path(), "mpeg2", 22050, 2, 22050, "-b 64 -t");
    Index index = Scan(mpeg2);
    ASSERT_GT(index.frames, 10u);
    EXPECT_EQ(index.rate, 22050u);
    EXPECT_EQ(index.sourceFrames, (index.frames - 1) * 576);
    ExpectContiguous(index, 0, mpeg2.size());
    for (int32_t length : index.lengths) ASSERT_TRUE(length == 208 || length == 209) << length;

    // MPEG-2.5 (11025 Hz) is refused.
    const Bytes mpeg25 = fixtures::LameEncode(dir.path(), "mpeg25", 11025, 1, 11025, "-b 32 -t");
    ASSERT_FALSE(mpeg25.empty());
    ASSERT_EQ(mpeg25[0], 0xFF);
    ASSERT_EQ(mpeg25[1] & 0xFE, 0xE2);
    index = Scan(mpeg25);
    EXPECT_EQ(index.pages, 0u);
    EXPECT_EQ(index.frames, 0u);

    // Nothing to find.
    EXPECT_EQ(Scan(Bytes(5000, 0xFF)).pages, 0u);
    EXPECT_EQ(Scan(Bytes(mpeg2.begin(), mpeg2.begin() + 20)).pages, 0u);
    // Two frames yield one frame of PCM: the last never leaves the decoder.
    index = Scan(mpeg2);
    const Bytes two(mpeg2.begin(), mpeg2.begin() + index.offsets[2]);
    const Index twoIndex = Scan(two);
    EXPECT_EQ(twoIndex.frames, 2u);
    EXPECT_EQ(twoIndex.sourceFrames, 576u);
}

TEST_F(FrameScanner, VariableBitRateStreamIndexesItsInformationFrame) {
    const Bytes vbr = fixtures::LameEncode(dir.path(), "vbr", 44100 * 2, 2, 44100, "-V 4");
    const Index index = Scan(vbr);
    ASSERT_GT(index.frames, 75u);
    ExpectContiguous(index, 0, vbr.size());
    const auto first = vbr.begin() + index.offsets[0];
    const std::string head(first, first + index.lengths[0]);
    EXPECT_NE(head.find("Xing"), std::string::npos);
    // Several bit rates: more distinct lengths than a header and its padded twin.
    std::vector<int32_t> lengths = index.lengths;
    std::sort(lengths.begin(), lengths.end());
    EXPECT_GT(std::unique(lengths.begin(), lengths.end()) - lengths.begin(), 2);
}

TEST_F(FrameScanner, StreamsLongerThanAnHourAreIndexedToTheirEnd) {
    // 30 s of frames repeated 160 times: 80 minutes, about 184000 frames.
    const Bytes part = fixtures::LameEncode(dir.path(), "part", 44100 * 30, 2, 44100, "-b 128 -t");
    const Index one = Scan(part);
    ASSERT_GT(one.frames, 1140u);
    Bytes long_;
    long_.reserve(part.size() * 160);
    for (int i = 0; i < 160; ++i) long_.insert(long_.end(), part.begin(), part.end());
    Mp3FrameScanner scanner(long_.data(), uint32_t(long_.size()));
    ASSERT_NE(scanner.Build(), 0u);
    EXPECT_EQ(scanner.frameCount, one.frames * 160);
    EXPECT_GT(scanner.frameCount, 131072u);
    const uint32_t last = scanner.frameCount - 1;
    EXPECT_EQ(scanner.FrameOffset(last) + uint32_t(scanner.FrameLengthAt(last)), long_.size());
    EXPECT_EQ(scanner.sourceFrames, last * 1152);
}

}  // namespace
