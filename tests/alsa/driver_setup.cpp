// The ALSA driver's registration, its refusal of a device that is not there or takes
// none of its formats, the format it settles on, its answers to the host's device query
// and its checks of the host's requests.
#include <cctype>
#include <string>
#include <utility>

#include "alsa_test_support.h"

using namespace alsa_test;
using testing_support::IsolatedScope;

namespace {

TEST(AlsaDriverRegistration, BuildHiveNamesTheLibraryAndDefaultSettings) {
    std::string hive = testing_support::ReadFile(testing_support::BuildDir() / "share/bellwave/machine.reg");
    char clsid[40];
    StringFromCLSID(CLSID_AlsaDriver, clsid);
    std::string lower = clsid;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));

    size_t key = hive.find("[HKEY_LOCAL_MACHINE\\software\\asio\\ALSA]");
    ASSERT_NE(key, std::string::npos) << hive;
    std::string section = hive.substr(key, hive.find("\n[", key + 1) - key);
    EXPECT_NE(section.find("\"clsid\"=\"" + lower + "\""), std::string::npos) << section;
    EXPECT_NE(section.find("\"Device\"=\"default\""), std::string::npos) << section;
    EXPECT_NE(section.find("\"BufferSize\"=dword:00000200"), std::string::npos) << section;
    EXPECT_NE(hive.find("[HKEY_CLASSES_ROOT\\clsid\\" + lower + "\\InprocServer32]\n@=\"" ALSA_DRIVER_PATH "\""),
              std::string::npos)
        << hive;
}

TEST(AlsaDriverInit, RefusesMissingDevicesAndDevicesWithoutOurFormats) {
    const std::pair<const char*, const char*> cases[] = {
        {"bw-no-such-device", "ALSA device \"bw-no-such-device\" cannot be opened: No such file or directory"},
        {"bw-u8", "ALSA device \"bw-u8\" takes none of S32_LE, S16_LE, S24_3LE, FLOAT_LE"},
    };
    for (const auto& [device, expected] : cases) {
        IsolatedScope scope;
        UseAlsaDevices(scope, "pcm.bw-u8 { type bwtest format \"U8,S24_LE\" }\n");
        IASIO* driver = CreateDriver(scope, device, 256);
        ASSERT_NE(driver, nullptr);
        EXPECT_EQ(driver->init(nullptr), ASIOFalse) << device;
        char message[128];
        driver->getErrorMessage(message);
        EXPECT_STREQ(message, expected);

        // A driver that did not start refuses everything else, and goes cleanly.
        long inputs = -1, outputs = -1;
        EXPECT_EQ(driver->getChannels(&inputs, &outputs), ASE_NotPresent);
        TestHost host;
        EXPECT_EQ(driver->createBuffers(host.infos, 4, 256, &host.callbacks), ASE_NotPresent);
        EXPECT_EQ(driver->start(), ASE_NotPresent);
        EXPECT_EQ(driver->Release(), 0u);
        CoUninitialize();
    }
}

