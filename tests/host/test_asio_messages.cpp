#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

#include "host/asio_messages.h"
#include "host/debug_log.h"
#include "test_support.h"

using testing_support::IsolatedScope;

// What a driver asks before relying on a message, and the answers it acts on.
TEST(AsioMessage, AnswersWhatDriversAsk) {
    using Selectors = std::initializer_list<long>;
    for (long value : Selectors{kAsioResetRequest, kAsioEngineVersion, kAsioResyncRequest, kAsioLatenciesChanged,
                                kAsioSupportsTimeInfo, kAsioSupportsTimeCode, kAsioSupportsInputMonitor})
        EXPECT_EQ(asioMessage(kAsioSelectorSupported, value, nullptr, nullptr), 1) << value;
    for (long value : Selectors{kAsioBufferSizeChange, kAsioOverload, kAsioSelectorSupported, kAsioMMCCommand, 12345})
        EXPECT_EQ(asioMessage(kAsioSelectorSupported, value, nullptr, nullptr), 0) << value;
    EXPECT_EQ(asioMessage(kAsioEngineVersion, 0, nullptr, nullptr), 2);
    EXPECT_EQ(asioMessage(kAsioResyncRequest, 0, nullptr, nullptr), 1);
    EXPECT_EQ(asioMessage(kAsioLatenciesChanged, 0, nullptr, nullptr), 1);
    // No time info or time code, and a new buffer size is refused: the driver must reset instead.
    for (long selector : Selectors{kAsioSupportsTimeInfo, kAsioSupportsTimeCode, kAsioSupportsInputMonitor,
                                   kAsioBufferSizeChange, kAsioOverload, kAsioMMCCommand, 0, -1})
        EXPECT_EQ(asioMessage(selector, 512, nullptr, nullptr), 0) << selector;
}

TEST(AsioMessage, ResetRequestPostsToTheStartUpWindowFromTheDriverThread) {
    IsolatedScope scope;
    DebugLogOpen();
    EXPECT_EQ(asioMessage(kAsioResetRequest, 0, nullptr, nullptr), 1);  // no window yet: answered all the same
    testing_support::RecordingWindow window;
    SetResetWindow(&window);
    long answer = 0;
    std::thread([&] { answer = asioMessage(kAsioResetRequest, 0, nullptr, nullptr); }).join();
    EXPECT_EQ(answer, 1);
    // Other messages post nothing; a cleared window receives nothing more.
    asioMessage(kAsioResyncRequest, 0, nullptr, nullptr);
    sampleRateDidChange(44100.0);
    SetResetWindow(nullptr);
    EXPECT_EQ(asioMessage(kAsioResetRequest, 0, nullptr, nullptr), 1);
    const std::vector<testing_support::RecordedMessage> posted = window.Messages();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_TRUE(posted[0].message == 0x800Au && posted[0].wParam == 0u && posted[0].lParam == 0);
    DebugLogClose();
    // The log shows each reset a driver asked for.
    const std::string log = testing_support::ReadFile(scope.workDir() / "CorvaneDbg.Log");
    size_t resets = 0;
    for (size_t at = log.find("asioMessages: kAsioResetRequest\n"); at != std::string::npos;
         at = log.find("asioMessages: kAsioResetRequest\n", at + 1))
        ++resets;
    EXPECT_EQ(resets, 3u);
}
