// `bellwave-cli encode IN.wav OUT.mp3`: a WAV in, frames every decoder plays out; bad
// input refused with a message and no output file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/mp3enc/mp3_test_util.h"
#include "tests/support/test_support.h"

using namespace mp3test;
namespace fs = std::filesystem;

namespace {

void WriteWav(const fs::path& path, int rate, int channels, const Pcm& interleavedStereo, int chunkPadding = 0) {
    std::string data;
    const size_t frames = interleavedStereo.size() / 2;
    for (size_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c) {
            const uint16_t v = static_cast<uint16_t>(interleavedStereo[2 * i + c]);
            data.push_back(static_cast<char>(v & 0xFF));
            data.push_back(static_cast<char>(v >> 8));
        }
    auto le = [](uint32_t v, int bytes) {
        std::string s;
        for (int i = 0; i < bytes; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
        return s;
    };
    std::string wav = "RIFF" + le(0, 4) + "WAVE";
    wav += "LIST" + le(3, 4) + "abc" + std::string(1, '\0');  // an odd-sized chunk before fmt
    wav += "fmt " + le(16 + chunkPadding, 4) + le(1, 2) + le(channels, 2) + le(rate, 4) +
           le(rate * 2 * channels, 4) + le(2 * channels, 2) + le(16, 2) + std::string(chunkPadding, '\0');
    wav += "data" + le(static_cast<uint32_t>(data.size()), 4) + data;
    testing_support::WriteFile(path, wav);
}

int RunEncode(const std::string& args, const fs::path& dir) {
    const fs::path cli = testing_support::BuildDir() / "bin" / "bellwave-cli";
    const std::string command =
        "'" + cli.string() + "' encode " + args + " > '" + (dir / "out.txt").string() + "' 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<uint8_t> Bytes(const fs::path& path) {
    const std::string s = testing_support::ReadFile(path);
    return std::vector<uint8_t>(s.begin(), s.end());
}

}  // namespace

TEST(Mp3CliEncode, TurnsWavIntoFramesThatDecodeAndRefusesBadInput) {
    if (!fs::exists(testing_support::BuildDir() / "bin" / "bellwave-cli")) GTEST_SKIP() << "bellwave-cli is not built";
    testing_support::TempDir dir;
    const Pcm music = MusicLike(44100 * 2, 44100, 2);
    WriteWav(dir / "in.wav", 44100, 2, music);
    ASSERT_EQ(RunEncode("'" + (dir / "in.wav").string() + "' '" + (dir / "out.mp3").string() + "'", dir.path()), 0)
        << testing_support::ReadFile(dir / "out.txt");
    // The same frames as the entry points give for the same samples in whole frames.
    const std::vector<uint8_t> mp3 = Bytes(dir / "out.mp3");
    EXPECT_TRUE(mp3 == EncodeWithEntryPoints(music, 44100, 1152));
    bool ok = false;
    const std::vector<Frame> frames = SplitFrames(mp3, &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(frames.size(), (44100u * 2 + 1151) / 1152 + 3);
    const Decoded d = HipDecode(mp3, frames);
    EXPECT_EQ(d.failedFrames + d.reportedErrors, 0);
    EXPECT_GT(SnrDb(music, d.pcm, 0, 2000, 44100 * 2 - 2000, 0, 1057), 20.0);

    // Mono at 48000 Hz with a longer fmt chunk: both channels carry it.
    Pcm mono = Sine(48000, 440.0, 48000, 0.4);
    for (size_t i = 0; i < mono.size(); i += 2) mono[i + 1] = mono[i];
    WriteWav(dir / "mono.wav", 48000, 1, mono, 2);
    ASSERT_EQ(RunEncode("'" + (dir / "mono.wav").string() + "' '" + (dir / "mono.mp3").string() + "'", dir.path()), 0)
        << testing_support::ReadFile(dir / "out.txt");
    const std::vector<uint8_t> m = Bytes(dir / "mono.mp3");
    EXPECT_TRUE(m == EncodeWithEntryPoints(mono, 48000, 1152));

    // A rate without a code, a file that is not WAV, a missing file, bad usage.
    WriteWav(dir / "r22.wav", 22050, 2, Sine(4000, 440.0, 22050, 0.4));
    EXPECT_EQ(RunEncode("'" + (dir / "r22.wav").string() + "' '" + (dir / "r22.mp3").string() + "'", dir.path()), 1);
    EXPECT_NE(testing_support::ReadFile(dir / "out.txt").find("22050 Hz"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "r22.mp3"));
    testing_support::WriteFile(dir / "junk.wav", "RIFF\x10\0\0\0WAVEfmt \x02\0\0\0");
    EXPECT_EQ(RunEncode("'" + (dir / "junk.wav").string() + "' '" + (dir / "junk.mp3").string() + "'", dir.path()), 1);
    EXPECT_FALSE(fs::exists(dir / "junk.mp3"));
    EXPECT_EQ(RunEncode("'" + (dir / "none.wav").string() + "' '" + (dir / "none.mp3").string() + "'", dir.path()), 1);
    EXPECT_EQ(RunEncode("only-one-argument", dir.path()), 2);
}
