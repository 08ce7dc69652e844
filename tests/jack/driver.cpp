// The JACK driver on its own: its answers to the host's device query, its physical
// connections, stop and start, a server that goes away under it, and a server whose
// period changes under it. (Init without a server: first_start.cpp.)
#include <chrono>
#include <string>

#include "jack_test_support.h"

using namespace jack_test;
using testing_support::IsolatedScope;

namespace {

// A driver initialised on a private server of its own.
class JackDriver : public testing::Test {
protected:
    void SetUp() override {
        if (!server_.Start()) GTEST_SKIP() << kNoJackd;
        driver_ = CreateDriver(scope_, "bw-driver-" + std::to_string(getpid()));
        ASSERT_NE(driver_, nullptr);
        ASSERT_EQ(driver_->init(nullptr), ASIOTrue);
    }
    void TearDown() override {
        if (driver_ != nullptr) {
            EXPECT_EQ(driver_->Release(), 0u);
        }
        CoUninitialize();
    }
    // Creates all four buffers, starts, and waits for a few switches.
    void Run() {
        ASSERT_EQ(driver_->createBuffers(host_.infos, 4, 256, &host_.callbacks), ASE_OK);
        ASSERT_EQ(driver_->start(), ASE_OK);
        ASSERT_TRUE(WaitUntil([&] { return host_.switches.load() >= 5; })) << "the driver never switched";
    }
    // stop, disposeBuffers and Release each return at once, and the reference is gone.
    void TearDownPromptly() {
        const auto begin = std::chrono::steady_clock::now();
        EXPECT_EQ(driver_->stop(), ASE_OK);
        EXPECT_EQ(driver_->disposeBuffers(), ASE_OK);
        EXPECT_EQ(driver_->Release(), 0u);
        driver_ = nullptr;
        EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(3));
    }

    PrivateServer server_;
    IsolatedScope scope_;
    IASIO* driver_ = nullptr;
    TestHost host_;
};

TEST_F(JackDriver, ReportsTheServersFormatAndCreatesTheChannelsAskedFor) {
    driver_test::ExpectStereoAt48k(driver_, 256);  // the server's period and rate
    for (long code = 0; code < 6; ++code) {  // channels 0 to 2 of the outputs, then of the inputs
        ASIOChannelInfo info{code % 3, code / 3, -1, -1, -1, ""};
        if (code % 3 == 2) {
            EXPECT_EQ(driver_->getChannelInfo(&info), ASE_InvalidParameter);
            continue;
        }
        ASSERT_EQ(driver_->getChannelInfo(&info), ASE_OK);
        EXPECT_EQ(info.channelGroup, 0);
        EXPECT_EQ(info.type, ASIOSTFloat32LSB);
        EXPECT_STREQ(info.name, (std::string(code < 3 ? "out_" : "in_") + char('1' + code % 3)).c_str());
    }

    // (The checks of the host's requests the drivers share are tried on ALSA's.)
    EXPECT_EQ(driver_->createBuffers(host_.infos, 4, 512, &host_.callbacks), ASE_InvalidMode) << "not the server's size";
    // Output 1 and input 0 only: those two are active, each with two zeroed halves.
    ASIOBufferInfo some[2] = {{ASIOFalse, 1, {}}, {ASIOTrue, 0, {}}};
    ASSERT_EQ(driver_->createBuffers(some, 2, 256, &host_.callbacks), ASE_OK);
    for (const ASIOBufferInfo& info : some) {
        ASSERT_TRUE(info.buffers[0] != nullptr && info.buffers[1] != nullptr && info.buffers[0] != info.buffers[1]);
        const auto* half = static_cast<const float*>(info.buffers[1]);
        EXPECT_EQ(std::count(half, half + 256, 0.0f), 256);
    }
    for (long code = 0; code < 4; ++code) {
        ASIOChannelInfo info{code % 2, code / 2, -1, -1, -1, ""};
        ASSERT_EQ(driver_->getChannelInfo(&info), ASE_OK);
        EXPECT_EQ(info.isActive, code == 1 || code == 2 ? ASIOTrue : ASIOFalse) << "channel code " << code;
    }
    EXPECT_EQ(driver_->disposeBuffers(), ASE_OK);
}

TEST_F(JackDriver, StopHaltsSwitchesAndStartResumesAtHalfZero) {
    Run();
    ASSERT_EQ(driver_->stop(), ASE_OK);
    const long stopped = host_.switches.load(std::memory_order_acquire);
    jack_client_t* clock = OpenClient("bw-clock", server_.name());
    ASSERT_NE(clock, nullptr);
    const jack_nframes_t stoppedAt = jack_frame_time(clock);
    ASSERT_TRUE(WaitUntil([&] { return jack_frame_time(clock) - stoppedAt >= 10 * 256; }));
    jack_client_close(clock);
    EXPECT_EQ(host_.switches.load(), stopped) << "no buffer switch after stop";
    host_.expectedIndex = 0;
    ASSERT_EQ(driver_->start(), ASE_OK);
    ASSERT_TRUE(WaitUntil([&] { return host_.switches.load() >= stopped + 10; }));
    EXPECT_EQ(host_.wrongIndex.load(), 0) << "halves alternate 0, 1, 0, 1 from 0";
    TearDownPromptly();
}

