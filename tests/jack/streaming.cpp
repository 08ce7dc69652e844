// Samples through the JACK driver, bit for bit and in the same cycle: what the host
// writes into output half n reaches a client connected to the driver's out ports in the
// cycle of switch n, and what a client plays into the driver's in ports arrives in that
// cycle's input half.
#include <string>

#include "jack_test_support.h"

using namespace jack_test;
using testing_support::IsolatedScope;

namespace {

constexpr size_t kCaptureSamples = ProbeProcess::kSamples;  // 60 periods
constexpr int kMinPeriods = 40;  // leaves room for torn periods on a loaded machine

class JackStreaming : public testing::Test {
protected:
    void SetUp() override {
        if (!SharedServerAnswers()) GTEST_SKIP() << kNoServerMessage;
        std::string pid = std::to_string(getpid());
        ASSERT_TRUE(probe_.Start("bw-probe-" + pid));
        name_ = "bw-stream-" + pid;
        ASSERT_NE(host_.clock = OpenClient("bw-clock-" + pid), nullptr);
        driver_ = CreateDriver(scope_, name_, false);
        ASSERT_NE(driver_, nullptr);
        ASSERT_EQ(driver_->init(nullptr), ASIOTrue);
        ASSERT_EQ(driver_->createBuffers(host_.infos, 4, 256, &host_.callbacks), ASE_OK);
        ASSERT_EQ(driver_->start(), ASE_OK);
    }
    void TearDown() override {
        EXPECT_EQ(host_.resetRequests.load(), 0) << "the server dropped the driver: too slow, or the machine overloaded";
        if (driver_ != nullptr) {
            EXPECT_EQ(driver_->stop(), ASE_OK);
            EXPECT_EQ(driver_->disposeBuffers(), ASE_OK);
            EXPECT_EQ(driver_->Release(), 0u);
            CoUninitialize();
        }
        if (host_.clock != nullptr) jack_client_close(host_.clock);
    }
    // One direction only: both at once would make a loop, which the server breaks by
    // running one side a cycle behind. Both sides keep what arrives from then on.
    void Connect(bool driverToProbe) {
        int connected = 0;
        for (const char* c : {"_1", "_2"}) {
            std::string ours = name_ + (driverToProbe ? ":out" : ":in") + c;
            std::string theirs = probe_.PortName(driverToProbe ? "in" : "out") + c;
            ASSERT_EQ(driverToProbe ? jack_connect(host_.clock, ours.c_str(), theirs.c_str())
                                    : jack_connect(host_.clock, theirs.c_str(), ours.c_str()),
                      0);
            jack_port_t* port = jack_port_by_name(host_.clock, ours.c_str());
            ASSERT_TRUE(WaitUntil([&] { return jack_port_connected_to(port, theirs.c_str()) != 0; }));
            ++connected;
        }
        ASSERT_EQ(connected, 2);
        probe_.StartCapture();
        host_.StartCapture();
    }

    IsolatedScope scope_;
    ProbeProcess probe_;
    std::string name_;
    IASIO* driver_ = nullptr;
    TestHost host_{kCaptureSamples};
};

TEST_F(JackStreaming, OutputHalvesReachAConnectedClientExactly) {
    Connect(true);
    ASSERT_TRUE(WaitUntil([&] { return probe_.Captured() == kCaptureSamples; }, 30.0))
        << "the probe got " << probe_.Captured() << " samples";
    EXPECT_TRUE(PeriodsMatchTags(probe_.Left(), probe_.Right(), probe_.Tags(), kMinPeriods));
    EXPECT_EQ(host_.wrongIndex.load(), 0) << "halves must alternate 0, 1, 0, 1 from 0";
}

TEST_F(JackStreaming, InputPortsArriveExactlyInTheInputHalves) {
    Connect(false);
    ASSERT_TRUE(WaitUntil([&] { return host_.inCaptured.load(std::memory_order_acquire) == kCaptureSamples; }, 30.0))
        << "the host got " << host_.inCaptured.load() << " samples";
    EXPECT_TRUE(PeriodsMatchTags(host_.inLeft, host_.inRight, host_.inTags, kMinPeriods));
}

TEST_F(JackStreaming, StopHaltsSwitchesAndStartResumesAtHalfZero) {
    ASSERT_TRUE(WaitUntil([&] { return host_.switches.load() >= 10; }));
    ASSERT_EQ(driver_->stop(), ASE_OK);
    long stopped = host_.switches.load(std::memory_order_acquire);
    jack_nframes_t stoppedAt = jack_frame_time(host_.clock);
    ASSERT_TRUE(WaitUntil([&] { return jack_frame_time(host_.clock) - stoppedAt >= 10 * 256; }));
    EXPECT_EQ(host_.switches.load(), stopped) << "no buffer switch after stop";

    host_.expectedIndex = 0;
    ASSERT_EQ(driver_->start(), ASE_OK);
    ASSERT_TRUE(WaitUntil([&] { return host_.switches.load() >= stopped + 10; }));
    EXPECT_EQ(host_.wrongIndex.load(), 0);
}

}  // namespace
