// The library against the plain oracle of plain_encoder.h: spectrum, quantised lines,
// side information and bytes must be identical, frame after frame, on varied signals.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/mp3enc/mp3_test_util.h"
#include "tests/mp3enc/plain_encoder.h"

using namespace mp3test;

namespace {

// Encodes pcm (whole frames) with both and compares every frame; returns the frames
// compared, or -1 at the first difference.
int CompareWithOracle(const Pcm& pcm, int rate, const char* name) {
    std::FILE* ours = std::tmpfile();
    std::FILE* theirs = std::tmpfile();
    auto encoder = std::make_unique<mp3enc::Mp3Encoder>(rate, 128, 2, ours);
    auto oracle = std::make_unique<plain::Encoder>(rate, theirs);
    EXPECT_TRUE(encoder->Ready());
    const int frames = static_cast<int>(pcm.size() / 2304);
    int compared = 0;
    for (int f = 0; f < frames && compared >= 0; ++f) {
        encoder->EncodeFrame(2304, pcm.data() + 2304 * f, false);
        oracle->EncodeFrame(pcm.data() + 2304 * f);
        const double* spectrum = encoder->Spectrum();
        const int32_t* ix = encoder->QuantisedLines();
        for (int i = 0; i < 2304; ++i) {
            if (spectrum[i] != oracle->spectrum[i] || ix[i] != oracle->ix[i]) {
                ADD_FAILURE() << name << " at " << rate << " Hz, frame " << f << " line " << i << ": spectrum "
                              << spectrum[i] << " vs " << oracle->spectrum[i] << ", ix " << ix[i] << " vs "
                              << oracle->ix[i];
                compared = -1;
                break;
            }
        }
        for (int k = 0; k < 4 && compared >= 0; ++k) {
            const mp3enc::GranuleInfo& a = encoder->Side().granules[k];
            const mp3enc::GranuleInfo& b = oracle->side.granules[k];
            const bool same = a.part2_3_length == b.part2_3_length && a.big_values == b.big_values &&
                              a.count1 == b.count1 && a.global_gain == b.global_gain &&
                              a.count1table_select == b.count1table_select && a.region0_count == b.region0_count &&
                              a.region1_count == b.region1_count &&
                              std::memcmp(a.table_select, b.table_select, sizeof a.table_select) == 0;
            if (!same) {
                ADD_FAILURE() << name << " at " << rate << " Hz, frame " << f << " block " << k
                              << ": side information differs";
                compared = -1;
            }
        }
        if (compared >= 0) ++compared;
    }
    const std::vector<uint8_t> a = ReadBack(ours), b = ReadBack(theirs);
    EXPECT_EQ(a.size(), b.size()) << name;
    EXPECT_TRUE(a == b) << name << " at " << rate << " Hz: the bytes differ";
    encoder.reset();
    std::fclose(ours);
    std::fclose(theirs);
    return compared;
}

}  // namespace

TEST(Mp3Oracle, LibraryMatchesPlainArithmeticOnVariedSignals) {
    for (int rate : {44100, 48000, 32000}) {
        const int n = 1152 * 12;
        Pcm loudLow = Sine(n, 40.0, rate, 1.0);            // full-scale bass: the largest lines
        Pcm clipped = Sine(n, 3000.0, rate, 4.0);          // hard-clipped square-ish wave
        Pcm quiet = Noise(n, 2.0 / 32768, 7);              // a few LSB
        Pcm impulses(2 * n, 0);
        for (int i = 0; i < n; i += 700) impulses[2 * i] = impulses[2 * i + 1] = (i / 700) % 2 ? 32767 : -32768;
        Pcm mixed = MusicLike(n, rate, 3);
        for (int i = 2 * n / 3; i < n; ++i) mixed[2 * i] = mixed[2 * i + 1] = 0;  // loud, then silence
        const struct {
            const char* name;
            Pcm pcm;
        } cases[] = {{"sweep", Sweep(n, 20.0, 20000.0, rate, 0.7)},
                     {"noise", Noise(n, 0.5, 1)},
                     {"music", mixed},
                     {"bass", loudLow},
                     {"clipped", clipped},
                     {"quiet", quiet},
                     {"impulses", impulses}};
        for (const auto& c : cases) EXPECT_EQ(CompareWithOracle(c.pcm, rate, c.name), 12) << c.name << " " << rate;
    }
}
