#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host/asio_messages.h"
#include "host/debug_log.h"
#include "test_support.h"

using testing_support::IsolatedScope;

namespace {

// The log's lines between "Timer initialized" and the footer.
std::vector<std::string> LoggedLines(const IsolatedScope& scope) {
    const std::string text = testing_support::ReadFile(scope.workDir() / "CorvaneDbg.Log");
    const size_t start = text.find("Timer initialized\n");
    std::istringstream in(start == std::string::npos ? "" : text.substr(start + 18));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line) && !line.empty();) lines.push_back(line);
    return lines;
}

}  // namespace

TEST(AsioMessage, EachSelectorHasItsAnswerAndLogLine) {
    IsolatedScope scope;
    DebugLogOpen();
    std::vector<std::string> expected;
    for (long value : {kAsioResetRequest, kAsioEngineVersion, kAsioResyncRequest, kAsioLatenciesChanged,
                       kAsioSupportsTimeInfo, kAsioSupportsTimeCode, kAsioSupportsInputMonitor, kAsioBufferSizeChange,
                       kAsioOverload, kAsioSelectorSupported}) {
        const long answer = value == kAsioBufferSizeChange || value == kAsioOverload || value == kAsioSelectorSupported ? 0 : 1;
        EXPECT_EQ(asioMessage(kAsioSelectorSupported, value, nullptr, nullptr), answer) << value;
        expected.push_back("asioMessages: kAsioSelectorSupported");
    }
    const struct {
        long selector, answer;
        const char* line;  // null: nothing logged
    } cases[] = {{kAsioEngineVersion, 2, "asioMessages: kAsioEngineVersion"},
                 {kAsioResyncRequest, 1, "asioMessages: kAsioResyncRequest"},
                 {kAsioLatenciesChanged, 1, "asioMessages: kAsioLatenciesChanged"},
                 {kAsioSupportsTimeInfo, 0, "asioMessages: kAsioSupportsTimeInfo"},
                 {kAsioSupportsTimeCode, 0, "asioMessages: kAsioSupportsTimeCode"},
                 {kAsioBufferSizeChange, 0, nullptr}, {kAsioSupportsInputMonitor, 0, nullptr}, {kAsioOverload, 0, nullptr},
                 {kAsioMMCCommand, 0, nullptr}, {0, 0, nullptr}, {12345, 0, nullptr}, {-1, 0, nullptr}};
    for (const auto& c : cases) {
        EXPECT_EQ(asioMessage(c.selector, 512, nullptr, nullptr), c.answer) << c.selector;
        if (c.line) expected.push_back(c.line);
    }
    DebugLogClose();
    EXPECT_EQ(LoggedLines(scope), expected);
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
    EXPECT_EQ(LoggedLines(scope),
              (std::vector<std::string>{"asioMessages: kAsioResetRequest", "asioMessages: kAsioResetRequest",
                                        "asioMessages: kAsioResyncRequest", "asioMessages: kAsioResetRequest"}));
}
