// The encoder's output held fixed: MD5 digests of whole recordings of a few signals at
// every rate, taken from the encoder as it was before its loops were made faster. Any
// change to the arithmetic, the rate control or the bitstream shows here.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/mp3enc/mp3_test_util.h"
#include "tests/support/test_support.h"

using namespace mp3test;

namespace {

std::string Md5(const Bytes& bytes) {
    testing_support::TempDir dir;
    const std::string path = (dir / "out.mp3").string();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fclose(f) != 0) return "unwritten";
    std::FILE* p = popen(("md5sum '" + path + "'").c_str(), "r");
    char digest[33] = {};
    const bool read = p && std::fscanf(p, "%32s", digest) == 1;
    if (p) pclose(p);
    return read ? digest : "no md5sum";
}

}  // namespace

TEST(Mp3Digests, OutputIsUnchanged) {
    const int rates[3] = {44100, 48000, 32000};
    struct Case {
        const char* name;
        const char* md5[3];  // by rate
    };
    const Case cases[] = {
        {"music", {"de13c5209e31b6f094586d2f397a6baf", "de6011ca05f0d72adcad6f2bfeb9213e",
                  "d450f01aba511c018f66706bf2c037a3"}},
        {"sweep", {"66c00f460408d6f743ebb6a68e660158", "78455b434efa5b24cc00100716e9bcfc",
                  "1b1b662e91c1119542babd8ece81e06e"}},
        {"full-scale noise", {"194ab909cf3e66db37353749e9740ca5", "7d344b7f9d511d03ae6e239ae1ec52b2",
                             "705227d289ae35b0b33a3eb67ccc0ab7"}},
        {"clipped bass", {"225fe6f39b0a4ee8b90ace05ae0806a6", "68101f5094f6f934a28bcb518ab4f825",
                         "cab7fbb8cdaa80fc62c4c98bdcc03bbf"}},
        {"a few LSB", {"d5bb39947c4848c435b413ca4326d3fb", "0771553296484a7e90d342c9d314771b",
                      "ff846bf20114d16cbefba21f45c8e6dd"}},
    };
    for (const Case& c : cases)
        for (int r = 0; r < 3; ++r) {
            const int n = rates[r] * 3 / 2;
            const std::string name = c.name;
            const Pcm pcm = name == "music"              ? MusicLike(n, rates[r], 9)
                            : name == "sweep"            ? Sweep(n, 20.0, 20000.0, rates[r], 0.7)
                            : name == "full-scale noise" ? Noise(n, 1.0, 3)
                            : name == "clipped bass"     ? Sine(n, 55.0, rates[r], 3.0)
                                                         : Noise(n, 3.0 / 32768, 5);
            EXPECT_EQ(Md5(EncodeWithEntryPoints(pcm, rates[r])), c.md5[r]) << c.name << " at " << rates[r] << " Hz";
        }
}
