// The ALSA driver's streaming thread on the test plug-in: every switched period reaches
// the device once, in order, in its sample layout; each channel's captured bytes arrive
// in its input halves; restarts, xruns, stalls and a lost capture side lose no playback.
#include <algorithm>
#include <string>

#include "alsa_test_support.h"

using namespace alsa_test;
using testing_support::IsolatedScope;
using testing_support::ReadFile;

namespace {

constexpr long kFrames = 64;  // small periods keep the byte checks small

struct DriverRun {
    IsolatedScope scope;
    IASIO* driver = nullptr;
    TestHost host;
    size_t silence = 0;  // bytes of the ring of silence each start plays first
    std::filesystem::path out = scope.workDir() / "out.raw";

    std::string Plugin(const std::string& options, const std::string& format = "S16_LE") const {
        return "pcm.bw { type bwtest format \"" + format + "\" file \"" + out.string() + "\" " + options + " }\n";
    }
    void Open(const std::string& devices) {
        UseAlsaDevices(scope, devices);
        driver = CreateDriver(scope, "bw", kFrames);
        ASSERT_NE(driver, nullptr);
        ASSERT_EQ(driver->init(nullptr), ASIOTrue);
        ASSERT_EQ(host.Create(driver, kFrames), ASE_OK);
        long inputLatency = 0, outputLatency = 0;
        ASSERT_EQ(driver->getLatencies(&inputLatency, &outputLatency), ASE_OK);
        silence = static_cast<size_t>(outputLatency) * 2 * BytesOf(host.type);
    }
    // Starts, runs until at least `switches` in all, stops; the switch count then.
    long RunUntil(long switches) {
        host.expectedIndex = 0;
        EXPECT_EQ(driver->start(), ASE_OK);
        EXPECT_TRUE(WaitUntil([&] { return host.switches.load() >= switches; })) << host.switches.load();
        EXPECT_EQ(driver->stop(), ASE_OK);
        return host.switches.load(std::memory_order_acquire);
    }
    std::pair<long long, long long> Dropouts() {  // xruns, input losses
        IDriverDropouts* dropouts = nullptr;
        EXPECT_EQ(driver->QueryInterface(IID_IDriverDropouts, reinterpret_cast<void**>(&dropouts)), S_OK);
        const std::pair<long long, long long> counts{dropouts->Xruns(), dropouts->InputLosses()};
        dropouts->Release();
        return counts;
    }
    std::string Close() {
        EXPECT_EQ(driver->disposeBuffers(), ASE_OK);
        EXPECT_EQ(driver->Release(), 0u);
        CoUninitialize();
        return ReadFile(out);
    }
    // The ring's silence, then switches [firstSwitch, endSwitch) of the host's pattern, interleaved.
    std::string Expected(long firstSwitch, long endSwitch) const {
        std::string bytes(silence, '\0');
        uint8_t sample[4];
        for (long long f = firstSwitch * kFrames; f < endSwitch * kFrames; ++f)
            for (int c = 0; c < 2; ++c) {
                driver_test::EncodeSample(host.type, f, c, sample);
                bytes.append(reinterpret_cast<const char*>(sample), BytesOf(host.type));
            }
        return bytes;
    }
};

// Where two byte strings first differ, for failure messages.
testing::AssertionResult SameBytes(const std::string& actual, const std::string& expected) {
    const auto [a, e] = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
    if (a == actual.end() && e == expected.end()) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "first difference at byte " << (a - actual.begin()) << " of " << actual.size()
                                       << " (expected " << expected.size() << ")";
}

TEST(AlsaStreaming, EverySwitchedPeriodReachesTheDeviceOnceInItsOwnLayout) {
    struct Case { const char* format; const char* options; long long xruns; bool restart; };  // restart: stop, start again
    const Case cases[] = {
        {"S32_LE", "", 0, false},
        {"S24_3LE", "", 0, false},
        {"FLOAT_LE", "", 0, false},
        {"S16_LE", "", 0, true},
        {"S16_LE", "xrun_at 10", 2, false},  // one under-run and one over-run, recovered
        {"S16_LE", "capture 0", 0, false},   // the inputs stay, silent; no capture from the start is no loss
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.format) + " " + c.options + (c.restart ? " restart" : ""));
        DriverRun run;
        run.host.inputSwitchesToKeep = 40;
        run.Open(run.Plugin(c.options, c.format));
        for (int b = 2; b < 4; ++b)  // inputs the device does not feed must be silence, not what was there
            for (void* half : run.host.infos[b].buffers) std::memset(half, 0xaa, kFrames * BytesOf(run.host.type));
        const long first = run.RunUntil(50);
        const long second = c.restart ? run.RunUntil(first + 30) : first;
        EXPECT_EQ(run.host.wrongIndex.load(), 0) << "halves alternate 0, 1, 0, 1 from 0 after each start";
        EXPECT_EQ(run.host.resetRequests.load(), 0);
        EXPECT_EQ(run.Dropouts(), std::make_pair(c.xruns, 0LL));
        for (int ch = 0; ch < 2; ++ch) {  // the plug-in captures 0x11 left, 0x22 right (the period an xrun lost is silence)
            const std::vector<uint8_t>& kept = run.host.inputs[ch];
            const char want = std::string(c.options) == "capture 0" ? 0 : 0x11 * (ch + 1);
            EXPECT_EQ(std::count(kept.begin(), kept.end(), want), long(kept.size()) - (c.xruns ? 2 * kFrames : 0)) << ch;
        }
        std::string expected = run.Expected(0, first);
        if (c.restart) expected += run.Expected(first, second);
        EXPECT_TRUE(SameBytes(run.Close(), expected));
    }
}

