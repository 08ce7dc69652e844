// Samples through the JACK driver, bit for bit: what the host writes into the output
// halves reaches a client connected to the driver's out ports, and what a client plays
// into the driver's in ports arrives in the input halves.
#include <string>

#include "jack_test_support.h"

using namespace jack_test;
using testing_support::IsolatedScope;

namespace {

constexpr size_t kCaptureSamples = 256 * 60;  // 60 periods
constexpr int kMinPeriods = 50;               // leaves room for late cycles on a loaded machine

class JackStreaming : public testing::Test {
protected:
    void SetUp() override {
        if (!ServerAnswers()) GTEST_SKIP() << kNoServerMessage;
        name_ = "bw-stream-" + std::to_string(getpid());
        driver_ = CreateDriver(scope_, name_, false);
        ASSERT_NE(driver_, nullptr);
        ASSERT_EQ(driver_->init(nullptr), ASIOTrue);
        host_.frames = 256;
        ASSERT_EQ(driver_->createBuffers(host_.infos, 4, 256, &host_.callbacks), ASE_OK);
        probe_.hostSwitches = &host_.switches;
        host_.probePeriods = &probe_.periodsPlayed;
        ASSERT_TRUE(probe_.Open("bw-probe-" + std::to_string(getpid())));
        ASSERT_EQ(driver_->start(), ASE_OK);
        for (int c = 1; c <= 2; ++c) {
            std::string suffix = "_" + std::to_string(c);
            ASSERT_EQ(jack_connect(probe_.client(), (name_ + ":out" + suffix).c_str(), probe_.PortName(c - 1).c_str()), 0);
            ASSERT_EQ(jack_connect(probe_.client(), probe_.PortName(c + 1).c_str(), (name_ + ":in" + suffix).c_str()), 0);
        }
        // Both sides keep only what arrives once everything is connected.
        probe_.StartCapture();
        host_.StartCapture();
    }
    void TearDown() override {
        if (driver_ == nullptr) return;
        EXPECT_EQ(driver_->stop(), ASE_OK);
        EXPECT_EQ(driver_->disposeBuffers(), ASE_OK);
        EXPECT_EQ(driver_->Release(), 0u);
        CoUninitialize();
    }

    IsolatedScope scope_;
    std::string name_;
    IASIO* driver_ = nullptr;
    TestHost host_{kCaptureSamples};
    ProbeClient probe_{kCaptureSamples};
};

TEST_F(JackStreaming, OutputHalvesReachAConnectedClientExactly) {
    ASSERT_TRUE(WaitUntil([&] { return probe_.captured.load(std::memory_order_acquire) == kCaptureSamples; }))
        << "the probe got " << probe_.captured.load() << " samples";
    // Each period the probe took is the half the host filled in that same cycle's switch.
    EXPECT_TRUE(PeriodsMatchTags(probe_.left, probe_.right, probe_.hostSwitchesAt, kMinPeriods));
    EXPECT_EQ(host_.wrongIndex.load(), 0) << "halves must alternate 0, 1, 0, 1 from 0";
}

TEST_F(JackStreaming, InputPortsArriveExactlyInTheInputHalves) {
    ASSERT_TRUE(WaitUntil([&] { return host_.inCaptured.load(std::memory_order_acquire) == kCaptureSamples; }))
        << "the host got " << host_.inCaptured.load() << " samples";
    EXPECT_TRUE(PeriodsMatchTags(host_.inLeft, host_.inRight, host_.probePeriodsAt, kMinPeriods));
}

TEST_F(JackStreaming, StopHaltsSwitchesAndStartResumesAtHalfZero) {
    ASSERT_TRUE(WaitUntil([&] { return host_.switches.load() >= 10; }));
    ASSERT_EQ(driver_->stop(), ASE_OK);
    long stopped = host_.switches.load(std::memory_order_acquire);
    long probeCycles = probe_.cycles.load();
    ASSERT_TRUE(WaitUntil([&] { return probe_.cycles.load() >= probeCycles + 10; }));
    EXPECT_EQ(host_.switches.load(), stopped) << "no buffer switch after stop";

    host_.expectedIndex = 0;
    ASSERT_EQ(driver_->start(), ASE_OK);
    ASSERT_TRUE(WaitUntil([&] { return host_.switches.load() >= stopped + 10; }));
    EXPECT_EQ(host_.wrongIndex.load(), 0);
}

}  // namespace
