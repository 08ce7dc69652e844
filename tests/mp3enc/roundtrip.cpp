// Our frames through independent decoders: LAME's hip decoder frame by frame, and the
// `lame` command on the whole file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "tests/mp3enc/mp3_test_util.h"
#include "tests/support/test_support.h"

using namespace mp3test;

namespace {

constexpr int kDelay = 1057;  // sample frames between our input and hip's output

struct Case {
    const char* name;
    Pcm pcm;
    double snrFloorDb;  // below -100: not compared
    int from;           // first sample frame compared
};

std::vector<Case> Signals(int rate) {
    const int n = rate * 3 / 2;
    Pcm silenceThenTone(2 * static_cast<size_t>(n), 0);
    const Pcm tone = Sine(n / 2, 5000.0, rate, 0.25);
    std::copy(tone.begin(), tone.end(), silenceThenTone.begin() + n);
    // White noise over the whole band is beyond 128 kbit/s without a hearing model: its
    // floor only says that the decoded signal follows the input.
    return {{"sweep", Sweep(n, 30.0, rate * 0.45, rate, 0.5), 20.0, 2000},
            {"noise", Noise(n, 0.3, 11), 2.0, 2000},
            {"music", MusicLike(n, rate, 5), 20.0, 2000},
            {"silence", Pcm(2 * static_cast<size_t>(n), 0), -1000.0, 0},
            {"silence then tone", silenceThenTone, 20.0, n / 2 + 2000},
            {"full scale", Noise(n, 1.0, 12), 2.0, 2000},
            {"clipped", Sine(n, 200.0, rate, 3.0), 20.0, 2000}};
}

}  // namespace

TEST(Mp3RoundTrip, EveryFrameDecodesAtEveryRate) {
    for (int rate : {44100, 48000, 32000}) {
        for (const Case& c : Signals(rate)) {
            const std::vector<uint8_t> s = EncodeWithEntryPoints(c.pcm, rate);
            bool ok = false;
            const std::vector<Frame> frames = SplitFrames(s, &ok);
            EXPECT_TRUE(ok) << c.name << " at " << rate;
            const size_t inputFrames = c.pcm.size() / 2;
            const size_t expected = (inputFrames + 4607) / 4608 * 4 + 3;
            EXPECT_EQ(frames.size(), expected) << c.name << " at " << rate;
            for (const Frame& f : frames) {
                const ReadSideInfo si = ParseSideInfo(s.data() + f.offset);
                ASSERT_EQ(si.main_data_begin, 0u);
                uint32_t total = 0;
                for (auto& g : si.gr)
                    for (const ReadGranule& gr : g) {
                        ASSERT_LE(gr.big_values, 288u);
                        ASSERT_EQ(gr.window_switching_flag, 0u);
                        total += gr.part2_3_length;
                    }
                // Main data fills the frame exactly: no reservoir, no gap.
                ASSERT_EQ(total, static_cast<uint32_t>(f.bytes * 8 - 288)) << c.name << " at " << rate;
            }
            const Decoded d = HipDecode(s, frames);
            EXPECT_EQ(d.failedFrames, 0) << c.name << " at " << rate;
            EXPECT_EQ(d.reportedErrors, 0) << c.name << " at " << rate;
            EXPECT_EQ(d.framesOut, static_cast<int>(frames.size())) << c.name << " at " << rate;
            EXPECT_EQ(d.pcm.size(), frames.size() * 2304) << c.name << " at " << rate;
            if (c.snrFloorDb < -100) {
                for (int16_t v : d.pcm) ASSERT_EQ(v, 0) << "at " << rate;
                continue;
            }
            for (int ch = 0; ch < 2; ++ch) {
                const double snr = SnrDb(c.pcm, d.pcm, ch, c.from, static_cast<int>(inputFrames) - 2000, 0, kDelay);
                std::printf("%-18s %5d Hz channel %d: SNR %5.1f dB\n", c.name, rate, ch, snr);
                EXPECT_GT(snr, c.snrFloorDb) << c.name << " at " << rate;
            }
            if (std::string(c.name) == "sweep") {
                int delay = -1;
                SnrDb(c.pcm, d.pcm, 0, c.from, static_cast<int>(inputFrames) - 2000, 2400, 0, &delay);
                EXPECT_EQ(delay, kDelay) << "at " << rate;
            }
        }
    }
}

TEST(Mp3RoundTrip, SignalToNoiseOfSineAndSweep) {
    const int rate = 44100;
    const Pcm sine = Sine(rate * 3, 1000.0, rate, 0.5);  // -6 dBFS
    const Pcm sweep = Sweep(rate * 3, 20.0, 20000.0, rate, 0.5);
    double snr[2][2];
    const Pcm* inputs[2] = {&sine, &sweep};
    for (int k = 0; k < 2; ++k) {
        const std::vector<uint8_t> s = EncodeWithEntryPoints(*inputs[k], rate);
        bool ok = false;
        const Decoded d = HipDecode(s, SplitFrames(s, &ok));
        ASSERT_TRUE(ok);
        for (int ch = 0; ch < 2; ++ch) snr[k][ch] = SnrDb(*inputs[k], d.pcm, ch, 3000, rate * 3 - 3000, 0, kDelay);
    }
    std::printf("SNR, 1 kHz sine at -6 dBFS: %.1f / %.1f dB; sweep 20 Hz-20 kHz at -6 dBFS: %.1f / %.1f dB\n",
                snr[0][0], snr[0][1], snr[1][0], snr[1][1]);
    RecordProperty("sine_snr_db", std::to_string(snr[0][0]));
    RecordProperty("sweep_snr_db", std::to_string(snr[1][0]));
    // A broken table, a wrong sign or a misplaced line drops these to a few dB.
    EXPECT_GT(snr[0][0], 65.0);
    EXPECT_GT(snr[0][1], 65.0);
    EXPECT_GT(snr[1][0], 50.0);
    EXPECT_GT(snr[1][1], 50.0);
}

TEST(Mp3RoundTrip, LameDecodeAcceptsOurFiles) {
    if (std::system("lame --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "the lame command is not installed";
    testing_support::TempDir dir;
    for (int rate : {44100, 48000, 32000}) {
        const std::vector<uint8_t> s = EncodeWithEntryPoints(MusicLike(rate * 2, rate, 8), rate);
        {
            std::ofstream out(dir / "ours.mp3", std::ios::binary);
            out.write(reinterpret_cast<const char*>(s.data()), static_cast<std::streamsize>(s.size()));
        }
        const std::string command = "lame --quiet --decode '" + (dir / "ours.mp3").string() + "' '" +
                                    (dir / "back.wav").string() + "' 2> '" + (dir / "errors.txt").string() + "'";
        EXPECT_EQ(std::system(command.c_str()), 0) << rate;
        EXPECT_EQ(testing_support::ReadFile(dir / "errors.txt"), "") << rate;
        const std::string wav = testing_support::ReadFile(dir / "back.wav");
        ASSERT_GT(wav.size(), 44u);
        EXPECT_EQ(wav.compare(0, 4, "RIFF"), 0);
        // lame drops the decoder's delay at the start; the rest is the encoded length.
        const size_t frames = (wav.size() - 44) / 4;
        EXPECT_GT(frames, static_cast<size_t>(rate * 2)) << rate;
        EXPECT_LE(frames, (s.size() / 384 + 1) * 1152) << rate;
    }
}
