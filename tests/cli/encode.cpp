// `bellwave-cli encode` writes files that `lame --decode` reads, with the frames the
// encoder's entry points make.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/cli/cli_test_support.h"
#include "tests/mp3enc/mp3_test_util.h"
#include "tests/support/test_support.h"

using namespace mp3test;
using cli_test::RunCommand;
using cli_test::RunCli;
namespace fs = std::filesystem;

namespace {

void WriteWav(const fs::path& path, int rate, int channels, const Pcm& pcm, int fmtPadding) {
    auto le = [](uint32_t v, int bytes) { return std::string(reinterpret_cast<const char*>(&v), bytes); };  // x86
    std::string data;
    for (size_t i = 0; i < pcm.size(); i += 2)
        data += le(static_cast<uint16_t>(pcm[i]), 2) + le(static_cast<uint16_t>(pcm[i + 1]), 2 * (channels - 1));
    testing_support::WriteFile(path, "RIFF" + le(0, 4) + "WAVE" + "LIST" + le(3, 4) + std::string("abc\0", 4) +
                                         "fmt " + le(16 + fmtPadding, 4) + le(1, 2) + le(channels, 2) + le(rate, 4) +
                                         le(rate * 2 * channels, 4) + le(2 * channels, 2) + le(16, 2) +
                                         std::string(fmtPadding, '\0') + "data" + le(data.size(), 4) + data);
}

}  // namespace

TEST(Mp3RoundTrip, EncodeCommandWritesFilesThatLameDecodes) {
    testing_support::IsolatedScope scope;
    std::string out, err;
    // Stereo; mono (coded on both channels) with a longer fmt chunk; stereo again.
    for (int rate : {44100, 48000, 32000}) {
        SCOPED_TRACE(rate);
        Pcm pcm = MusicLike(rate, rate, 2);
        if (rate == 48000)
            for (size_t i = 0; i < pcm.size(); i += 2) pcm[i + 1] = pcm[i];
        WriteWav("in.wav", rate, rate == 48000 ? 1 : 2, pcm, rate == 48000 ? 2 : 0);
        ASSERT_EQ(RunCli("encode in.wav out.mp3", &out, &err), 0) << out << err;
        const std::string mp3 = testing_support::ReadFile("out.mp3");
        EXPECT_TRUE(Bytes(mp3.begin(), mp3.end()) == EncodeWithEntryPoints(pcm, rate, 1152));
        EXPECT_EQ(RunCommand("lame --quiet --decode out.mp3 back.wav", &out, &err), 0);
        EXPECT_EQ(out + err, "");
        // lame drops the decoder's delay at the start; the rest is the encoded length.
        const size_t frames = (testing_support::ReadFile("back.wav").size() - 44) / 4;
        EXPECT_GT(frames, static_cast<size_t>(rate));
        EXPECT_LE(frames, (mp3.size() / 384 + 1) * 1152);
    }
    // A rate without a code, a file that is not WAV, a missing file, bad usage.
    WriteWav("r22.wav", 22050, 2, Sine(4000, 440.0, 22050, 0.4), 0);
    testing_support::WriteFile("junk.wav", std::string("RIFF\x10\0\0\0WAVEfmt \x02\0\0\0", 20));
    EXPECT_EQ(RunCli("encode r22.wav r22.mp3", &out, &err), 1);
    EXPECT_NE(err.find("22050 Hz"), std::string::npos);
    for (const auto& [arguments, status] : {std::pair{"junk.wav junk.mp3", 1}, {"none.wav none.mp3", 1}, {"one-argument", 2}})
        EXPECT_EQ(RunCli(std::string("encode ") + arguments), status) << arguments;
    EXPECT_FALSE(fs::exists("r22.mp3") || fs::exists("junk.mp3") || fs::exists("none.mp3"));
}