TEST_F(JackDriver, ConnectsToPhysicalPortsOnlyWhenTheSettingAllows) {
    jack_client_t* observer = OpenClient("bw-observer", server_.name());
    ASSERT_NE(observer, nullptr);
    // The dummy backend's two physical ports each way.
    const char** playback = jack_get_ports(observer, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsPhysical | JackPortIsInput);
    const char** capture = jack_get_ports(observer, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsPhysical | JackPortIsOutput);
    ASSERT_TRUE(playback && playback[0] && playback[1] && capture && capture[0] && capture[1]);
    for (bool connect : {true, false}) {
        IsolatedScope scope;
        const std::string name = connect ? "bw-connect" : "bw-alone";
        IASIO* driver = CreateDriver(scope, name, connect);
        ASSERT_NE(driver, nullptr);
        ASSERT_EQ(driver->init(nullptr), ASIOTrue);
        TestHost host;
        ASSERT_EQ(driver->createBuffers(host.infos, 4, 256, &host.callbacks), ASE_OK);
        ASSERT_EQ(driver->start(), ASE_OK);
        auto connections = [&] {
            int count = 0;
            for (int c = 0; c < 2; ++c) {
                const std::string suffix = "_" + std::to_string(c + 1);
                jack_port_t* out = jack_port_by_name(observer, (name + ":out" + suffix).c_str());
                jack_port_t* in = jack_port_by_name(observer, (name + ":in" + suffix).c_str());
                count += out != nullptr && jack_port_connected_to(out, playback[c]);
                count += in != nullptr && jack_port_connected_to(in, capture[c]);
            }
            return count;
        };
        // The server shows a new graph from one of its next cycles on.
        WaitUntil([&] { return connections() == 4; }, connect ? 10.0 : 0.2);
        EXPECT_EQ(connections(), connect ? 4 : 0) << name;
        EXPECT_EQ(driver->stop(), ASE_OK);
        EXPECT_EQ(driver->disposeBuffers(), ASE_OK);
        EXPECT_EQ(driver->Release(), 0u);
        CoUninitialize();
    }
    jack_free(playback);
    jack_free(capture);
    jack_client_close(observer);
}

TEST_F(JackDriver, ServerGoneRequestsResetOnceAndTeardownReturns) {
    Run();
    server_.Stop();
    ASSERT_TRUE(WaitUntil([&] { return host_.resetRequests.load() > 0; })) << "no reset request";
    EXPECT_EQ(driver_->stop(), ASE_OK);
    const long switches = host_.switches.load();
    EXPECT_EQ(driver_->start(), ASE_HWMalfunction) << "nothing starts on a server that has gone";
    char message[128];
    driver_->getErrorMessage(message);
    EXPECT_STREQ(message, "The JACK server has gone away");
    EXPECT_EQ(host_.switches.load(), switches);
    EXPECT_EQ(host_.resetRequests.load(), 1);
    TearDownPromptly();
}

TEST_F(JackDriver, PeriodChangesAreAbsorbedAtTheHostsSizeWithTheirLatency) {
    Run();
    jack_client_t* control = OpenClient("bw-control", server_.name());
    ASSERT_NE(control, nullptr);
    long inputLatency = 0, outputLatency = 0;
    ASSERT_EQ(driver_->getLatencies(&inputLatency, &outputLatency), ASE_OK);
    EXPECT_EQ(outputLatency, 256) << "at the host's own size nothing waits in between";
    // 1024: four switches a cycle. 128: one every second cycle, which needs 128 frames in
    // the FIFOs, and they keep them at 512. Output latency: the period and the FIFOs.
    for (const auto& [period, latency] : {std::pair<jack_nframes_t, long>{1024, 1024}, {128, 256}, {512, 640}}) {
        SCOPED_TRACE(period);
        ASSERT_EQ(jack_set_buffer_size(control, period), 0);
        ASSERT_TRUE(WaitUntil([&] { return jack_get_buffer_size(control) == period; }));
        // The host's switches keep pace with the server's frames, 256 at a time.
        const jack_nframes_t from = jack_frame_time(control);
        const long switchesFrom = host_.switches.load();
        ASSERT_TRUE(WaitUntil([&] { return jack_frame_time(control) - from >= 40 * period; }));
        const long frames = static_cast<long>(jack_frame_time(control) - from);
        EXPECT_NEAR((host_.switches.load() - switchesFrom) * 256, frames, 3 * static_cast<long>(period) + 512);
        ASSERT_EQ(driver_->getLatencies(&inputLatency, &outputLatency), ASE_OK);
        EXPECT_EQ(inputLatency, static_cast<long>(period));
        EXPECT_EQ(outputLatency, latency);
    }
    EXPECT_EQ(host_.resetRequests.load(), 0);
    EXPECT_EQ(host_.wrongIndex.load(), 0) << "halves still alternate";
    EXPECT_GE(host_.latencyNotices.load(), 3) << "the host hears of each new latency";
    long minSize = 0, maxSize = 0, preferred = 0, granularity = 0;
    ASSERT_EQ(driver_->getBufferSize(&minSize, &maxSize, &preferred, &granularity), ASE_OK);
    EXPECT_EQ(preferred, 256) << "the host's size stays what it was given";
    jack_client_close(control);
    TearDownPromptly();
}

}  // namespace
