// Sound file fixtures: WAV images built in memory, MP3 files made by `lame` at test time.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "soundfile/sound_file.h"
#include "tests/support/test_support.h"

namespace fixtures {

using Bytes = std::vector<uint8_t>;

inline void PutLe(Bytes& b, size_t at, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b[at + i] = uint8_t(v >> (8 * i));
}

// A canonical 44-byte-header WAV around payload.
inline Bytes MakeWav(uint32_t tag, uint32_t channels, uint32_t rate, uint32_t bits, const Bytes& payload) {
    Bytes b(44);
    std::copy_n("RIFF----WAVEfmt ", 16, b.begin());
    std::copy_n("data", 4, b.begin() + 36);
    const uint32_t fields[][3] = {{4, 36 + uint32_t(payload.size()), 4}, {16, 16, 4}, {20, tag, 2}, {22, channels, 2},
                                  {24, rate, 4}, {28, rate * channels * bits / 8, 4}, {32, channels * bits / 8, 2},
                                  {34, bits, 2}, {40, uint32_t(payload.size()), 4}};
    for (const auto& [at, value, bytes] : fields) PutLe(b, at, value, int(bytes));
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}

inline Bytes Samples(const std::vector<int16_t>& samples) {
    Bytes b(samples.size() * 2);
    for (size_t i = 0; i < samples.size(); ++i) PutLe(b, 2 * i, uint16_t(samples[i]), 2);
    return b;
}

inline std::vector<int16_t> ToSamples(const uint8_t* p, size_t bytes) {
    std::vector<int16_t> s(bytes / 2);
    for (size_t i = 0; i < s.size(); ++i) s[i] = int16_t(uint16_t(p[2 * i] | p[2 * i + 1] << 8));
    return s;
}

// Two tones with a slow sweep, so that neighbouring frames differ.
inline std::vector<int16_t> Music(uint32_t frames, uint32_t channels, uint32_t rate) {
    std::vector<int16_t> s(size_t(frames) * channels);
    for (uint32_t i = 0; i < frames; ++i) {
        const double t = double(i) / rate;
        s[size_t(i) * channels] = int16_t(9000 * std::sin(2 * M_PI * (440 + 200 * t) * t));
        if (channels == 2) s[size_t(i) * 2 + 1] = int16_t(7000 * std::sin(2 * M_PI * 660 * t + 0.3));
    }
    return s;
}

inline Bytes ReadBytes(const std::filesystem::path& path) {
    const std::string text = testing_support::ReadFile(path);
    return Bytes(text.begin(), text.end());
}

inline void WriteBytes(const std::filesystem::path& path, const Bytes& bytes) {
    testing_support::WriteFile(path, std::string(bytes.begin(), bytes.end()));
}

inline bool Run(const std::string& command) {
    if (std::system(command.c_str()) == 0) return true;
    ADD_FAILURE() << "failed: " << command;
    return false;
}

// Music(frames, channels, rate) encoded by `lame` with options; empty on failure.
inline Bytes LameEncode(const std::filesystem::path& folder, const std::string& name, uint32_t frames,
                        uint32_t channels, uint32_t rate, const std::string& options) {
    const auto wav = folder / (name + ".wav"), mp3 = folder / (name + ".mp3");
    WriteBytes(wav, MakeWav(1, channels, rate, 16, Samples(Music(frames, channels, rate))));
    if (!Run("lame --quiet " + options + " '" + wav.string() + "' '" + mp3.string() + "'")) return {};
    return ReadBytes(mp3);
}

// The interleaved samples `lame --decode` makes of mp3.
inline std::vector<int16_t> LameDecode(const std::filesystem::path& folder, const Bytes& mp3) {
    const auto in = folder / "peer-in.mp3", out = folder / "peer-out.wav";
    WriteBytes(in, mp3);
    if (!Run("lame --quiet --decode '" + in.string() + "' '" + out.string() + "'")) return {};
    const Bytes wav = ReadBytes(out);
    return wav.size() < 44 ? std::vector<int16_t>{} : ToSamples(wav.data() + 44, wav.size() - 44);
}

// Every frame the reader delivers from where it is, interleaved.
inline std::vector<int16_t> ReadAll(SoundFile& file) {
    std::vector<int16_t> all, block(size_t(kBlockFrames) * file.Channels());
    while (uint32_t frames = file.ReadBlock(block.data()))
        all.insert(all.end(), block.begin(), block.begin() + frames * file.Channels());
    return all;
}
inline std::vector<int16_t> ReadAll(SoundFile&& file) { return ReadAll(file); }

// Opens image (borrowed) at rate.
inline void Open(SoundFile& file, const Bytes& image, uint32_t rate) {
    static const Mp3Decoder decoder{};
    InitMp3Tables();
    file.Open(image.data(), uint32_t(image.size()), rate, decoder);
}
void Open(SoundFile& file, const Bytes&& image, uint32_t rate) = delete;  // would outlive image

struct Reader {  // a reader over an image of its own
    Reader(Bytes bytes, uint32_t rate) : image(std::move(bytes)) { Open(file, image, rate); }
    Bytes image;
    SoundFile file;
};

struct LameTest : ::testing::Test {  // encodes its MP3 fixtures into a temporary folder
    Bytes Encode(const char* name, uint32_t frames, uint32_t channels, uint32_t rate, const char* options) {
        return LameEncode(dir.path(), name, frames, channels, rate, options);
    }
    testing_support::TempDir dir;
};

}  // namespace fixtures