TEST(AlsaStreaming, StalledDeviceAsksForResetAndNeverHoldsUpStop) {
    for (bool waitForReset : {true, false}) {
        DriverRun run;
        run.Open(run.Plugin("stall_at 20 capture 0"));
        ASSERT_EQ(run.driver->start(), ASE_OK);
        // The ring of two periods fills up behind the stall, and the 20th switch waits.
        ASSERT_TRUE(WaitUntil([&] { return run.host.switches.load() >= 20; }));
        ASSERT_TRUE(!waitForReset || WaitUntil([&] { return run.host.resetRequests.load() == 1; }));
        const auto begin = std::chrono::steady_clock::now();
        EXPECT_EQ(run.driver->stop(), ASE_OK);
        EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(500)) << waitForReset;
        EXPECT_LE(run.host.switches.load(), 22) << "nothing moves past the stall";
        run.Close();
    }
}

TEST(AlsaStreaming, CaptureThatStallsOrGoesAwayGoesSilentCountedAndPlaybackGoesOn) {
    // Capture stalls (late periods, lost after two seconds) or goes away (an xrun, then
    // it cannot start again). Playback runs in real time: waiting on capture starves it.
    for (const char* option : {"capture_stall_at 20", "capture_gone_at 20"}) {
        SCOPED_TRACE(option);
        DriverRun run;
        run.host.inputSwitchesToKeep = 4000;
        run.Open(run.Plugin(std::string("paced 1 ") + option));
        ASSERT_EQ(run.driver->start(), ASE_OK);
        ASSERT_TRUE(WaitUntil([&] { return run.Dropouts().second == 1; })) << "the loss was never counted";
        const long lost = run.host.switches.load();
        ASSERT_TRUE(WaitUntil([&] { return run.host.switches.load() >= lost + 50; })) << "playback stopped";
        ASSERT_EQ(run.driver->stop(), ASE_OK);
        const long switches = run.host.switches.load(std::memory_order_acquire);
        EXPECT_EQ(run.Dropouts(), std::make_pair(1LL, 1LL));
        EXPECT_EQ(run.host.resetRequests.load(), 0) << "playback can go on: no reset";
        // The inputs hear the device up to the loss, then silence only.
        const std::vector<uint8_t>& heard = run.host.inputs[0];
        const size_t period = kFrames * 2;
        size_t live = 0;
        while (live + period <= heard.size() && std::count(&heard[live], &heard[live] + period, 0x11) == long(period))
            live += period;
        EXPECT_GE(live / period, 10u);
        EXPECT_LE(live / period, 21u);
        EXPECT_EQ(std::count(heard.begin() + live, heard.end(), 0), long(heard.size() - live)) << "silent after the loss";
        // Stop may come while the last switched period waits for room on the device.
        const std::string played = run.Close();
        const long written = long((played.size() - run.silence) / (kFrames * 2 * 2));
        EXPECT_GE(written, switches - 1);
        EXPECT_TRUE(SameBytes(played, run.Expected(0, written))) << "every switched period was played";
    }
}

}  // namespace
