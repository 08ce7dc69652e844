// The frame index over MP3 streams made by `lame`, with tags, junk and damage spliced in
// (the reader's tests decode the plain streams).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "sound_fixtures.h"
#include "soundfile/mp3_frame_scanner.h"

namespace {

using fixtures::Bytes;

struct Index {
    explicit Index(const Bytes& data) : scanner(data.data(), uint32_t(data.size())), pages(scanner.Build()) {
        for (uint32_t i = 0; i < scanner.frameCount; ++i)
            offsets.push_back(scanner.FrameOffset(i)), lengths.push_back(scanner.FrameLengthAt(i));
    }
    Mp3FrameScanner scanner;
    uint32_t pages;
    std::vector<uint32_t> offsets;
    std::vector<int32_t> lengths;
};

using FrameScanner = fixtures::LameTest;

TEST_F(FrameScanner, TagsJunkAndDamageAroundAndInsideTheStream) {
    const Bytes mp3 = Encode("cbr", 44100, 2, 44100, "-b 128 -t");
    const Index plain(mp3);
    ASSERT_GT(plain.offsets.size(), 20u);
    // An ID3v2 tag of 0x0101 = 257 bytes (seven bits a size byte) hiding a frame header.
    Bytes tagged = {'I', 'D', '3', 3, 0, 0, 0, 0, 2, 1};
    tagged.resize(267, 0x20);
    std::copy_n(mp3.begin(), 8, tagged.begin() + 40);
    // Junk with a lone FF FB pair: a header whose successor is no header.
    Bytes junk = {0x00, 0x12, 0xFF, 0xFB, 0x90, 0x64, 0x00, 0x00, 0xFF, 0x00};
    junk.resize(600, 0x55);
    // A trailing 128-byte tag ends the scan, even with a frame header inside it.
    Bytes tag(128, ' ');
    std::memcpy(tag.data(), "TAG", 3);
    std::copy_n(mp3.begin(), 8, tag.begin() + 40);
    using Splice = std::pair<Bytes, Bytes>;  // before, after
    for (const auto& [before, after] : {Splice{tagged, {}}, Splice{junk, {}}, Splice{{}, tag}}) {
        Bytes image = before;
        image.insert(image.end(), mp3.begin(), mp3.end());
        image.insert(image.end(), after.begin(), after.end());
        const Index index(image);
        EXPECT_EQ(index.lengths, plain.lengths) << before.size();
        for (size_t i = 0; i < index.offsets.size(); ++i) ASSERT_EQ(index.offsets[i], plain.offsets[i] + before.size());
    }

    // Damage before frame 11: the frame before absorbs stray bytes and gives up lost
    // ones; garbage and a header without its sync byte belong to no frame.
    const auto at = mp3.begin() + plain.offsets[11];
    Bytes inserted(mp3.begin(), at), removed(mp3.begin(), at - 1), garbage(mp3.begin(), at), unsynced(mp3);
    inserted.push_back(0x00);
    garbage.insert(garbage.end(), 50, 0x00);
    for (Bytes* b : {&inserted, &removed, &garbage}) b->insert(b->end(), at, mp3.end());
    unsynced[plain.offsets[11]] = 0xFE;
    struct Case { const Bytes& image; int frames, frame10Change, frame11Offset; };
    for (const Case& c : {Case{inserted, 0, 1, 1}, Case{removed, 0, -1, -1}, Case{garbage, 0, 0, 50},
                          Case{unsynced, -1, 0, int(plain.lengths[11])}}) {
        const Index index(c.image);
        ASSERT_EQ(index.offsets.size(), plain.offsets.size() + c.frames) << c.frame11Offset;
        EXPECT_EQ(index.lengths[10], plain.lengths[10] + c.frame10Change);
        EXPECT_EQ(index.offsets[11], plain.offsets[11] + c.frame11Offset);
        EXPECT_EQ(index.offsets.back() + index.lengths.back(), c.image.size());
    }
    const Index cut(Bytes(mp3.begin(), mp3.end() - 100));
    ASSERT_EQ(cut.lengths.size(), plain.lengths.size());
    EXPECT_EQ(cut.lengths.back(), plain.lengths.back() - 100);
    // MPEG-2.5 (11025 Hz) is refused, and so is data without frames.
    const Bytes mpeg25 = Encode("mpeg25", 11025, 1, 11025, "-b 32 -t");
    ASSERT_TRUE(mpeg25.size() > 2 && (mpeg25[1] & 0xFE) == 0xE2);
    EXPECT_EQ(Index(mpeg25).pages, 0u);
    EXPECT_EQ(Index(Bytes(5000, 0xFF)).pages, 0u);
}

// 30 s of frames repeated 160 times: 80 minutes, about 184000 frames on 180 pages.
TEST_F(FrameScanner, StreamsLongerThanAnHourAreIndexedToTheirEnd) {
    const Bytes part = Encode("part", 44100 * 30, 2, 44100, "-b 128 -t");
    const uint32_t partFrames = Index(part).scanner.frameCount;
    ASSERT_GT(partFrames, 1140u);
    Bytes whole;
    for (int i = 0; i < 160; ++i) whole.insert(whole.end(), part.begin(), part.end());
    const Index index(whole);
    ASSERT_EQ(index.offsets.size(), partFrames * 160);
    EXPECT_EQ(index.offsets.back() + index.lengths.back(), whole.size());
    EXPECT_EQ(index.scanner.sourceFrames, (index.offsets.size() - 1) * 1152);
}

}  // namespace
