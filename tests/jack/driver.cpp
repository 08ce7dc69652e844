// The JACK driver on its own: its physical connections, stop and start, a server that
// goes away, and one whose period changes under it.
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
        driver_ = driver_test::CreateDriver(scope_, CLSID_JackDriver, JackEntry(name_));
        ASSERT_NE(driver_, nullptr);
        ASSERT_EQ(driver_->init(nullptr), ASIOTrue);
    }
    // stop, disposeBuffers and Release each return at once, the server there or not.
    void TearDown() override {
        const auto begin = std::chrono::steady_clock::now();
        if (driver_ != nullptr) {
            EXPECT_EQ(driver_->stop(), ASE_OK);
            EXPECT_EQ(driver_->disposeBuffers(), ASE_OK);
            EXPECT_EQ(driver_->Release(), 0u);
        }
        EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(3));
        CoUninitialize();
    }
    // Creates all four buffers, starts, and waits for a few switches.
    void Run() {
        ASSERT_EQ(driver_->createBuffers(host_.infos, 4, 256, &host_.callbacks), ASE_OK);
        ASSERT_EQ(driver_->start(), ASE_OK);
        ASSERT_TRUE(WaitUntil([&] { return host_.switches.load() >= 5; })) << "the driver never switched";
    }

    PrivateServer server_;
    IsolatedScope scope_;
    const std::string name_ = "bw-driver-" + std::to_string(getpid());
    IASIO* driver_ = nullptr;
    TestHost host_;
};

TEST_F(JackDriver, ConnectsToPhysicalPortsOnlyWhenTheSettingAllows) {
    Run();  // the fixture's driver leaves them alone
    jack_client_t* observer = OpenClient("bw-observer");
    ASSERT_NE(observer, nullptr);
    // The dummy backend's two physical ports each way.
    const char** playback = jack_get_ports(observer, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsPhysical | JackPortIsInput);
    const char** capture = jack_get_ports(observer, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsPhysical | JackPortIsOutput);
    ASSERT_TRUE(playback && playback[0] && playback[1] && capture && capture[0] && capture[1]);
    auto connections = [&](const std::string& name) {
        int count = 0;
        for (const char* c : {"_1", "_2"}) {
            jack_port_t* out = jack_port_by_name(observer, (name + ":out" + c).c_str());
            jack_port_t* in = jack_port_by_name(observer, (name + ":in" + c).c_str());
            count += out != nullptr && jack_port_connected_to(out, playback[c[1] - '1']);
            count += in != nullptr && jack_port_connected_to(in, capture[c[1] - '1']);
        }
        return count;
    };
    IsolatedScope scope;
    IASIO* connecting = driver_test::CreateDriver(scope, CLSID_JackDriver, JackEntry("bw-connect", true));
    ASSERT_NE(connecting, nullptr);
    ASSERT_EQ(connecting->init(nullptr), ASIOTrue);
    ASIOBufferInfo infos[4] = {{ASIOFalse, 0, {}}, {ASIOFalse, 1, {}}, {ASIOTrue, 0, {}}, {ASIOTrue, 1, {}}};
    ASIOCallbacks quiet{[](long, ASIOBool) {}, [](ASIOSampleRate) {}, [](long, long, void*, double*) { return 0L; }, nullptr};
    ASSERT_EQ(connecting->createBuffers(infos, 4, 256, &quiet), ASE_OK);
    ASSERT_EQ(connecting->start(), ASE_OK);
    // A graph that shows the second driver's connections shows any the first one made.
    EXPECT_TRUE(WaitUntil([&] { return connections("bw-connect") == 4; })) << connections("bw-connect");
    EXPECT_EQ(connections(name_), 0);
    EXPECT_EQ(connecting->disposeBuffers(), ASE_OK);
    EXPECT_EQ(connecting->Release(), 0u);
    CoUninitialize();
    jack_free(playback);
    jack_free(capture);
    jack_client_close(observer);
}

TEST_F(JackDriver, StopAndStartThenServerGoneRequestsResetOnce) {
    Run();
    ASSERT_EQ(driver_->stop(), ASE_OK);
    const long stopped = host_.switches.load(std::memory_order_acquire);
    jack_client_t* clock = OpenClient("bw-clock");
    ASSERT_NE(clock, nullptr);
    const jack_nframes_t stoppedAt = jack_frame_time(clock);
    ASSERT_TRUE(WaitUntil([&] { return jack_frame_time(clock) - stoppedAt >= 10 * 256; }));
    jack_client_close(clock);
    EXPECT_EQ(host_.switches.load(), stopped) << "no buffer switch after stop";
    host_.expectedIndex = 0;
    ASSERT_EQ(driver_->start(), ASE_OK);
    ASSERT_TRUE(WaitUntil([&] { return host_.switches.load() >= stopped + 10; }));
    EXPECT_EQ(host_.wrongIndex.load(), 0) << "halves alternate 0, 1, 0, 1 from 0";

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
}

TEST_F(JackDriver, PeriodChangesAreAbsorbedAtTheHostsSizeWithTheirLatency) {
    Run();
    jack_client_t* control = OpenClient("bw-control");
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
    driver_test::ExpectStereoAt48k(driver_, 256);  // the host's size stays what it was given
    jack_client_close(control);
}

}  // namespace