TEST(AlsaDriverFormats, TakesTheFirstOf32Then16Then24InThreeBytesThenFloat) {
    const std::pair<const char*, ASIOSampleType> cases[] = {
        {"null", ASIOSTInt32LSB},  // takes every format
        {"bw-all", ASIOSTInt32LSB},
        {"bw-16-24-float", ASIOSTInt16LSB},
        {"bw-24-float", ASIOSTInt24LSB},
        {"bw-float", ASIOSTFloat32LSB},
        {"bw-float-only", ASIOSTFloat32LSB},  // ALSA's own float-only converter
    };
    for (const auto& [device, type] : cases) {
        IsolatedScope scope;
        UseAlsaDevices(scope,
                       "pcm.bw-all { type bwtest format \"FLOAT_LE,S24_3LE,S16_LE,S32_LE\" }\n"
                       "pcm.bw-16-24-float { type bwtest format \"FLOAT_LE,S24_3LE,S16_LE\" }\n"
                       "pcm.bw-24-float { type bwtest format \"FLOAT_LE,S24_3LE,S24_LE,U8\" }\n"
                       "pcm.bw-float { type bwtest format \"FLOAT_LE,S24_LE\" }\n"
                       "pcm.bw-float-only { type lfloat slave { pcm \"null\" format S32_LE } }\n");
        IASIO* driver = CreateDriver(scope, device, 256);
        ASSERT_NE(driver, nullptr);
        ASSERT_EQ(driver->init(nullptr), ASIOTrue) << device;
        for (long code = 0; code < 4; ++code) {  // both outputs, then both inputs
            ASIOChannelInfo info{code % 2, code / 2, -1, -1, -1, ""};
            ASSERT_EQ(driver->getChannelInfo(&info), ASE_OK) << device;
            EXPECT_EQ(info.type, type) << device << " channel code " << code;
            EXPECT_EQ(info.channelGroup, 0);
        }
        EXPECT_EQ(driver->Release(), 0u);
        CoUninitialize();
    }
}

TEST(AlsaDriverQuery, ReportsThePeriodRateChannelsAndChecksRequests) {
    IsolatedScope scope;
    IASIO* driver = CreateDriver(scope, "null", 256);
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
    EXPECT_EQ(driver->canSampleRate(48000.0), ASE_OK);
    EXPECT_EQ(driver->canSampleRate(44100.0), ASE_NoClock);
    long inputLatency = 0, outputLatency = 0;
    ASSERT_EQ(driver->getLatencies(&inputLatency, &outputLatency), ASE_OK);
    EXPECT_EQ(inputLatency, 256);
    EXPECT_EQ(outputLatency, 512) << "a ring of two periods";
    ASIOChannelInfo past{2, ASIOTrue, -1, -1, -1, ""};
    EXPECT_EQ(driver->getChannelInfo(&past), ASE_InvalidParameter);
    EXPECT_EQ(driver->getChannelInfo(nullptr), ASE_InvalidParameter);

    TestHost host;
    EXPECT_EQ(driver->start(), ASE_InvalidMode) << "start without buffers";
    EXPECT_EQ(driver->createBuffers(host.infos, 4, 128, &host.callbacks), ASE_InvalidMode) << "not the period";
    EXPECT_EQ(driver->createBuffers(host.infos, 0, 256, &host.callbacks), ASE_InvalidParameter);
    EXPECT_EQ(driver->createBuffers(host.infos, 5, 256, &host.callbacks), ASE_InvalidParameter);
    EXPECT_EQ(driver->createBuffers(host.infos, 4, 256, nullptr), ASE_InvalidParameter);
    ASIOBufferInfo badChannel[1] = {{ASIOTrue, 2, {}}};
    EXPECT_EQ(driver->createBuffers(badChannel, 1, 256, &host.callbacks), ASE_InvalidParameter);
    ASIOBufferInfo twice[2] = {{ASIOFalse, 0, {}}, {ASIOFalse, 0, {}}};
    EXPECT_EQ(driver->createBuffers(twice, 2, 256, &host.callbacks), ASE_InvalidParameter);
    ASSERT_EQ(host.Create(driver, 256), ASE_OK);
    ASIOChannelInfo active{1, ASIOTrue, -1, -1, -1, ""};
    ASSERT_EQ(driver->getChannelInfo(&active), ASE_OK);
    EXPECT_EQ(active.isActive, ASIOTrue);
    EXPECT_EQ(driver->createBuffers(host.infos, 4, 256, &host.callbacks), ASE_InvalidMode) << "buffers exist";
    EXPECT_EQ(driver->disposeBuffers(), ASE_OK);
    EXPECT_EQ(driver->disposeBuffers(), ASE_InvalidMode);
    EXPECT_EQ(driver->Release(), 0u);
    CoUninitialize();
}

}  // namespace
