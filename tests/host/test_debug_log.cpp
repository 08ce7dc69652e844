// The debug log: its rotation, its line formats, texts cut to their buffers, lines from
// two threads, and a log that cannot be created.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host/debug_log.h"
#include "test_support.h"

using testing_support::IsolatedScope;
using testing_support::ReadFile;

namespace {

std::string Log(const IsolatedScope& scope, const char* name = "CorvaneDbg.Log") { return ReadFile(scope.workDir() / name); }

// The lines after the header and "Timer initialized".
std::vector<std::string> BodyLines(const std::string& text) {
    std::vector<std::string> lines;
    const size_t start = text.find("Timer initialized\n");
    std::istringstream in(start == std::string::npos ? "" : text.substr(start + 18));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

}  // namespace

TEST(DebugLog, OpeningsRotateIntoThreeFiles) {
    IsolatedScope scope;
    testing_support::WriteFile(scope.workDir() / "CorvaneDbg2.Log", "ancient\n");
    // The last opening comes without a close before it: that run is finished and rotated.
    for (const std::string run : {"run one", "run two", "run three", "run four", "unclosed", "reopened"}) {
        DebugLogOpen();
        DebugLog(run.c_str());
        if (run != "unclosed") DebugLogClose();
    }
    EXPECT_NE(Log(scope).find("reopened\n"), std::string::npos);
    EXPECT_NE(Log(scope, "CorvaneDbg1.Log").find("unclosed\n"), std::string::npos);
    EXPECT_NE(Log(scope, "CorvaneDbg2.Log").find("run four"), std::string::npos);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scope.workDir()), {}), 3);
}

TEST(DebugLog, HeaderLinesAndFooterHaveTheirFormats) {
    IsolatedScope scope;
    DebugLogOpen();
    DebugLogValue("sampleRate", 44100);
    DebugLogPair("minSize", 64, "maxSize", 2048);
    DebugLogValueInline("Channel", 3);
    DebugLogValueInline("Group", -1);
    DebugLog("name");
    DebugLogValue("negative", -2147483647 - 1);
    DebugLogClose();
    DebugLog("after close");
    const std::string date = "[A-Z][a-z]+day, [A-Z][a-z]+/[0-3][0-9]/[0-9]{4} ";
    const std::string time = "[0-2][0-9]:[0-5][0-9]:[0-6][0-9] [0-9]{3}\n";
    const std::regex whole("Corvane Debug log\r\n\r\nDate: " + date + "- Time started: " + time +
                           "\r\nTimer initialized\nsampleRate: 44100\nminSize: 64, maxSize: 2048\n"
                           "Channel: 3 - Group: -1 - name\nnegative: -2147483648\n"
                           "\n\nShutting down debug logging system...\nDate: " + date + "- Time: " + time);
    EXPECT_TRUE(std::regex_match(Log(scope), whole)) << Log(scope);
    char text[64];
    FormatDebugLogTime(9, 5, 3, 45, text, sizeof(text));  // zeros padded in
    EXPECT_STREQ(text, "09:05:03 045\n");
}

// Each line with its "\n" and terminator fills its buffer at most; a pair's two long texts
// get half of it each.
TEST(DebugLog, OverLongTextsAreCutToTheirBuffers) {
    IsolatedScope scope;
    const std::string a(2000, 'a'), b(300, 'b'), c(300, 'c');
    DebugLogOpen();
    DebugLog(a.c_str());
    DebugLogValue(b.c_str(), 123456);
    DebugLogPair(b.c_str(), 10, c.c_str(), 20);
    DebugLog(nullptr);
    DebugLogClose();
    std::vector<std::string> lines = BodyLines(Log(scope));
    lines.resize(4);
    EXPECT_EQ(lines, (std::vector<std::string>{std::string(1022, 'a'), std::string(150, 'b') + ": 123456",
                                                std::string(122, 'b') + ": 10, " + std::string(122, 'c') + ": 20", ""}));
}

TEST(DebugLog, LinesFromTwoThreadsNeverInterleave) {
    IsolatedScope scope;
    DebugLogOpen();
    constexpr int kLines = 400;
    auto writer = [](const char* name) {
        const std::string text(100, name[0]);
        for (int i = 0; i < kLines; ++i) {
            DebugLog(text.c_str());
            DebugLogPair(name, i, text.c_str(), -i);
        }
    };
    std::thread a(writer, "x"), b(writer, "y");
    a.join();
    b.join();
    DebugLogClose();
    const std::regex line("([xy])\\1{99}|[xy]: [0-9]+, [xy]{100}: -?[0-9]+");
    const std::vector<std::string> lines = BodyLines(Log(scope));
    ASSERT_GE(lines.size(), 4u * kLines + 1);
    for (size_t i = 0; i < 4u * kLines; ++i) ASSERT_TRUE(std::regex_match(lines[i], line)) << i << ": " << lines[i];
    EXPECT_EQ(lines[4 * kLines], "");  // then the footer
}

TEST(DebugLog, ALogThatCannotBeCreatedMakesEveryCallANoOp) {
    IsolatedScope scope;
    for (const char* name : {"CorvaneDbg.Log", "CorvaneDbg1.Log", "CorvaneDbg2.Log"}) {  // no rotation, no file
        std::filesystem::create_directory(scope.workDir() / name);
        testing_support::WriteFile(scope.workDir() / name / "keep", name);
    }
    DebugLogOpen();
    DebugLog("text");
    DebugLogPair("a", 1, "b", 2);
    DebugLogDate();
    DebugLogClose();
    DebugLogClose();
    EXPECT_EQ(std::distance(std::filesystem::recursive_directory_iterator(scope.workDir()), {}), 6);
    EXPECT_EQ(ReadFile(scope.workDir() / "CorvaneDbg1.Log" / "keep"), "CorvaneDbg1.Log");
}
