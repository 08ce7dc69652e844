// Samples through the JACK driver, bit for bit: what the host writes into the output
// halves reaches a client connected to the driver's out ports, and what a client plays
// into the driver's in ports arrives in the input halves.
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
        if (!ServerAnswers()) GTEST_SKIP() << kNoServerMessage;
        // The probe process first, while this process runs no JACK thread to fork with.
        std::string pid = std::to_string(getpid());
        ASSERT_TRUE(probe_.Start("bw-probe-" + pid));
        name_ = "bw-stream-" + pid;
        clock_ = OpenClient("bw-clock-" + pid);
        ASSERT_NE(clock_, nullptr);
        driver_ = CreateDriver(scope_, name_, false);
        ASSERT_NE(driver_, nullptr);
        ASSERT_EQ(driver_->init(nullptr), ASIOTrue);
        host_.frames = 256;
        host_.clock = clock_;
        ASSERT_EQ(driver_->createBuffers(host_.infos, 4, 256, &host_.callbacks), ASE_OK);
        ASSERT_EQ(driver_->start(), ASE_OK);
    }
    // Connects one direction only: both at once would make a loop that the server breaks
    // by running one side a cycle behind. Both sides then keep only what arrives from now.
    void Connect(bool driverToProbe) {
        for (const char* c : {"_1", "_2"}) {
            std::string ours = name_ + (driverToProbe ? ":out" : ":in") + c;
            std::string theirs = probe_.PortName(driverToProbe ? "in" : "out") + c;
            if (driverToProbe)
                ASSERT_EQ(jack_connect(clock_, ours.c_str(), theirs.c_str()), 0);
            else
                ASSERT_EQ(jack_connect(clock_, theirs.c_str(), ours.c_str()), 0);
        }
        probe_.StartCapture();
        host_.StartCapture();
    }
    void TearDown() override {
        EXPECT_EQ(host_.resetRequests.load(), 0) << "the server dropped the driver: too slow, or the machine overloaded";
        if (driver_ != nullptr) {
            EXPECT_EQ(driver_->stop(), ASE_OK);
            EXPECT_EQ(driver_->disposeBuffers(), ASE_OK);
            EXPECT_EQ(driver_->Release(), 0u);
            CoUninitialize();
        }
        if (clock_ != nullptr) jack_client_close(clock_);
    }

    IsolatedScope scope_;
    ProbeProcess probe_;
    std::string name_;
    jack_client_t* clock_ = nullptr;
    IASIO* driver_ = nullptr;
    TestHost host_{kCaptureSamples};
};

TEST_F(JackStreaming, OutputHalvesReachAConnectedClientExactly) {
    Connect(true);
    ASSERT_TRUE(WaitUntil([&] { return probe_.Captured() == kCaptureSamples; }))
        << "the probe got " << probe_.Captured() << " samples";
    // Each period the probe took is the half the host filled in that same cycle's switch.
    EXPECT_TRUE(PeriodsMatchTags(probe_.Left(), probe_.Right(), probe_.Tags(), kMinPeriods));
    EXPECT_EQ(host_.wrongIndex.load(), 0) << "halves must alternate 0, 1, 0, 1 from 0";
}

TEST_F(JackStreaming, InputPortsArriveExactlyInTheInputHalves) {
    Connect(false);
    ASSERT_TRUE(WaitUntil([&] { return host_.inCaptured.load(std::memory_order_acquire) == kCaptureSamples; }))
        << "the host got " << host_.inCaptured.load() << " samples";
    EXPECT_TRUE(PeriodsMatchTags(host_.inLeft, host_.inRight, host_.inTags, kMinPeriods));
}

TEST_F(JackStreaming, StopHaltsSwitchesAndStartResumesAtHalfZero) {
    ASSERT_TRUE(WaitUntil([&] { return host_.switches.load() >= 10; }));
    ASSERT_EQ(driver_->stop(), ASE_OK);
    long stopped = host_.switches.load(std::memory_order_acquire);
    jack_nframes_t stoppedAt = jack_frame_time(clock_);
    ASSERT_TRUE(WaitUntil([&] { return jack_frame_time(clock_) - stoppedAt >= 10 * 256; }));
    EXPECT_EQ(host_.switches.load(), stopped) << "no buffer switch after stop";

    host_.expectedIndex = 0;
    ASSERT_EQ(driver_->start(), ASE_OK);
    ASSERT_TRUE(WaitUntil([&] { return host_.switches.load() >= stopped + 10; }));
    EXPECT_EQ(host_.wrongIndex.load(), 0);
}

}  // namespace
