// Our frames through an independent decoder: LAME's hip decoder frame by frame at every rate.
#include <gtest/gtest.h>

#include <tuple>

#include "tests/mp3enc/mp3_test_util.h"

using namespace mp3test;

TEST(Mp3RoundTrip, EveryFrameDecodesAtEveryRate) {
    for (int rate : {44100, 48000, 32000}) {
        const int n = rate * 3;
        // Wide-band noise is beyond 128 kbit/s without a hearing model: its floor says only that the
        // output follows the input. A broken table, sign or line drops the others to a few dB.
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
                EXPECT_GT(SnrDb(pcm, d.pcm, ch, 2000, n - 2000), floorDb) << "channel " << ch;
            }
        }
    }
}
