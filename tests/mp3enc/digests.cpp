// The encoder's output held bit for bit: digests of fixed signals at every rate, taken when the
// output matched a plain reference encoder (bench/) on every one of them.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "tests/mp3enc/mp3_test_util.h"
#include "tests/support/test_support.h"

using namespace mp3test;

TEST(Mp3Digests, OutputIsUnchanged) {
    const int rates[3] = {44100, 48000, 32000};
    struct Case {
        const char* name;
        std::function<Pcm(int frames, int rate)> signal;
        const char* md5[3];  // by rate
    };
    const Case cases[] = {
        {"music", [](int n, int rate) { return MusicLike(n, rate, 9); },
         {"de13c5209e31b6f094586d2f397a6baf", "de6011ca05f0d72adcad6f2bfeb9213e", "d450f01aba511c018f66706bf2c037a3"}},
        {"music, then silence",
         [](int n, int rate) {
             const Pcm music = MusicLike(n, rate, 3);
             return Make(n, [&](int i, int c) { return i < 2 * n / 3 ? music[2 * i + c] / 32767.0 : 0.0; });
         },
         {"aec30b89fd0b91a2d3eada9916706aea", "d4e8b4dc19a7d593a8bed70faf4b73cc", "864535d089f4dd22801a1f0d3ea0a8fc"}},
        {"sweep", [](int n, int rate) { return Sweep(n, 20.0, 20000.0, rate, 0.7); },
         {"66c00f460408d6f743ebb6a68e660158", "78455b434efa5b24cc00100716e9bcfc", "1b1b662e91c1119542babd8ece81e06e"}},
        {"full-scale noise", [](int n, int) { return Noise(n, 1.0, 3); },
         {"194ab909cf3e66db37353749e9740ca5", "7d344b7f9d511d03ae6e239ae1ec52b2", "705227d289ae35b0b33a3eb67ccc0ab7"}},
        {"full-scale bass", [](int n, int rate) { return Sine(n, 40.0, rate, 1.0); },
         {"bf043bfef59bdbeb0ec4601727c265a0", "5979614e81b10a906c6fb587fcd5b055", "e3a016e64f6a93f585eda427bb75ec87"}},
        {"clipped bass", [](int n, int rate) { return Sine(n, 55.0, rate, 3.0); },
         {"225fe6f39b0a4ee8b90ace05ae0806a6", "68101f5094f6f934a28bcb518ab4f825", "cab7fbb8cdaa80fc62c4c98bdcc03bbf"}},
        {"clipped 3 kHz", [](int n, int rate) { return Sine(n, 3000.0, rate, 4.0); },
         {"7ffb4b20d8eac0a9d242ba2efafb4f5b", "553bb5956e068541d120c0af76fe34b1", "80bdd2a0af44e72071e471fee7e0fb93"}},
        {"full-scale impulses",
         [](int n, int) { return Make(n, [](int i, int) { return i % 700 ? 0.0 : i / 700 % 2 ? 1.0 : -1.0; }); },
         {"ba581393b8901186b04b7441e7ca2979", "fa6202501bc199dbee7a85abba5439fa", "bf84ebdf8c2b748e2411338b4e5735c8"}},
        {"silence", [](int n, int) { return Pcm(2 * static_cast<size_t>(n), 0); },
         {"770c572aaca7d779f63edecf1de3c665", "db11cf4070f97369da0f84d4742cdec3", "8df5eac9e1a32c6a13367f0f5bcd3eb8"}},
        {"a few LSB", [](int n, int) { return Noise(n, 3.0 / 32768, 5); },
         {"d5bb39947c4848c435b413ca4326d3fb", "0771553296484a7e90d342c9d314771b", "ff846bf20114d16cbefba21f45c8e6dd"}},
    };
    testing_support::TempDir dir;
    const std::string path = (dir / "out.mp3").string();
    for (const Case& c : cases)
        for (int r = 0; r < 3; ++r) {
            const Bytes bytes = EncodeWithEntryPoints(c.signal(rates[r] * 3 / 2, rates[r]), rates[r]);
            testing_support::WriteFile(path, std::string(bytes.begin(), bytes.end()));
            std::FILE* p = popen(("md5sum '" + path + "'").c_str(), "r");
            char digest[33] = {};
            ASSERT_TRUE(p && std::fscanf(p, "%32s", digest) == 1);
            pclose(p);
            EXPECT_STREQ(digest, c.md5[r]) << c.name << " at " << rates[r] << " Hz";
        }
}
