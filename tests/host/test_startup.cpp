// Host start-up and shutdown on virtual devices: the driver choice, the device shapes, the
// failures, and the driver's reset request reaching the start-up window.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "host/asio_host.h"
#include "host/asio_messages.h"
#include "host/host.h"
#include "virtual_devices.h"

namespace {

using host_test::Dword;
using host_test::ExpectInOrder;
using host_test::MachineHive;
using host_test::Text;
using testing_support::IsolatedScope;

const std::string kClock = Text("Clock", "test");

std::vector<std::string> LogAfterShutdown(const IsolatedScope& scope) {
    ASIOShutdown();
    return host_test::ReadLines(scope.workDir() / "CorvaneDbg.Log");
}

// The caller's index first, then ASIOConfig.txt, then the registry's Devnum, then the only device.
TEST(StartUp, DriverChoice) {
    const struct {
        int drivers;
        const char* config;  // ASIOConfig.txt, or none
        int devnum;          // the registry's, or -1 for none
        int index;           // the caller's
        bool ok;
        int chosen;
        std::string line;
    } cases[] = {
        {3, nullptr, -1, 3, false, 3, "nRequestedDrvNum > lnumDevs!: 3"},
        {4, "2\n", -1, -1, true, 2, "Device C"},
        {1, "", -1, -1, true, 0, "Error reading configuration file!"},
        {4, "2", 1, -1, true, 1, "Got ASIO Configuration from registry!"},
        {4, "2", 1, 3, true, 3, "Device D"},
        {2, nullptr, -1, -1, false, -1, "Unable to find preferred device in either the registry or in a configuration file!"},
        {0, nullptr, -1, 0, false, 0, "Couldn't find any ASIO drivers!"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.drivers << " drivers, index " << c.index);
        IsolatedScope scope;
        std::vector<host_test::VirtualDeviceSpec> devices;
        for (int i = 0; i < c.drivers; ++i) devices.push_back({std::string("Device ") + static_cast<char>('A' + i), {kClock}});
        scope.WriteMachineHive(MachineHive(devices));
        if (c.config) testing_support::WriteFile(scope.workDir() / "ASIOConfig.txt", c.config);
        if (c.devnum >= 0)
            scope.WriteUserHive("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Marrow Lane Works\\Tamber\\Options]\n" +
                                Dword("Devnum", static_cast<unsigned>(c.devnum)) + "\n");
        int index = c.index;
        EXPECT_EQ(ASIOInit(&index, nullptr), c.ok);
        EXPECT_EQ(IsASIOInitialized(), c.ok);
        EXPECT_EQ(index, c.chosen);
        ExpectInOrder(LogAfterShutdown(scope), {c.line});
        EXPECT_FALSE(IsASIOInitialized());
    }
}

TEST(StartUp, FailuresAndDeviceShapes) {
    {
        IsolatedScope scope;
        scope.WriteMachineHive(MachineHive({{"Broken", {kClock, Text("FailInit", "No card here")}}, {"Good", {kClock}}}));
        int index = 0;
        EXPECT_FALSE(ASIOInit(&index, nullptr));
        EXPECT_FALSE(IsASIOInitialized());
        EXPECT_EQ(ASIOGetNumMonoOutputs(), 0);
        EXPECT_EQ(ASIOSetSampleRate(), 0);
        EXPECT_EQ(CreatePrimaryBuffers(6), 0);
        ExpectInOrder(LogAfterShutdown(scope), {"No card here", "ASIOBuffers Initialization failure",
                                                "Failed: ASIOGetNumMonoOutputs - ASIO system not initialized!"});
        index = 1;
        ASSERT_TRUE(ASIOInit(&index, nullptr));
        EXPECT_EQ(ASIOSetSampleRate(), 48000);
        EXPECT_FALSE(ASIOInit(&index, nullptr));  // once only until shutdown
        ASIOShutdown();
    }
    const struct {
        std::vector<std::string> values;
        int monoOutputs, created, monoAfter;
    } shapes[] = {
        {{Dword("Outputs", 8), Dword("FirstGroupOutputs", 1)}, 1, 0, 1},  // no stereo channel in the first group
        {{Dword("Outputs", 8), Dword("Inputs", 2)}, 8, 1, 2},
        {{Dword("Inputs", 0)}, 2, 0, 2},  // more outputs than inputs
    };
    for (const auto& s : shapes) {
        IsolatedScope scope;
        std::vector<std::string> values = s.values;
        values.push_back(kClock);
        scope.WriteMachineHive(MachineHive({{"Shape", values}}));
        int index = 0;
        ASSERT_TRUE(ASIOInit(&index, nullptr));
        EXPECT_EQ(NumMonoOutputs(), s.monoOutputs);
        EXPECT_EQ(CreatePrimaryBuffers(6), s.created);
        EXPECT_EQ(NumMonoOutputs(), s.monoAfter);
        ASIOShutdown();
        EXPECT_EQ(CurrentDeviceRecord(), nullptr);
    }
}

// A reset request from the driver's thread posts one message to the start-up window; none
// reaches it after shutdown. Other messages get the answers a driver acts on.
TEST(StartUp, DriverMessagesAndTheResetRequest) {
    EXPECT_EQ(asioMessage(kAsioSelectorSupported, kAsioResetRequest, nullptr, nullptr), 1);
    EXPECT_EQ(asioMessage(kAsioSelectorSupported, kAsioBufferSizeChange, nullptr, nullptr), 0);
    EXPECT_EQ(asioMessage(kAsioEngineVersion, 0, nullptr, nullptr), 2);
    EXPECT_EQ(asioMessage(kAsioBufferSizeChange, 512, nullptr, nullptr), 0);  // the driver must reset instead
    IsolatedScope scope;
    scope.WriteMachineHive(MachineHive({{"Bellwave Virtual Device", {kClock}}}));
    testing_support::RecordingWindow window;
    int index = 0;
    ASSERT_TRUE(ASIOInit(&index, &window));
    long answer = 0;
    std::thread([&] { answer = asioMessage(kAsioResetRequest, 0, nullptr, nullptr); }).join();
    EXPECT_EQ(answer, 1);
    asioMessage(kAsioResyncRequest, 0, nullptr, nullptr);
    EXPECT_EQ(window.Count(WMU_ASIO_RESET), 1);
    const std::vector<std::string> lines = LogAfterShutdown(scope);
    EXPECT_EQ(asioMessage(kAsioResetRequest, 0, nullptr, nullptr), 1);
    EXPECT_EQ(window.Messages().size(), 1u);
    ExpectInOrder(lines, {"Bellwave test window", "asioMessages: kAsioResetRequest", "Shutting down debug logging system..."});
}

}  // namespace
