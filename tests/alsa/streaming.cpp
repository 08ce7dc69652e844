// The ALSA driver's streaming thread on devices that keep what they are given: every
// switched period reaches the device once, in order, in the device's sample layout;
// captured bytes arrive in the input halves; stop, restart and xruns lose nothing.
// ALSA's null device does not pace itself, so these tests count bytes, not time.
#include <algorithm>
#include <string>

#include "alsa_test_support.h"

using namespace alsa_test;
using testing_support::IsolatedScope;

namespace {

constexpr long kFrames = 64;  // small periods keep the byte checks small

struct DriverRun {
    IsolatedScope scope;
    IASIO* driver = nullptr;
    TestHost host;
    long silenceFrames = 0;  // the ring of silence playback starts with

    // Creates the driver on `device` with buffers for two outputs and two inputs.
    void Open(const std::string& device, const std::string& devices = "") {
        if (!devices.empty()) UseAlsaDevices(scope, devices);
        driver = CreateDriver(scope, device, kFrames);
        ASSERT_NE(driver, nullptr);
        ASSERT_EQ(driver->init(nullptr), ASIOTrue);
        ASSERT_EQ(host.Create(driver, kFrames), ASE_OK);
        long inputLatency = 0;
        ASSERT_EQ(driver->getLatencies(&inputLatency, &silenceFrames), ASE_OK);
    }
    // Starts, runs until at least `switches` in all, stops; the switch count then.
    long RunUntil(long switches) {
        host.expectedIndex = 0;
        EXPECT_EQ(driver->start(), ASE_OK);
        EXPECT_TRUE(WaitUntil([&] { return host.switches.load() >= switches; })) << host.switches.load();
        EXPECT_EQ(driver->stop(), ASE_OK);
        return host.switches.load(std::memory_order_acquire);
    }
    // The driver's counters: xruns and input losses.
    std::pair<long long, long long> Dropouts() {
        void* object = nullptr;
        EXPECT_EQ(driver->QueryInterface(IID_IDriverDropouts, &object), S_OK);
        auto* dropouts = static_cast<IDriverDropouts*>(object);
        std::pair<long long, long long> counts{dropouts->Xruns(), dropouts->InputLosses()};
        dropouts->Release();
        return counts;
    }
    void Close() {
        EXPECT_EQ(driver->disposeBuffers(), ASE_OK);
        EXPECT_EQ(driver->Release(), 0u);
        driver = nullptr;
        CoUninitialize();
    }
    std::vector<uint8_t> Silence() const { return std::vector<uint8_t>(silenceFrames * 2 * BytesOf(host.type), 0); }
};

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST(AlsaStreaming, NullDeviceRunsHundredsOfSwitchesAndStopHaltsThem) {
    DriverRun run;
    run.host.inputSwitchesToKeep = 300;
    run.Open("null");
    // Inputs from null's capture are silence: the halves must be overwritten with it.
    for (int b = 2; b < 4; ++b)
        for (void* half : run.host.infos[b].buffers) std::memset(half, 0xaa, kFrames * 4);
    long switches = run.RunUntil(400);
    EXPECT_GE(switches, 400);
    EXPECT_EQ(run.host.wrongIndex.load(), 0) << "halves must alternate 0, 1, 0, 1 from 0";
    for (const auto& kept : run.host.inputs) {
        ASSERT_EQ(kept.size(), 300u * kFrames * 4);
        EXPECT_EQ(std::count(kept.begin(), kept.end(), 0), static_cast<long>(kept.size()));
    }
    EXPECT_EQ(run.host.switches.load(), switches) << "no buffer switch after stop";
    EXPECT_EQ(run.Dropouts(), std::make_pair(0LL, 0LL));
    EXPECT_EQ(run.host.resetRequests.load(), 0);
    run.Close();
}

TEST(AlsaStreaming, EachFormatReachesTheDeviceInItsOwnLayout) {
    for (const char* format : {"S32_LE", "S16_LE", "S24_3LE", "FLOAT_LE"}) {
        SCOPED_TRACE(format);
        DriverRun run;
        std::filesystem::path out = run.scope.workDir() / "out.raw";
        run.Open("bw-one", std::string("pcm.bw-one { type bwtest format \"") + format + "\" file \"" + out.string() +
                               "\" }\n");
        long switches = run.RunUntil(50);
        ASSERT_EQ(run.host.resetRequests.load(), 0);
        std::vector<uint8_t> expected =
            Concat({run.Silence(), ExpectedPlayback(run.host.type, kFrames, 0, switches)});
        run.Close();
        EXPECT_TRUE(SameBytes(ReadBytes(out), expected));
    }
}

TEST(AlsaStreaming, FilePcmGetsThePlaybackAndFeedsTheInputHalves) {
    DriverRun run;
    std::filesystem::path out = run.scope.workDir() / "out.raw";
    std::filesystem::path in = run.scope.workDir() / "in.raw";
    // 200 periods of two 32-bit channels: frame f holds f * 65536 + 1 and -(f * 65536 + 2).
    std::vector<uint8_t> feed(200 * kFrames * 2 * 4);
    for (size_t f = 0; f < 200 * kFrames; ++f) {
        int32_t pair[2] = {static_cast<int32_t>(f * 65536 + 1), -static_cast<int32_t>(f * 65536 + 2)};
        std::memcpy(&feed[f * 8], pair, 8);
    }
    testing_support::WriteFile(in, std::string(feed.begin(), feed.end()));
    run.host.inputSwitchesToKeep = 100;
    // ALSA's file device records what passes either way: one for each direction.
    run.Open("bw-file", "pcm.bw-file { type asym\n"
                        "  playback.pcm { type file slave.pcm \"null\" file \"" + out.string() + "\" format \"raw\" }\n"
                        "  capture.pcm { type file slave.pcm \"null\" file \"/dev/null\" infile \"" + in.string() +
                            "\" format \"raw\" } }\n");
    ASSERT_EQ(run.host.type, ASIOSTInt32LSB);
    long switches = run.RunUntil(100);
    std::vector<uint8_t> expected = Concat({run.Silence(), ExpectedPlayback(ASIOSTInt32LSB, kFrames, 0, switches)});
    for (int c = 0; c < 2; ++c) {
        std::vector<uint8_t> channel(100 * kFrames * 4);
        for (size_t f = 0; f < 100 * kFrames; ++f) std::memcpy(&channel[f * 4], &feed[f * 8 + c * 4], 4);
        EXPECT_TRUE(SameBytes(run.host.inputs[c], channel)) << "input " << c;
    }
    run.Close();  // the file device writes out what it holds when closed
    EXPECT_TRUE(SameBytes(ReadBytes(out), expected));
}

TEST(AlsaStreaming, RestartPlaysOnFromWhereTheHostIs) {
    DriverRun run;
    std::filesystem::path out = run.scope.workDir() / "out.raw";
    run.Open("bw-16", "pcm.bw-16 { type bwtest format \"S16_LE\" file \"" + out.string() + "\" }\n");
    long first = run.RunUntil(30);
    long second = run.RunUntil(first + 30);
    EXPECT_EQ(run.host.wrongIndex.load(), 0) << "each start begins at half 0";
    // Each start plays its ring of silence first; no switched period is lost or doubled.
    std::vector<uint8_t> expected = Concat({run.Silence(), ExpectedPlayback(ASIOSTInt16LSB, kFrames, 0, first),
                                            run.Silence(), ExpectedPlayback(ASIOSTInt16LSB, kFrames, first, second)});
    run.Close();
    EXPECT_TRUE(SameBytes(ReadBytes(out), expected));
}

TEST(AlsaStreaming, XrunsAreRecoveredCountedAndLoseNoPlayback) {
    DriverRun run;
    std::filesystem::path out = run.scope.workDir() / "out.raw";
    // Each side's tenth period reports an xrun.
    run.Open("bw-xrun", "pcm.bw-xrun { type bwtest format \"S16_LE\" file \"" + out.string() + "\" xrun_at 10 }\n");
    long switches = run.RunUntil(60);
    EXPECT_EQ(run.Dropouts(), std::make_pair(2LL, 0LL)) << "one under-run, one over-run";
    EXPECT_EQ(run.host.resetRequests.load(), 0) << "an xrun is no reason to reset";
    std::vector<uint8_t> expected = Concat({run.Silence(), ExpectedPlayback(ASIOSTInt16LSB, kFrames, 0, switches)});
    run.Close();
    EXPECT_TRUE(SameBytes(ReadBytes(out), expected));
}

TEST(AlsaStreaming, StalledDeviceAsksForResetAndNeverHoldsUpStop) {
    for (bool waitForReset : {true, false}) {
        DriverRun run;
        run.Open("bw-stall", "pcm.bw-stall { type bwtest format \"S16_LE\" stall_at 20 capture false }\n");
        ASSERT_EQ(run.driver->start(), ASE_OK);
        // The ring of two periods fills up behind the stall, and the 20th switch waits.
        ASSERT_TRUE(WaitUntil([&] { return run.host.switches.load() >= 20; }));
        if (waitForReset) {
            ASSERT_TRUE(WaitUntil([&] { return run.host.resetRequests.load() == 1; }));
        }
        auto begin = std::chrono::steady_clock::now();
        EXPECT_EQ(run.driver->stop(), ASE_OK);
        EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(500)) << waitForReset;
        EXPECT_LE(run.host.switches.load(), 22) << "nothing moves past the stall";
        run.Close();
    }
}

