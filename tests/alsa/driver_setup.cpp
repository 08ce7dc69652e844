// The ALSA driver's init on devices that take different formats (or none, or are not
// there), and its answers to the host's device query.
#include <string>

#include "alsa_test_support.h"

using namespace alsa_test;
using testing_support::IsolatedScope;

namespace {

TEST(AlsaDriverInit, TakesTheFirstOf32Then16Then24InThreeBytesThenFloatOrRefuses) {
    struct Case { const char* device; ASIOSampleType type; const char* refusal; };  // every channel's type, or why not
    const Case cases[] = {
        {"bw-all", ASIOSTInt32LSB, nullptr},
        {"bw-16-24-float", ASIOSTInt16LSB, nullptr},
        {"bw-24-float", ASIOSTInt24LSB, nullptr},
        {"bw-float", ASIOSTFloat32LSB, nullptr},
        {"bw-no-such-device", 0, "ALSA device \"bw-no-such-device\" cannot be opened: No such file or directory"},
        {"bw-u8", 0, "ALSA device \"bw-u8\" takes none of S32_LE, S16_LE, S24_3LE, FLOAT_LE"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.device);
        IsolatedScope scope;
        UseAlsaDevices(scope,
                       "pcm.bw-all { type bwtest format \"FLOAT_LE,S24_3LE,S16_LE,S32_LE\" }\n"
                       "pcm.bw-16-24-float { type bwtest format \"FLOAT_LE,S24_3LE,S16_LE\" }\n"
                       "pcm.bw-24-float { type bwtest format \"FLOAT_LE,S24_3LE,S24_LE,U8\" }\n"
                       "pcm.bw-float { type bwtest format \"FLOAT_LE,S24_LE\" }\n"
                       "pcm.bw-u8 { type bwtest format \"U8,S24_LE\" }\n");
        IASIO* driver = CreateDriver(scope, c.device, 256);
        ASSERT_NE(driver, nullptr);
        ASSERT_EQ(driver->init(nullptr), c.refusal == nullptr ? ASIOTrue : ASIOFalse);
        for (long code = 0; c.refusal == nullptr && code < 4; ++code) {  // both outputs, then both inputs
            ASIOChannelInfo info{code % 2, code / 2, -1, -1, -1, ""};
            ASSERT_EQ(driver->getChannelInfo(&info), ASE_OK);
            EXPECT_EQ(info.type, c.type) << "channel code " << code;
        }
        if (c.refusal != nullptr) {  // a driver that did not start says why and refuses to start
            char message[128];
            driver->getErrorMessage(message);
            EXPECT_STREQ(message, c.refusal);
            EXPECT_EQ(driver->start(), ASE_NotPresent);
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
    driver_test::ExpectStereoAt48k(driver, 256);  // the period asked for
    long inputLatency = 0, outputLatency = 0;
    ASSERT_EQ(driver->getLatencies(&inputLatency, &outputLatency), ASE_OK);
    EXPECT_EQ(std::make_pair(inputLatency, outputLatency), std::make_pair(256L, 512L)) << "a ring of two periods";
    ASIOChannelInfo past{2, ASIOTrue, -1, -1, -1, ""};
    EXPECT_EQ(driver->getChannelInfo(&past), ASE_InvalidParameter);

    TestHost host;
    EXPECT_EQ(driver->createBuffers(host.infos, 4, 128, &host.callbacks), ASE_InvalidMode) << "not the period";
    ASSERT_EQ(host.Create(driver, 256), ASE_OK);
    EXPECT_EQ(driver->createBuffers(host.infos, 4, 256, &host.callbacks), ASE_InvalidMode) << "buffers exist";
    EXPECT_EQ(driver->disposeBuffers(), ASE_OK);
    EXPECT_EQ(driver->Release(), 0u);
    CoUninitialize();
}

}  // namespace
