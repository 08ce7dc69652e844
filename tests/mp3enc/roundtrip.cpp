// Our frames through independent decoders: LAME's hip decoder frame by frame at every
// rate, and `lame --decode` on the files `bellwave-cli encode` writes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <tuple>

#include "tests/mp3enc/mp3_test_util.h"
#include "tests/support/test_support.h"

using namespace mp3test;
namespace fs = std::filesystem;

TEST(Mp3RoundTrip, EveryFrameDecodesAtEveryRate) {
    for (int rate : {44100, 48000, 32000}) {
        const int n = rate * 3;
        // White noise over the whole band is beyond 128 kbit/s without a hearing model: its
        // floor only says that the decoded signal follows the input. A broken table, a wrong
        // sign or a misplaced line drops the others to a few dB.
        const std::tuple<const char*, Pcm, double> cases[] = {  // name, signal, SNR floor
            {"1 kHz sine at -6 dBFS", Sine(n, 1000.0, rate, 0.5), 65.0},
            {"sweep at -6 dBFS", Sweep(n, 20.0, rate == 32000 ? 15000.0 : 20000.0, rate, 0.5), 50.0},
            {"noise", Noise(n, 0.3, 11), 2.0},
            {"full-scale noise", Noise(n, 1.0, 12), 2.0},
            {"music", MusicLike(n, rate, 5), 20.0},
            {"clipped", Sine(n, 200.0, rate, 3.0), 20.0}};
        for (const auto& [name, pcm, floorDb] : cases) {
            SCOPED_TRACE(testing::Message() << name << " at " << rate << " Hz");
            const Bytes s = EncodeWithEntryPoints(pcm, rate);
            const Decoded d = Decode(s);
            EXPECT_TRUE(d.parsed);
            EXPECT_EQ(d.frames.size(), (n + 4607u) / 4608 * 4 + 3);
            for (const Frame& f : d.frames) {  // main data fills every frame exactly
                const Side si = ParseSide(s.data() + f.offset);
                ASSERT_EQ(si.block[0][kPart23] + si.block[1][kPart23] + si.block[2][kPart23] + si.block[3][kPart23],
                          f.bytes * 8u - 288);
            }
            EXPECT_EQ(d.errors, 0);
            ASSERT_EQ(d.pcm.size(), d.frames.size() * 2304);
            for (int ch = 0; ch < 2; ++ch) {
                const double snr = SnrDb(pcm, d.pcm, ch, 2000, n - 2000);
                std::printf("%-22s %5d Hz channel %d: SNR %5.1f dB\n", name, rate, ch, snr);
                EXPECT_GT(snr, floorDb);
            }
        }
    }
}

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

int Shell(const std::string& command) {
    const int status = std::system((command + " > out.txt 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(Mp3RoundTrip, EncodeCommandWritesFilesThatLameDecodes) {
    const std::string cli = "'" + (testing_support::BuildDir() / "bin" / "bellwave-cli").string() + "' encode ";
    if (!fs::exists(testing_support::BuildDir() / "bin" / "bellwave-cli") || std::system("lame --version > /dev/null"))
        GTEST_SKIP() << "needs bellwave-cli and the lame command";
    testing_support::IsolatedScope scope;
    // Stereo; mono (coded on both channels) with a longer fmt chunk; stereo again.
    for (int rate : {44100, 48000, 32000}) {
        SCOPED_TRACE(rate);
        Pcm pcm = MusicLike(rate, rate, 2);
        if (rate == 48000)
            for (size_t i = 0; i < pcm.size(); i += 2) pcm[i + 1] = pcm[i];
        WriteWav("in.wav", rate, rate == 48000 ? 1 : 2, pcm, rate == 48000 ? 2 : 0);
        ASSERT_EQ(Shell(cli + "in.wav out.mp3"), 0) << testing_support::ReadFile("out.txt");
        const std::string mp3 = testing_support::ReadFile("out.mp3");
        EXPECT_TRUE(Bytes(mp3.begin(), mp3.end()) == EncodeWithEntryPoints(pcm, rate, 1152));
        EXPECT_EQ(Shell("lame --quiet --decode out.mp3 back.wav"), 0);
        EXPECT_EQ(testing_support::ReadFile("out.txt"), "");
        // lame drops the decoder's delay at the start; the rest is the encoded length.
        const size_t frames = (testing_support::ReadFile("back.wav").size() - 44) / 4;
        EXPECT_GT(frames, static_cast<size_t>(rate));
        EXPECT_LE(frames, (mp3.size() / 384 + 1) * 1152);
    }
    // A rate without a code, a file that is not WAV, a missing file, bad usage.
    WriteWav("r22.wav", 22050, 2, Sine(4000, 440.0, 22050, 0.4), 0);
    EXPECT_EQ(Shell(cli + "r22.wav r22.mp3"), 1);
    EXPECT_NE(testing_support::ReadFile("out.txt").find("22050 Hz"), std::string::npos);
    testing_support::WriteFile("junk.wav", std::string("RIFF\x10\0\0\0WAVEfmt \x02\0\0\0", 20));
    EXPECT_EQ(Shell(cli + "junk.wav junk.mp3"), 1);
    EXPECT_EQ(Shell(cli + "none.wav none.mp3"), 1);
    EXPECT_EQ(Shell(cli + "only-one-argument"), 2);
    EXPECT_FALSE(fs::exists("r22.mp3") || fs::exists("junk.mp3") || fs::exists("none.mp3"));
}
