// The library against the plain oracle of plain_encoder.h: the spectrum and the quantised
// lines of every frame and the bytes written must be identical on varied signals.
#include <gtest/gtest.h>

#include <memory>

#include "tests/mp3enc/mp3_test_util.h"
#include "tests/mp3enc/plain_encoder.h"

using namespace mp3test;

namespace {

void ExpectSameAsOracle(const Pcm& pcm, int rate, const char* name) {
    SCOPED_TRACE(testing::Message() << name << " at " << rate << " Hz");
    using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;
    const File ours(std::tmpfile(), std::fclose), theirs(std::tmpfile(), std::fclose);
    {
        mp3enc::Mp3Encoder encoder(rate, 128, 2, ours.get());
        auto oracle = std::make_unique<plain::Encoder>(rate, theirs.get());
        ASSERT_TRUE(encoder.Ready());
        for (size_t f = 0; f < pcm.size() / 2304; ++f) {
            encoder.EncodeFrame(2304, pcm.data() + 2304 * f, false);
            oracle->EncodeFrame(pcm.data() + 2304 * f);
            for (int i = 0; i < 2304; ++i) {
                ASSERT_EQ(encoder.Spectrum()[i], oracle->spectrum[i]) << "frame " << f << " line " << i;
                ASSERT_EQ(encoder.QuantisedLines()[i], oracle->ix[i]) << "frame " << f << " line " << i;
            }
        }
    }
    EXPECT_TRUE(ReadBack(ours.get()) == ReadBack(theirs.get())) << "the bytes differ";
}

}  // namespace

TEST(Mp3Oracle, LibraryMatchesPlainArithmeticOnVariedSignals) {
    for (int rate : {44100, 48000, 32000}) {
        const int n = 1152 * 12;
        Pcm impulses(2 * n, 0);
        for (int i = 0; i < n; i += 700) impulses[2 * i] = impulses[2 * i + 1] = (i / 700) % 2 ? 32767 : -32768;
        Pcm loudThenSilent = MusicLike(n, rate, 3);
        std::fill(loudThenSilent.begin() + 2 * (2 * n / 3), loudThenSilent.end(), 0);
        ExpectSameAsOracle(Sweep(n, 20.0, 20000.0, rate, 0.7), rate, "sweep");
        ExpectSameAsOracle(Noise(n, 0.5, 1), rate, "noise");
        ExpectSameAsOracle(loudThenSilent, rate, "music, then silence");
        ExpectSameAsOracle(Sine(n, 40.0, rate, 1.0), rate, "full-scale bass");
        ExpectSameAsOracle(Sine(n, 3000.0, rate, 4.0), rate, "clipped");
        ExpectSameAsOracle(Noise(n, 2.0 / 32768, 7), rate, "a few LSB");
        ExpectSameAsOracle(impulses, rate, "impulses");
    }
}
