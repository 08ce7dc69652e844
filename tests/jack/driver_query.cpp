// The JACK driver's init without a server, its answers to the host's device query, its
// checks of the host's requests, and the connection of its ports.
#include <chrono>
#include <cstdio>
#include <string>

#include "jack_test_support.h"

using namespace jack_test;
using testing_support::IsolatedScope;

namespace {

std::string UniqueName(const char* prefix) { return std::string(prefix) + "-" + std::to_string(getpid()); }

TEST(JackDriverInit, WithoutServerFailsAtOnceWithMessageAndRefusesEverything) {
    IsolatedScope scope;
    std::string server = UniqueName("bw-absent");
    testing_support::EnvironmentScope serverName("JACK_DEFAULT_SERVER", server.c_str());
    IASIO* driver = CreateDriver(scope, "bw-absent", true);
    ASSERT_NE(driver, nullptr);
    auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(driver->init(nullptr), ASIOFalse);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(5)) << "init must not wait for a server";
    char message[128];
    driver->getErrorMessage(message);
    EXPECT_STREQ(message, ("No JACK server is running (server \"" + server + "\")").c_str());

    long inputs = -1, outputs = -1;
    EXPECT_EQ(driver->getChannels(&inputs, &outputs), ASE_NotPresent);
    TestHost host(0);
    EXPECT_EQ(driver->createBuffers(host.infos, 4, 256, &host.callbacks), ASE_NotPresent);
    EXPECT_EQ(driver->start(), ASE_NotPresent);
    EXPECT_EQ(driver->Release(), 0u);
    CoUninitialize();
}

TEST(JackDriverInit, DeviceListShowsTheDriverWithoutAServer) {
    // The build's own registry, a server name nobody runs: listing must neither fail nor crash.
    std::string command = "env -u BELLWAVE_REGISTRY_DIR JACK_DEFAULT_SERVER=" + UniqueName("bw-absent") + " " +
                          (testing_support::BuildDir() / "bin/bellwave-cli").string() + " devices 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char line[256];
    while (std::fgets(line, sizeof line, pipe) != nullptr) output += line;
    EXPECT_EQ(pclose(pipe), 0) << output;
    EXPECT_NE(output.find(": JACK\n"), std::string::npos) << output;
}

TEST(JackDriverQuery, ReportsTheServersFormatSizeRateAndChannels) {
    if (!SharedServerAnswers()) GTEST_SKIP() << kNoServerMessage;
    IsolatedScope scope;
    IASIO* driver = CreateDriver(scope, UniqueName("bw-query"), true);
    ASSERT_NE(driver, nullptr);
    ASSERT_EQ(driver->init(nullptr), ASIOTrue);

    long inputs = 0, outputs = 0;
    ASSERT_EQ(driver->getChannels(&inputs, &outputs), ASE_OK);
    EXPECT_EQ(inputs, 2);
    EXPECT_EQ(outputs, 2);
    long minSize = 0, maxSize = 0, preferred = 0, granularity = -1;
    ASSERT_EQ(driver->getBufferSize(&minSize, &maxSize, &preferred, &granularity), ASE_OK);
    EXPECT_EQ(minSize, 256);
    EXPECT_EQ(maxSize, 256);
    EXPECT_EQ(preferred, 256);
    EXPECT_EQ(granularity, 0);
    ASIOSampleRate rate = 0;
    ASSERT_EQ(driver->getSampleRate(&rate), ASE_OK);
    EXPECT_EQ(rate, 48000.0);
    EXPECT_EQ(driver->canSampleRate(44100.0), ASE_NoClock);

    // Both outputs in the first group, as the host counts them, then the first failure.
    const char* names[2][3] = {{"out_1", "out_2", nullptr}, {"in_1", "in_2", nullptr}};
    for (int direction = 0; direction < 2; ++direction) {
        for (long channel = 0; channel < 3; ++channel) {
            ASIOChannelInfo info{channel, direction, -1, -1, -1, ""};
            if (names[direction][channel] == nullptr) {
                EXPECT_EQ(driver->getChannelInfo(&info), ASE_InvalidParameter);
                continue;
            }
            ASSERT_EQ(driver->getChannelInfo(&info), ASE_OK);
            EXPECT_EQ(info.channelGroup, 0);
            EXPECT_EQ(info.type, ASIOSTFloat32LSB);
            EXPECT_EQ(info.isActive, ASIOFalse);
            EXPECT_STREQ(info.name, names[direction][channel]);
        }
    }
    EXPECT_EQ(driver->getChannelInfo(nullptr), ASE_InvalidParameter);
    EXPECT_EQ(driver->getSampleRate(nullptr), ASE_InvalidParameter);
    EXPECT_EQ(driver->Release(), 0u);
    CoUninitialize();
}

