// A JACK server that goes away or changes its buffer size under a running driver: the
// driver asks the host for a reset, once, and stop, disposeBuffers and Release return.
// Each test runs a server of its own, so the shared one is left alone.
#include <chrono>
#include <string>

#include "jack_test_support.h"

using namespace jack_test;
using testing_support::IsolatedScope;

namespace {

class JackServerLoss : public testing::Test {
protected:
    void SetUp() override {
        if (!server_.Start()) GTEST_SKIP() << "cannot run a private JACK server (is jackd from jackd2 installed?)";
        setenv("JACK_DEFAULT_SERVER", server_.name(), 1);
        driver_ = CreateDriver(scope_, "bw-loss", false);
        ASSERT_NE(driver_, nullptr);
        ASSERT_EQ(driver_->init(nullptr), ASIOTrue);
        ASSERT_EQ(driver_->createBuffers(host_.infos, 4, 256, &host_.callbacks), ASE_OK);
        ASSERT_EQ(driver_->start(), ASE_OK);
        ASSERT_TRUE(WaitUntil([&] { return host_.switches.load() >= 5; })) << "the driver never switched";
    }
    void TearDown() override {
        if (driver_ != nullptr) driver_->Release();
        driver_ = nullptr;
        CoUninitialize();
        unsetenv("JACK_DEFAULT_SERVER");
    }

    // stop, disposeBuffers and Release each return at once, and the reference is gone.
    void TearDownPromptly() {
        auto begin = std::chrono::steady_clock::now();
        EXPECT_EQ(driver_->stop(), ASE_OK);
        EXPECT_EQ(driver_->disposeBuffers(), ASE_OK);
        EXPECT_EQ(driver_->Release(), 0u);
        driver_ = nullptr;
        EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(3));
    }

    PrivateServer server_;
    IsolatedScope scope_;
    IASIO* driver_ = nullptr;
    TestHost host_{0};
};

TEST_F(JackServerLoss, ServerGoneRequestsResetAndTeardownReturns) {
    server_.Stop();
    ASSERT_TRUE(WaitUntil([&] { return host_.resetRequests.load() > 0; })) << "no reset request";
    EXPECT_EQ(host_.resetRequests.load(), 1);
    long switches = host_.switches.load();

    // Nothing more can start on a server that has gone; the message says why.
    EXPECT_EQ(driver_->stop(), ASE_OK);
    EXPECT_EQ(driver_->start(), ASE_HWMalfunction);
    char message[128];
    driver_->getErrorMessage(message);
    EXPECT_STREQ(message, "The JACK server has gone away");
    EXPECT_EQ(host_.switches.load(), switches);
    TearDownPromptly();
}

TEST_F(JackServerLoss, BufferSizeChangeRequestsResetOnceAndStopsSwitching) {
    jack_client_t* control = OpenClient("bw-control", server_.name());
    ASSERT_NE(control, nullptr);
    ASSERT_EQ(jack_set_buffer_size(control, 512), 0);
    ASSERT_TRUE(WaitUntil([&] { return host_.resetRequests.load() > 0; })) << "no reset request";

    // Once the server runs 512-frame cycles the host's 256-frame halves are never used.
    ASSERT_TRUE(WaitUntil([&] { return jack_get_buffer_size(control) == 512; }));
    jack_nframes_t changedAt = jack_frame_time(control);
    ASSERT_TRUE(WaitUntil([&] { return jack_frame_time(control) - changedAt >= 5 * 512; }));
    long switches = host_.switches.load();
    ASSERT_TRUE(WaitUntil([&] { return jack_frame_time(control) - changedAt >= 30 * 512; }));
    EXPECT_EQ(host_.switches.load(), switches);
    EXPECT_EQ(host_.resetRequests.load(), 1) << "one request, not one per cycle";
    jack_client_close(control);
    TearDownPromptly();
    CoUninitialize();

    // The host's answer to the request: a new driver, which serves the new size.
    driver_ = CreateDriver(scope_, "bw-loss", false);
    ASSERT_NE(driver_, nullptr);
    ASSERT_EQ(driver_->init(nullptr), ASIOTrue);
    long minSize = 0, maxSize = 0, preferred = 0, granularity = 0;
    ASSERT_EQ(driver_->getBufferSize(&minSize, &maxSize, &preferred, &granularity), ASE_OK);
    EXPECT_EQ(preferred, 512);
}

}  // namespace