TEST(AlsaStreaming, WithoutCaptureInputsAreSilentAndPlaybackGoesOn) {
    DriverRun run;
    run.host.inputSwitchesToKeep = 40;
    std::filesystem::path out = run.scope.workDir() / "out.raw";
    run.Open("bw-play", "pcm.bw-play { type bwtest format \"S16_LE\" file \"" + out.string() + "\" capture false }\n");
    long inputs = 0, outputs = 0;
    ASSERT_EQ(run.driver->getChannels(&inputs, &outputs), ASE_OK);
    EXPECT_EQ(inputs, 2) << "the inputs are still there";
    for (int b = 2; b < 4; ++b)
        for (void* half : run.host.infos[b].buffers) std::memset(half, 0xaa, kFrames * 2);
    long switches = run.RunUntil(40);
    for (const auto& kept : run.host.inputs) {
        ASSERT_EQ(kept.size(), 40u * kFrames * 2);
        EXPECT_EQ(std::count(kept.begin(), kept.end(), 0), static_cast<long>(kept.size()));
    }
    std::vector<uint8_t> expected = Concat({run.Silence(), ExpectedPlayback(ASIOSTInt16LSB, kFrames, 0, switches)});
    EXPECT_EQ(run.Dropouts(), std::make_pair(0LL, 0LL)) << "no capture from the start is no loss";
    run.Close();
    EXPECT_TRUE(SameBytes(ReadBytes(out), expected));
}

