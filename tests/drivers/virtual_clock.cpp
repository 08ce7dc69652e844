// The virtual device's real-time clock thread: halves in order with the loopback one switch
// behind, stop waiting for the switch in progress, and teardown that never waits for the
// next deadline. The pace itself is measured by bench/virtual_clock.
#include <atomic>

#include "small_host.h"

using namespace small_host;
using testing_support::IsolatedScope;

TEST(VirtualClock, RealTimeClockAlternatesHalvesUntilStopped) {
    IsolatedScope scope;
    // 64 samples at 48 kHz, ten times faster: a switch every 133 microseconds.
    SmallHost host(scope, {Dword("SampleType", ASIOSTInt16LSB), Dword("Speed", 10)}, false);
    ASSERT_EQ(host.driver->init(nullptr), ASIOTrue);
    ASSERT_EQ(host.CreateBuffers(2, 2, 64), ASE_OK);
    std::atomic<bool> inSwitch{false};
    std::atomic<int> wrongInput{0};
    int16_t k = 0;  // switches seen, on the clock's thread
    host.onSwitch = [&](long half) {
        inSwitch = true;
        int16_t heard;  // loopback: input 0 holds the previous switch's output 0
        std::memcpy(&heard, host.infos[2].buffers[half], 2);
        wrongInput += k > 0 && heard != k - 1;
        std::memcpy(host.infos[0].buffers[half], &k, 2);
        ++k;
        inSwitch = false;
    };
    ASSERT_EQ(host.driver->start(), ASE_OK);
    host.WaitForSwitches(40);
    ASSERT_EQ(host.driver->stop(), ASE_OK);
    EXPECT_FALSE(inSwitch);  // stop waited for the switch in progress
    const std::vector<long> halves = host.Halves();
    for (size_t n = 0; n < halves.size(); ++n) ASSERT_EQ(halves[n], static_cast<long>(n % 2)) << n;
    EXPECT_EQ(wrongInput, 0);
}

TEST(VirtualClock, TeardownNeverWaitsForTheNextDeadline) {
    // One switch every 65536 seconds: a teardown that waited for it would hang the test.
    for (int teardown = 0; teardown < 3; ++teardown) {
        IsolatedScope scope;
        SmallHost host(scope, {Dword("SampleRate", 1), Dword("BufferSize", 65536), Dword("MaxSize", 65536)}, false);
        ASSERT_EQ(host.driver->init(nullptr), ASIOTrue);
        ASSERT_EQ(host.CreateBuffers(1, 1, 65536), ASE_OK);
        ASSERT_EQ(host.driver->start(), ASE_OK);
        if (teardown < 2) {
            EXPECT_EQ(teardown == 0 ? host.driver->stop() : host.driver->disposeBuffers(), ASE_OK);
        } else {  // Release alone, with the clock running
            host.clock->Release();
            host.clock = nullptr;
            EXPECT_EQ(host.driver->Release(), 0u);
            host.driver = nullptr;
        }
        EXPECT_TRUE(host.Halves().empty());
    }
}
