// Host start-up and shutdown on virtual devices: the driver choice, the device shapes
// and the log's story.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/asio_host.h"
#include "host/asio_messages.h"
#include "host/host.h"
#include "virtual_devices.h"

namespace {

using host_test::Dword;
using host_test::ExpectInOrder;
using host_test::FindLine;
using host_test::MachineHive;
using host_test::Text;
using host_test::VirtualDeviceSpec;
using testing_support::IsolatedScope;
using testing_support::WriteFile;

const std::string kClock = Text("Clock", "test");

std::vector<VirtualDeviceSpec> Devices(int count) {
    std::vector<VirtualDeviceSpec> devices;
    for (int i = 0; i < count; ++i) devices.push_back({std::string("Device ") + static_cast<char>('A' + i), {kClock}});
    return devices;
}

std::vector<std::string> LogAfterShutdown(const IsolatedScope& scope) {
    ASIOShutdown();
    return host_test::ReadLines(scope.workDir() / "CorvaneDbg.Log");
}

TEST(StartUp, DriverChoice) {
    const char* const kOnly =
        "Unable to find preferred device in either the registry or in a configuration file. Trying the only device "
        "available...";
    const struct {
        int drivers;
        const char* config;  // "ASIOConfig.txt", or none
        int devnum;          // the registry fallback, or -1 for none
        int index;           // the caller's
        bool ok;
        int chosen;
        std::vector<std::string> lines;
        std::string absent;
    } cases[] = {
        {3, nullptr, -1, 3, false, 3, {"nRequestedDrvNum: 3, Num devices: 3", "nRequestedDrvNum > lnumDevs!: 3"},
         "asioOpenDriver success!"},
        {4, "2\n", -1, -1, true, 2,
         {"Found ASIO Configuration file!", "nRequestedDrvNum: 2, Num devices: 4", "asioOpenDriver success!",
          "Total num devices found: 4", "Diver selected...", "Device C"},
         "Got ASIO Configuration from registry!"},
        {1, "", -1, -1, true, 0,
         {"Found ASIO Configuration file!", "Error reading configuration file!", "nRequestedDrvNum: -1, Num devices: 1",
          kOnly, "asioOpenDriver success!", "Device A"},
         ""},
        {4, "2", 1, -1, true, 1,
         {"Got ASIO Configuration from registry!", "nRequestedDrvNum: 1, Num devices: 4", "Device B"},
         "Found ASIO Configuration file!"},
        {4, "2", 1, 3, true, 3, {"nRequestedDrvNum: 3, Num devices: 4", "Device D"},
         "Got ASIO Configuration from registry!"},
        {2, nullptr, -1, -1, false, -1,
         {"Unable to find preferred device in either the registry or in a configuration file!"}, ""},
        {0, nullptr, -1, 0, false, 0, {"Couldn't find any ASIO drivers!"}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.drivers << " drivers, index " << c.index);
        IsolatedScope scope;
        scope.WriteMachineHive(MachineHive(Devices(c.drivers)));
        if (c.config) WriteFile(scope.workDir() / "ASIOConfig.txt", c.config);
        if (c.devnum >= 0)
            scope.WriteUserHive("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Marrow Lane Works\\Tamber\\Options]\n" +
                                Dword("Devnum", static_cast<unsigned>(c.devnum)) + "\n");
        int index = c.index;
        EXPECT_EQ(ASIOInit(&index, nullptr), c.ok);
        EXPECT_EQ(IsASIOInitialized(), c.ok);
        EXPECT_EQ(index, c.chosen);
        const std::vector<std::string> lines = LogAfterShutdown(scope);
        ExpectInOrder(lines, c.lines);
        if (!c.absent.empty()) {
            EXPECT_EQ(FindLine(lines, c.absent), -1) << c.absent;
        }
        EXPECT_FALSE(IsASIOInitialized());
    }
}

TEST(StartUp, FailuresAndTheQueriesAfterThem) {
    IsolatedScope scope;
    scope.WriteMachineHive(MachineHive({{"Broken", {kClock, Text("FailInit", "No card here")}}, {"Good", {kClock}}}));
    EXPECT_FALSE(ASIOInit(nullptr, nullptr));
    int index = 0;
    EXPECT_FALSE(ASIOInit(&index, nullptr));
    EXPECT_FALSE(IsASIOInitialized());
    // The log stays open until shutdown: the queries say why they answer 0.
    EXPECT_EQ(ASIOGetNumMonoOutputs(), 0);
    EXPECT_EQ(ASIOGetPrimaryBufferSizeSamples(), 0);
    EXPECT_EQ(ASIOSetSampleRate(), 0);
    EXPECT_EQ(CreatePrimaryBuffers(6), 0);
    ExpectInOrder(LogAfterShutdown(scope),
                  {"asioOpenDriver success!", "No card here", "ASIOBuffers Initialization failure",
                   "Failed: ASIOGetNumMonoOutputs - ASIO system not initialized!",
                   "Failed: ASIOGetPrimaryBufferSizeSamples - ASIO system not initialized!",
                   "Failed: ASIOSetSampleRate - ASIO system not initialized!"});
    index = 1;
    ASSERT_TRUE(ASIOInit(&index, nullptr));
    EXPECT_EQ(ASIOSetSampleRate(), 48000);
    EXPECT_FALSE(ASIOInit(&index, nullptr));  // once only until shutdown
    ASIOShutdown();
}

TEST(StartUp, DeviceShapesThroughTheVirtualDevicesSettings) {
    {
        // Output 0 alone in the first group: initialised, but no stereo channel.
        IsolatedScope scope;
        scope.WriteMachineHive(
            MachineHive({{"Split", {kClock, Dword("Outputs", 8), Dword("FirstGroupOutputs", 1)}}}));
        int index = 0;
        ASSERT_TRUE(ASIOInit(&index, nullptr));
        EXPECT_TRUE(IsASIOInitialized());
        EXPECT_EQ(NumMonoOutputs(), 1);
        ExpectInOrder(LogAfterShutdown(scope),
                      {"Num first group output channels: 1", "Hardware output channels: 1"});
    }
    {
        IsolatedScope scope;
        scope.WriteMachineHive(MachineHive({{"Eight", {kClock, Dword("Outputs", 8), Dword("Inputs", 2)}}}));
        int index = 0;
        ASSERT_TRUE(ASIOInit(&index, nullptr));
        EXPECT_EQ(NumMonoOutputs(), 8);
        EXPECT_EQ(CreatePrimaryBuffers(6), 1);
        EXPECT_EQ(NumMonoOutputs(), 2);
        EXPECT_EQ(NumVirtualChannels(), 1);
        EXPECT_TRUE(IsPrimaryBuffersCreated());
        EXPECT_EQ(GetWavBufSegments(), 16);
        SetWavBufSegments(2);
        EXPECT_EQ(GetWavBufSegments(), 2);
        ASSERT_NE(CurrentDeviceRecord(), nullptr);
        EXPECT_EQ(CurrentDeviceRecord()->bufferCount, 4);
        ASIOShutdown();
        EXPECT_EQ(CurrentDeviceRecord(), nullptr);
    }
    {
        IsolatedScope scope;
        scope.WriteMachineHive(MachineHive({{"Deaf", {kClock, Dword("Inputs", 0)}}}));
        int index = 0;
        ASSERT_TRUE(ASIOInit(&index, nullptr));
        EXPECT_EQ(CreatePrimaryBuffers(6), 0);
        ExpectInOrder(LogAfterShutdown(scope), {"CreatePrimaryBuffers: There were more outputs than inputs!"});
    }
}

TEST(StartUp, TheLogOfAStartAndShutdown) {
    IsolatedScope scope;
    scope.WriteMachineHive(MachineHive({{"Bellwave Virtual Device", {kClock, Dword("SampleType", 19)}}}));
    testing_support::RecordingWindow window;
    int index = 0;
    ASSERT_TRUE(ASIOInit(&index, &window));
    ASSERT_EQ(CreatePrimaryBuffers(6), 1);
    asioMessage(kAsioResetRequest, 0, nullptr, nullptr);  // the driver asks for a reset
    EXPECT_EQ(window.Count(WMU_ASIO_RESET), 1);
    const std::vector<std::string> lines = LogAfterShutdown(scope);
    asioMessage(kAsioResetRequest, 0, nullptr, nullptr);
    EXPECT_EQ(window.Count(WMU_ASIO_RESET), 1);  // no window after shutdown
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0], "Corvane Debug log");
    // What a reader looks for: the device chosen and how it was set up, the counts, the end.
    ExpectInOrder(lines, {"Corvane 3rd Edition version 1.25 w/32 bit float support",
                          "nRequestedDrvNum: 0, Num devices: 1", "asioOpenDriver success!", "Bellwave Virtual Device",
                          "Bellwave test window", "sampleRate: 48000",
                          "First group output ASIO sample type: ASIOSTFloat32LSB", "CreatePrimaryBuffers success!",
                          "Success: CreateSoundBuffer - ptrASIO->start()", "Device calls: 0, channel: 0",
                          "Dropped buffers: 0, channel: 0", "Failed buffers: 0, channel: 0",
                          "Shutting down debug logging system..."});
}

}  // namespace