TEST(JackDriverBuffers, RefusesBadRequestsAndMarksCreatedChannelsActive) {
    if (!SharedServerAnswers()) GTEST_SKIP() << kNoServerMessage;
    IsolatedScope scope;
    IASIO* driver = CreateDriver(scope, UniqueName("bw-buffers"), false);
    ASSERT_NE(driver, nullptr);
    ASSERT_EQ(driver->init(nullptr), ASIOTrue);
    TestHost host(0);
    EXPECT_EQ(driver->start(), ASE_InvalidMode) << "start without buffers";
    EXPECT_EQ(driver->createBuffers(host.infos, 4, 512, &host.callbacks), ASE_InvalidMode) << "not the server's size";
    EXPECT_EQ(driver->createBuffers(host.infos, 0, 256, &host.callbacks), ASE_InvalidParameter);
    EXPECT_EQ(driver->createBuffers(host.infos, 4, 256, nullptr), ASE_InvalidParameter);
    ASIOBufferInfo badChannel[1] = {{ASIOFalse, 2, {}}};
    EXPECT_EQ(driver->createBuffers(badChannel, 1, 256, &host.callbacks), ASE_InvalidParameter);
    ASIOBufferInfo twice[2] = {{ASIOTrue, 1, {}}, {ASIOTrue, 1, {}}};
    EXPECT_EQ(driver->createBuffers(twice, 2, 256, &host.callbacks), ASE_InvalidParameter);

    // Output 1 and input 0 only: those two are active, each with two zeroed halves.
    ASIOBufferInfo some[2] = {{ASIOFalse, 1, {}}, {ASIOTrue, 0, {}}};
    ASSERT_EQ(driver->createBuffers(some, 2, 256, &host.callbacks), ASE_OK);
    for (const ASIOBufferInfo& info : some) {
        ASSERT_TRUE(info.buffers[0] != nullptr && info.buffers[1] != nullptr && info.buffers[0] != info.buffers[1]);
        const auto* half = static_cast<const float*>(info.buffers[1]);
        EXPECT_EQ(std::count(half, half + 256, 0.0f), 256);
    }
    for (long code = 0; code < 4; ++code) {
        ASIOChannelInfo info{code % 2, code / 2, -1, -1, -1, ""};
        ASSERT_EQ(driver->getChannelInfo(&info), ASE_OK);
        EXPECT_EQ(info.isActive, code == 1 || code == 2 ? ASIOTrue : ASIOFalse) << "channel code " << code;
    }
    EXPECT_EQ(driver->createBuffers(host.infos, 4, 256, &host.callbacks), ASE_InvalidMode) << "buffers exist";
    EXPECT_EQ(driver->disposeBuffers(), ASE_OK);
    EXPECT_EQ(driver->disposeBuffers(), ASE_InvalidMode);
    EXPECT_EQ(driver->Release(), 0u);
    CoUninitialize();
}

TEST(JackDriverPorts, ConnectToPhysicalPortsOnlyWhenTheSettingAllows) {
    if (!SharedServerAnswers()) GTEST_SKIP() << kNoServerMessage;
    jack_client_t* observer = OpenClient(UniqueName("bw-observer"));
    ASSERT_NE(observer, nullptr);
    const char** playback = jack_get_ports(observer, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsPhysical | JackPortIsInput);
    const char** capture = jack_get_ports(observer, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsPhysical | JackPortIsOutput);
    bool enough = playback && playback[0] && playback[1] && capture && capture[0] && capture[1];
    for (bool connect : {true, false}) {
        if (!enough) break;
        IsolatedScope scope;
        std::string name = UniqueName(connect ? "bw-connect" : "bw-alone");
        IASIO* driver = CreateDriver(scope, name, connect);
        ASSERT_NE(driver, nullptr);
        ASSERT_EQ(driver->init(nullptr), ASIOTrue);
        TestHost host(0);
        ASSERT_EQ(driver->createBuffers(host.infos, 4, 256, &host.callbacks), ASE_OK);
        ASSERT_EQ(driver->start(), ASE_OK);
        auto connections = [&] {
            int count = 0;
            for (int c = 0; c < 2; ++c) {
                std::string suffix = "_" + std::to_string(c + 1);
                jack_port_t* out = jack_port_by_name(observer, (name + ":out" + suffix).c_str());
                jack_port_t* in = jack_port_by_name(observer, (name + ":in" + suffix).c_str());
                count += out != nullptr && jack_port_connected_to(out, playback[c]);
                count += in != nullptr && jack_port_connected_to(in, capture[c]);
            }
            return count;
        };
        // The server shows a new graph from one of its next cycles on: wait for it.
        WaitUntil([&] { return connections() == 4; }, connect ? 10.0 : 0.2);
        EXPECT_EQ(connections(), connect ? 4 : 0) << name;
        EXPECT_EQ(driver->stop(), ASE_OK);
        EXPECT_EQ(driver->disposeBuffers(), ASE_OK);
        EXPECT_EQ(driver->Release(), 0u);
        CoUninitialize();
    }
    jack_free(playback);
    jack_free(capture);
    jack_client_close(observer);
    if (!enough) GTEST_SKIP() << "the server has fewer than two physical ports each way";
}

}  // namespace
