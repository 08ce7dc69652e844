// The WAV header parser over images built here: where the data is, or a refusal.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

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

TEST(WavLayout, FindsTheDataChunkOrRefusesTheFile) {
    const Bytes pcm = MakeWav(1, 2, 44100, 16, Bytes(400, 0x11)), long1000 = MakeWav(1, 2, 44100, 16, Bytes(1000, 1));
    const std::string list = std::string("LIST\x1A\0\0\0", 8) + std::string(26, 'l');
    const std::string fact = std::string("\0\0fact\x04\0\0\0\0\0\0\0", 14);  // the recorder's own layout
    Bytes mp3 = Inserted(MakeWav(85, 2, 44100, 0, Bytes(500, 0xAA)), std::string("\x0C\0", 2) + std::string(12, 'x'));
    struct Case { const char* what; Bytes image; uint32_t dataOffset, dataBytes; };  // offset 0: refused
    const Case cases[] = {
        {"canonical", pcm, 44, 400},
        {"chunk between", Inserted(pcm, list), 78, 400},
        {"fact chunk", Inserted(pcm, fact), 58, 400},
        {"search limit", Inserted(pcm, std::string(4096, '\0')), 36 + 4096 + 8, 400},
        {"past the search", Inserted(pcm, std::string(4097, '\0')), 0, 0},
        {"MP3 with extra format bytes", mp3, 58, 500},
        {"declared past the end", Bytes(long1000.begin(), long1000.begin() + 54), 44, 8},
        {"less than a frame", Bytes(long1000.begin(), long1000.begin() + 47), 0, 0},
        {"float", MakeWav(3, 2, 44100, 32, Bytes(160, 1)), 0, 0},
        {"no channels", MakeWav(1, 0, 44100, 16, Bytes(100, 1)), 0, 0},
        {"three channels", MakeWav(1, 3, 44100, 16, Bytes(120, 1)), 0, 0},
        {"MP3, channel field 6", Inserted(MakeWav(85, 6, 44100, 0, Bytes(100, 1)), std::string(2, '\0')), 46, 100},
        {"no rate", MakeWav(1, 2, 0, 16, Bytes(100, 1)), 0, 0},
        {"empty data", MakeWav(1, 2, 44100, 16, {}), 0, 0},
        {"no data chunk", Inserted(Bytes(pcm.begin(), pcm.begin() + 36), std::string(100, 'x')), 0, 0},
        {"four bytes", Bytes{'R', 'I', 'F', 'F'}, 0, 0},
    };
    for (const Case& c : cases) {
        WavLayout layout;
        const bool ok = c.dataOffset != 0;
        EXPECT_EQ(ParseWavHeader(c.image.data(), uint32_t(c.image.size()), layout), ok) << c.what;
        const uint32_t format = ok ? c.image[20] : 0, channels = ok ? c.image[22] : 0, rate = ok ? 44100 : 0;
        EXPECT_EQ(std::tuple(layout.dataOffset, layout.dataBytes, layout.format, layout.channels, layout.sampleRate),
                  std::tuple(c.dataOffset, c.dataBytes, format, channels, rate)) << c.what;
        EXPECT_EQ(layout.sourceFrames, layout.format == kWavFormatPcm ? c.dataBytes / 4 : 0u) << c.what;
    }
}

}  // namespace
