// `bellwave-cli tone`, the user's check of a device: run as a program against a
// virtual device that captures its outputs, then the capture is read back.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>

#include "tests/cli/cli_test_support.h"
#include "tests/host/virtual_devices.h"

namespace {

using cli_test::RunCli;

TEST(ToneCommand, PlaysTheToneWithoutGapsAndRefusesBadRequests) {
    testing_support::IsolatedScope scope;
    const std::string capture = (scope.workDir() / "capture.wav").string();
    scope.WriteMachineHive(host_test::MachineHive({{"Bellwave Virtual Device", {host_test::Text("Capture", capture)}}}));
    EXPECT_EQ(RunCli("tone --device 'Bellwave Virtual Device' --seconds 0.5 --freq 997"), 0);

    const std::string wav = testing_support::ReadFile(capture);
    const size_t at = wav.find("data", 12);  // the device writes no other chunk that holds these letters
    ASSERT_NE(at, std::string::npos);
    std::vector<float> samples((wav.size() - at - 8) / 4);
    std::memcpy(samples.data(), wav.data() + at + 8, samples.size() * 4);
    size_t start = 0;  // the first frame is sin(0): the tone starts one frame before the first non-zero one
    while (start < samples.size() && samples[start] == 0.0f) start += 2;
    ASSERT_GT(start, 0u);
    start -= 2;
    const size_t frames = 24000;
    ASSERT_GE(samples.size(), start + 2 * frames);
    for (size_t k = 0; k < frames; ++k) {
        const double want = std::lround(0.5 * 32767.0 * std::sin(2.0 * std::numbers::pi * 997.0 * k / 48000.0)) / 32768.0;
        ASSERT_NEAR(samples[start + 2 * k], want, 1.0 / 32768.0) << "frame " << k;
        ASSERT_EQ(samples[start + 2 * k + 1], samples[start + 2 * k]) << "frame " << k;
    }
    host_test::ExpectInOrder(host_test::ReadLines(scope.workDir() / "CorvaneDbg.Log"),
                             {"Dropped buffers: 0, channel: 0", "Failed buffers: 0, channel: 0"});

    const struct { const char* arguments; int status; } runs[] = {
        {"--device 0 --seconds 0.1", 0},  // by id
        {"--seconds 0.1", 0},             // the only device
        {"--device 'No such device' --seconds 1", 1},
        {"--device 5 --seconds 1", 1},
        {"--device 0", 2},
        {"--device 0 --seconds", 2},  // an option with no value
        {"--device 0 --seconds x", 2},
        {"--freq 440", 2},
    };
    for (const auto& run : runs) EXPECT_EQ(RunCli(std::string("tone ") + run.arguments), run.status) << run.arguments;
}

}  // namespace
