#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "audiofiles/wav_layout.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Put16(Bytes& b, size_t at, uint32_t v) {
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}
void Put32(Bytes& b, size_t at, uint32_t v) {
    Put16(b, at, v);
    Put16(b, at + 2, v >> 16);
}
void PutText(Bytes& b, size_t at, const char* text) { std::memcpy(b.data() + at, text, std::strlen(text)); }

// Header up to and including the 16-byte format chunk (36 bytes).
Bytes FormatChunk(uint32_t tag, uint32_t channels, uint32_t rate, uint32_t bits) {
    Bytes b(36);
    PutText(b, 0, "RIFFxxxxWAVEfmt ");
    Put32(b, 16, 16);
    Put16(b, 20, tag);
    Put16(b, 22, channels);
    Put32(b, 24, rate);
    Put16(b, 34, bits);
    return b;
}

void AppendChunk(Bytes& b, const char* id, uint32_t declared, size_t present) {
    const size_t at = b.size();
    b.resize(at + 8 + present, 0x11);
    PutText(b, at, id);
    Put32(b, at + 4, declared);
}

TEST(WavLayout, CanonicalHeaderFindsDataAtOffset36) {
    Bytes b = FormatChunk(1, 2, 44100, 16);
    AppendChunk(b, "data", 400, 400);
    WavLayout layout;
    ASSERT_TRUE(ParseWavHeader(b.data(), uint32_t(b.size()), layout));
    EXPECT_EQ(layout.format, kWavFormatPcm);
    EXPECT_EQ(layout.channels, 2u);
    EXPECT_EQ(layout.sampleRate, 44100u);
    EXPECT_EQ(layout.dataOffset, 44u);
    EXPECT_EQ(layout.dataBytes, 400u);
    EXPECT_EQ(layout.sourceFrames, 100u);
}

TEST(WavLayout, DataChunkIsSearchedForPastOtherChunks) {
    // A LIST chunk between the format and data chunks.
    Bytes b = FormatChunk(1, 1, 22050, 16);
    AppendChunk(b, "LIST", 26, 26);
    AppendChunk(b, "data", 10, 10);
    WavLayout layout;
    ASSERT_TRUE(ParseWavHeader(b.data(), uint32_t(b.size()), layout));
    EXPECT_EQ(layout.dataOffset, 36u + 34 + 8);
    EXPECT_EQ(layout.sourceFrames, 5u);

    // The recorder's own layout: an 18-byte format chunk and a fact chunk.
    Bytes own = FormatChunk(1, 2, 48000, 16);
    Put32(own, 16, 18);
    own.resize(38, 0);
    AppendChunk(own, "fact", 4, 4);
    AppendChunk(own, "data", 8, 8);
    ASSERT_TRUE(ParseWavHeader(own.data(), uint32_t(own.size()), layout));
    EXPECT_EQ(layout.dataOffset, 58u);
    EXPECT_EQ(layout.sourceFrames, 2u);

    // The search gives up 4096 bytes past offset 36.
    Bytes atLimit = FormatChunk(1, 1, 8000, 16);
    atLimit.resize(36 + 4096, 0);
    AppendChunk(atLimit, "data", 2, 2);
    EXPECT_TRUE(ParseWavHeader(atLimit.data(), uint32_t(atLimit.size()), layout));
    Bytes beyond = FormatChunk(1, 1, 8000, 16);
    beyond.resize(36 + 4097, 0);
    AppendChunk(beyond, "data", 2, 2);
    EXPECT_FALSE(ParseWavHeader(beyond.data(), uint32_t(beyond.size()), layout));
}

TEST(WavLayout, RefusesWhatTheReadersCannotServe) {
    WavLayout layout;
    auto refused = [&](Bytes b) {
        const bool ok = ParseWavHeader(b.data(), uint32_t(b.size()), layout);
        return !ok && layout.format == 0;
    };
    auto withData = [](Bytes b, uint32_t bytes) {
        AppendChunk(b, "data", bytes, bytes);
        return b;
    };
    EXPECT_TRUE(refused(withData(FormatChunk(1, 2, 44100, 8), 100)));
    EXPECT_TRUE(refused(withData(FormatChunk(1, 2, 44100, 24), 120)));
    EXPECT_TRUE(refused(withData(FormatChunk(3, 2, 44100, 32), 160)));  // float
    EXPECT_TRUE(refused(withData(FormatChunk(1, 0, 44100, 16), 100)));  // no channels
    EXPECT_TRUE(refused(withData(FormatChunk(1, 3, 44100, 16), 120)));  // more than two
    EXPECT_TRUE(refused(withData(FormatChunk(85, 0, 44100, 0), 100)));
    EXPECT_TRUE(refused(withData(FormatChunk(1, 2, 0, 16), 100)));      // no rate
    EXPECT_TRUE(refused(withData(FormatChunk(1, 2, 44100, 16), 0)));    // empty data chunk
    EXPECT_TRUE(refused(FormatChunk(1, 2, 44100, 16)));                 // no data chunk
    EXPECT_TRUE(refused(Bytes{'R', 'I', 'F', 'F'}));

    // A data chunk that declares more than the file holds is cut to what is there; less
    // than one whole frame is nothing.
    Bytes cut = FormatChunk(1, 2, 44100, 16);
    AppendChunk(cut, "data", 1000, 10);
    ASSERT_TRUE(ParseWavHeader(cut.data(), uint32_t(cut.size()), layout));
    EXPECT_EQ(layout.dataBytes, 8u);
    EXPECT_EQ(layout.sourceFrames, 2u);
    Bytes crumb = FormatChunk(1, 2, 44100, 16);
    AppendChunk(crumb, "data", 1000, 3);
    EXPECT_TRUE(refused(crumb));
}

TEST(WavLayout, MpegLayer3SkipsItsExtraFormatBytes) {
    Bytes b = FormatChunk(85, 2, 44100, 0);
    b.resize(38, 0);
    Put16(b, 36, 12);  // cbSize: twelve bytes of MPEG format data follow
    b.resize(50, 0xAA);
    AppendChunk(b, "data", 500, 500);
    WavLayout layout;
    ASSERT_TRUE(ParseWavHeader(b.data(), uint32_t(b.size()), layout));
    EXPECT_EQ(layout.format, kWavFormatMpegLayer3);
    EXPECT_EQ(layout.dataOffset, 58u);
    EXPECT_EQ(layout.dataBytes, 500u);
}

}  // namespace
