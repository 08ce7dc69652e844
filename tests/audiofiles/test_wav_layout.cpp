#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "audiofiles/wav_layout.h"
#include "tests/soundfile/sound_fixtures.h"

namespace {

using fixtures::Bytes;
using fixtures::MakeWav;

// image with extra inserted at offset 36, where a bare header has its "data" chunk.
Bytes Inserted(Bytes image, const std::string& extra) {
    image.insert(image.begin() + 36, extra.begin(), extra.end());
    return image;
}

// A canonical header declaring `declared` data bytes, with `present` of them there.
Bytes Cut(uint32_t declared, size_t present) {
    Bytes image = MakeWav(1, 2, 44100, 16, Bytes(present, 0x11));
    fixtures::PutLe32(image, 40, declared);
    return image;
}

TEST(WavLayout, FindsTheDataChunkOrRefusesTheFile) {
    const Bytes pcm = MakeWav(1, 2, 44100, 16, Bytes(400, 0x11));
    const std::string list = std::string("LIST\x1A\0\0\0", 8) + std::string(26, 'l');
    const std::string fact = std::string("\0\0fact\x04\0\0\0\0\0\0\0", 14);  // the recorder's own layout
    Bytes mp3 = Inserted(MakeWav(85, 2, 44100, 0, Bytes(500, 0xAA)), std::string("\x0C\0", 2) + std::string(12, 'x'));
    // The frames say how many channels MPEG data has; the header's field is not used.
    const std::string noExtra("\0\0", 2);
    struct Case { const char* what; Bytes image; uint32_t dataOffset, dataBytes; };  // offset 0: refused
    const Case cases[] = {
        {"canonical", pcm, 44, 400},
        {"chunk between", Inserted(pcm, list), 78, 400},
        {"fact chunk", Inserted(pcm, fact), 58, 400},
        {"search limit", Inserted(pcm, std::string(4096, '\0')), 36 + 4096 + 8, 400},
        {"past the search", Inserted(pcm, std::string(4097, '\0')), 0, 0},
        {"MP3 with extra format bytes", mp3, 58, 500},
        {"declared past the end", Cut(1000, 10), 44, 8},
        {"less than a frame", Cut(1000, 3), 0, 0},
        {"8-bit", MakeWav(1, 2, 44100, 8, Bytes(100, 1)), 0, 0},
        {"24-bit", MakeWav(1, 2, 44100, 24, Bytes(120, 1)), 0, 0},
        {"float", MakeWav(3, 2, 44100, 32, Bytes(160, 1)), 0, 0},
        {"no channels", MakeWav(1, 0, 44100, 16, Bytes(100, 1)), 0, 0},
        {"three channels", MakeWav(1, 3, 44100, 16, Bytes(120, 1)), 0, 0},
        {"MP3, channel field 0", Inserted(MakeWav(85, 0, 44100, 0, Bytes(100, 1)), noExtra), 46, 100},
        {"MP3, channel field 6", Inserted(MakeWav(85, 6, 44100, 0, Bytes(100, 1)), noExtra), 46, 100},
        {"no rate", MakeWav(1, 2, 0, 16, Bytes(100, 1)), 0, 0},
        {"empty data", MakeWav(1, 2, 44100, 16, {}), 0, 0},
        {"no data chunk", Inserted(Bytes(pcm.begin(), pcm.begin() + 36), std::string(100, 'x')), 0, 0},
        {"four bytes", Bytes{'R', 'I', 'F', 'F'}, 0, 0},
    };
    for (const Case& c : cases) {
        WavLayout layout;
        EXPECT_EQ(ParseWavHeader(c.image.data(), uint32_t(c.image.size()), layout), c.dataOffset != 0) << c.what;
        EXPECT_EQ(layout.dataOffset, c.dataOffset) << c.what;
        EXPECT_EQ(layout.dataBytes, c.dataBytes) << c.what;
        EXPECT_EQ(layout.format, c.dataOffset == 0 ? 0u : uint32_t(c.image[20])) << c.what;
        EXPECT_EQ(layout.channels, c.dataOffset == 0 ? 0u : uint32_t(c.image[22])) << c.what;
        EXPECT_EQ(layout.sampleRate, c.dataOffset == 0 ? 0u : 44100u) << c.what;
        EXPECT_EQ(layout.sourceFrames, layout.format == kWavFormatPcm ? c.dataBytes / 4 : 0u) << c.what;
    }
}

}  // namespace