TEST(AlsaStreaming, CaptureThatStallsOrGoesAwayGoesSilentCountedAndPlaybackGoesOn) {
    // The capture side stalls (gives nothing: its periods are late, then after two
    // seconds it counts as lost), or goes away (an xrun, then it cannot start again).
    // Playback runs in real time, so a driver that waited on capture would starve it.
    struct Case {
        const char* field;
        long long xruns;
    };
    for (const Case& c : {Case{"capture_stall_at", 1}, Case{"capture_gone_at", 1}}) {
        SCOPED_TRACE(c.field);
        DriverRun run;
        run.host.inputSwitchesToKeep = 4000;
        std::filesystem::path out = run.scope.workDir() / "out.raw";
        run.Open("bw-lose", "pcm.bw-lose { type bwtest format \"S16_LE\" paced true file \"" + out.string() + "\" " + c.field +
                                " 20 }\n");
        run.host.expectedIndex = 0;
        ASSERT_EQ(run.driver->start(), ASE_OK);
        ASSERT_TRUE(WaitUntil([&] { return run.Dropouts().second == 1; })) << "the loss was never counted";
        const long lost = run.host.switches.load();
        ASSERT_TRUE(WaitUntil([&] { return run.host.switches.load() >= lost + 50; })) << "playback stopped";
        ASSERT_EQ(run.driver->stop(), ASE_OK);
        const long switches = run.host.switches.load(std::memory_order_acquire);
        EXPECT_EQ(run.Dropouts(), std::make_pair(c.xruns, 1LL));
        EXPECT_EQ(run.host.resetRequests.load(), 0) << "playback can go on: no reset";
        // The inputs hear the device up to the loss, then silence only.
        const std::vector<uint8_t>& heard = run.host.inputs[0];
        const size_t period = kFrames * 2;
        size_t live = 0;
        while (live + period <= heard.size() && std::count(heard.begin() + live, heard.begin() + live + period, 0x11) == long(period))
            live += period;
        EXPECT_GE(live / period, 10u);
        EXPECT_LE(live / period, 21u);
        EXPECT_EQ(std::count(heard.begin() + live, heard.end(), 0), long(heard.size() - live)) << "silent after the loss";
        run.Close();
        // Stop may come while the last switched period waits for room on the device.
        const std::vector<uint8_t> played = ReadBytes(out);
        const size_t periodBytes = kFrames * 2 * 2;
        const long writtenSwitches = long((played.size() - run.Silence().size()) / periodBytes);
        EXPECT_GE(writtenSwitches, switches - 1);
        EXPECT_TRUE(SameBytes(played, Concat({run.Silence(), ExpectedPlayback(ASIOSTInt16LSB, kFrames, 0, writtenSwitches)})))
            << "every switched period was played";
    }
}

}  // namespace
