// A JACK server that goes away under a running driver: the driver asks the host for a
// reset, once, and stop, disposeBuffers and Release return. One that changes its buffer
// size: the driver goes on at the host's size. Each test runs a server of its own, so
// the shared one is left alone.
#include <chrono>
#include <memory>
#include <string>

#include "jack_test_support.h"

using namespace jack_test;
using testing_support::IsolatedScope;

namespace {

class JackServerLoss : public testing::Test {
protected:
    void SetUp() override {
        if (!server_.Start()) GTEST_SKIP() << "cannot run a private JACK server (is jackd from jackd2 installed?)";
        serverName_ = std::make_unique<testing_support::EnvironmentScope>("JACK_DEFAULT_SERVER", server_.name());
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
        serverName_.reset();
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
    std::unique_ptr<testing_support::EnvironmentScope> serverName_;
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

TEST_F(JackServerLoss, BufferSizeChangesAreAbsorbedAtTheHostsSizeWithTheirLatency) {
    jack_client_t* control = OpenClient("bw-control", server_.name());
    ASSERT_NE(control, nullptr);
    long inputLatency = 0, outputLatency = 0;
    ASSERT_EQ(driver_->getLatencies(&inputLatency, &outputLatency), ASE_OK);
    EXPECT_EQ(outputLatency, 256) << "at the host's own size nothing waits in between";
    struct Step {
        jack_nframes_t period;
        long outputLatency;  // the period and what the FIFOs hold
    };
    // 1024: four switches a cycle. 128: one every second cycle, which needs 128 frames
    // in the FIFOs, and they keep them at 512.
    for (const Step step : {Step{1024, 1024}, Step{128, 128 + 128}, Step{512, 512 + 128}}) {
        SCOPED_TRACE(step.period);
        ASSERT_EQ(jack_set_buffer_size(control, step.period), 0);
        ASSERT_TRUE(WaitUntil([&] { return jack_get_buffer_size(control) == step.period; }));
        ASSERT_TRUE(WaitUntil([&] { return host_.switches.load() >= 4 * 1024 / 256; }));
        // The host's switches keep pace with the server's frames, 256 at a time.
        const jack_nframes_t from = jack_frame_time(control);
        const long switchesFrom = host_.switches.load();
        ASSERT_TRUE(WaitUntil([&] { return jack_frame_time(control) - from >= 40 * step.period; }));
        const long frames = static_cast<long>(jack_frame_time(control) - from);
        const long switched = (host_.switches.load() - switchesFrom) * 256;
        EXPECT_NEAR(switched, frames, 3 * static_cast<long>(step.period) + 512);
        ASSERT_EQ(driver_->getLatencies(&inputLatency, &outputLatency), ASE_OK);
        EXPECT_EQ(inputLatency, static_cast<long>(step.period));
        EXPECT_EQ(outputLatency, step.outputLatency);
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
