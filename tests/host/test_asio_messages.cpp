#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host/asio_messages.h"
#include "host/debug_log.h"
#include "test_support.h"

using testing_support::IsolatedScope;
using testing_support::RecordingWindow;

namespace {

std::vector<std::string> LoggedLines(const IsolatedScope& scope) {
    std::string text = testing_support::ReadFile(scope.workDir() / "CorvaneDbg.Log");
    std::vector<std::string> lines;
    size_t start = text.find("Timer initialized\n");
    if (start == std::string::npos) return lines;
    std::istringstream in(text.substr(start + 18));
    for (std::string line; std::getline(in, line) && !line.empty();) lines.push_back(line);
    return lines;
}

}  // namespace

TEST(AsioMessage, EachSelectorHasItsAnswerAndLogLine) {
    IsolatedScope scope;
    DebugLogOpen();
    const struct {
        long selector, value, answer;
        const char* line;  // null: nothing logged
    } cases[] = {
        {kAsioSelectorSupported, kAsioResetRequest, 1, "asioMessages: kAsioSelectorSupported"},
        {kAsioSelectorSupported, kAsioEngineVersion, 1, "asioMessages: kAsioSelectorSupported"},
        {kAsioSelectorSupported, kAsioResyncRequest, 1, "asioMessages: kAsioSelectorSupported"},
        {kAsioSelectorSupported, kAsioLatenciesChanged, 1, "asioMessages: kAsioSelectorSupported"},
        {kAsioSelectorSupported, kAsioSupportsTimeInfo, 1, "asioMessages: kAsioSelectorSupported"},
        {kAsioSelectorSupported, kAsioSupportsTimeCode, 1, "asioMessages: kAsioSelectorSupported"},
        {kAsioSelectorSupported, kAsioSupportsInputMonitor, 1, "asioMessages: kAsioSelectorSupported"},
        {kAsioSelectorSupported, kAsioBufferSizeChange, 0, "asioMessages: kAsioSelectorSupported"},
        {kAsioSelectorSupported, kAsioOverload, 0, "asioMessages: kAsioSelectorSupported"},
        {kAsioSelectorSupported, kAsioSelectorSupported, 0, "asioMessages: kAsioSelectorSupported"},
        {kAsioEngineVersion, 0, 2, "asioMessages: kAsioEngineVersion"},
        {kAsioResyncRequest, 0, 1, "asioMessages: kAsioResyncRequest"},
        {kAsioLatenciesChanged, 0, 1, "asioMessages: kAsioLatenciesChanged"},
        {kAsioBufferSizeChange, 512, 0, nullptr},
        {kAsioSupportsTimeInfo, 0, 0, "asioMessages: kAsioSupportsTimeInfo"},
        {kAsioSupportsTimeCode, 0, 0, "asioMessages: kAsioSupportsTimeCode"},
        {kAsioSupportsInputMonitor, 0, 0, nullptr},
        {kAsioOverload, 0, 0, nullptr},
        {kAsioMMCCommand, 0, 0, nullptr},
        {0, 0, 0, nullptr},
        {12345, 0, 0, nullptr},
        {-1, 0, 0, nullptr},
    };
    std::vector<std::string> expected;
    for (const auto& c : cases) {
        EXPECT_EQ(asioMessage(c.selector, c.value, nullptr, nullptr), c.answer) << c.selector << " " << c.value;
        if (c.line) expected.push_back(c.line);
    }
    DebugLogClose();
    EXPECT_EQ(LoggedLines(scope), expected);
}

TEST(AsioMessage, ResetRequestPostsToTheStartUpWindowFromTheDriverThread) {
    IsolatedScope scope;
    DebugLogOpen();
    EXPECT_EQ(asioMessage(kAsioResetRequest, 0, nullptr, nullptr), 1);  // no window yet: answered all the same

    RecordingWindow window;
    SetResetWindow(&window);
    long answer = 0;
    std::thread driverThread([&] { answer = asioMessage(kAsioResetRequest, 0, nullptr, nullptr); });
    driverThread.join();
    EXPECT_EQ(answer, 1);
    std::vector<testing_support::RecordedMessage> posted = window.Messages();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].message, 0x800Au);
    EXPECT_EQ(posted[0].wParam, 0u);
    EXPECT_EQ(posted[0].lParam, 0);

    // Other messages post nothing; a cleared window receives nothing more.
    asioMessage(kAsioResyncRequest, 0, nullptr, nullptr);
    asioMessage(kAsioLatenciesChanged, 0, nullptr, nullptr);
    sampleRateDidChange(44100.0);
    EXPECT_EQ(window.Messages().size(), 1u);
    SetResetWindow(nullptr);
    EXPECT_EQ(asioMessage(kAsioResetRequest, 0, nullptr, nullptr), 1);
    EXPECT_EQ(window.Messages().size(), 1u);
    DebugLogClose();
    EXPECT_EQ(LoggedLines(scope),
              (std::vector<std::string>{"asioMessages: kAsioResetRequest", "asioMessages: kAsioResetRequest",
                                        "asioMessages: kAsioResyncRequest", "asioMessages: kAsioLatenciesChanged",
                                        "asioMessages: kAsioResetRequest"}));
}
