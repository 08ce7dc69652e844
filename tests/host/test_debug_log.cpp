#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "host/debug_log.h"
#include "test_support.h"

using testing_support::IsolatedScope;
using testing_support::ReadFile;

namespace {

std::string Log(const IsolatedScope& scope, const char* name = "CorvaneDbg.Log") {
    return ReadFile(scope.workDir() / name);
}

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
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(scope.workDir())) {
        ++files;
        EXPECT_EQ(ReadFile(entry.path()).find("run three"), std::string::npos) << entry.path();
        EXPECT_EQ(ReadFile(entry.path()).find("ancient"), std::string::npos) << entry.path();
    }
    EXPECT_EQ(files, 3u);
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
    DebugLog("");
    DebugLogClose();
    DebugLog("after close");
    DebugLogValue("after close", 1);
    const std::string date = "[A-Z][a-z]+day, [A-Z][a-z]+/[0-3][0-9]/[0-9]{4} ";
    const std::string time = "[0-2][0-9]:[0-5][0-9]:[0-6][0-9] [0-9]{3}\n";
    const std::regex whole("Corvane Debug log\r\n\r\nDate: " + date + "- Time started: " + time +
                           "\r\nTimer initialized\nsampleRate: 44100\nminSize: 64, maxSize: 2048\n"
                           "Channel: 3 - Group: -1 - name\nnegative: -2147483648\n\n"
                           "\n\nShutting down debug logging system...\nDate: " + date + "- Time: " + time);
    EXPECT_TRUE(std::regex_match(Log(scope), whole)) << Log(scope);

    char text[64];
    for (auto [h, m, s, ms, expected] : {std::tuple{0, 0, 7, 5, "00:00:07 005\n"}, {9, 5, 3, 45, "09:05:03 045\n"},
                                         {23, 59, 59, 999, "23:59:59 999\n"}}) {
        FormatDebugLogTime(h, m, s, ms, text, sizeof(text));
        EXPECT_STREQ(text, expected);
    }
    std::tm day{};
    day.tm_year = 2026 - 1900, day.tm_mon = 11, day.tm_mday = 5, day.tm_wday = 6;
    FormatDebugLogDate(day, text, sizeof(text));
    EXPECT_STREQ(text, "Saturday, December/05/2026 ");
}

TEST(DebugLog, OverLongTextsAreCutToTheirBuffers) {
    IsolatedScope scope;
    const std::string a(2000, 'a'), b(300, 'b'), c(300, 'c');
    DebugLogOpen();
    DebugLog(a.c_str());
    DebugLogValue(b.c_str(), 123456);
    DebugLogValueInline(b.c_str(), -7);
    DebugLog("");
    DebugLogPair(b.c_str(), 1, "maxSize", 2048);
    DebugLogPair("minSize", 64, c.c_str(), 2);
    DebugLogPair(b.c_str(), 10, c.c_str(), 20);
    DebugLog(nullptr);
    DebugLogClose();
    // Each line with its "\n" and terminator fills its buffer exactly; a pair's texts share
    // its buffer: a short one stays whole, two long ones get half each.
    const std::vector<std::string> expected = {std::string(1022, 'a'),
                                               std::string(158 - 8, 'b') + ": 123456",
                                               std::string(159 - 7, 'b') + ": -7 - ",
                                               std::string(254 - 18, 'b') + ": 1, maxSize: 2048",
                                               "minSize: 64, " + std::string(254 - 13 - 3, 'c') + ": 2",
                                               std::string(122, 'b') + ": 10, " + std::string(122, 'c') + ": 20",
                                               ""};
    std::vector<std::string> lines = BodyLines(Log(scope));
    lines.resize(expected.size());
    EXPECT_EQ(lines, expected);
}

TEST(DebugLog, LinesFromTwoThreadsNeverInterleave) {
    IsolatedScope scope;
    DebugLogOpen();
    constexpr int kLines = 400;
    auto writer = [](const char* name) {
        const std::string text(100, name[0]);
        for (int i = 0; i < kLines; ++i) {
            DebugLog(text.c_str());
            DebugLogValue(name, i);
            DebugLogPair(name, i, text.c_str(), -i);
        }
    };
    std::thread a(writer, "x"), b(writer, "y");
    a.join();
    b.join();
    DebugLogClose();
    const std::regex line("([xy])\\1{99}|[xy]: [0-9]+|[xy]: [0-9]+, [xy]{100}: -?[0-9]+");
    const std::vector<std::string> lines = BodyLines(Log(scope));
    ASSERT_GE(lines.size(), 6u * kLines + 1);
    for (size_t i = 0; i < 6u * kLines; ++i) ASSERT_TRUE(std::regex_match(lines[i], line)) << i << ": " << lines[i];
    EXPECT_EQ(lines[6 * kLines], "");  // then the footer
}

TEST(DebugLog, ALogThatCannotBeCreatedMakesEveryCallANoOp) {
    IsolatedScope scope;
    for (const char* name : {"CorvaneDbg.Log", "CorvaneDbg1.Log", "CorvaneDbg2.Log"}) {  // no rotation, no file
        std::filesystem::create_directory(scope.workDir() / name);
        testing_support::WriteFile(scope.workDir() / name / "keep", name);
    }
    DebugLogOpen();
    DebugLog("text");
    DebugLogValue("value", 1);
    DebugLogValueInline("inline", 2);
    DebugLogPair("a", 1, "b", 2);
    DebugLogDate();
    DebugLogTime();
    DebugLogClose();
    DebugLogClose();
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(scope.workDir()))
        names.insert(std::filesystem::relative(entry.path(), scope.workDir()).string() + "=" +
                     (entry.is_directory() ? "" : ReadFile(entry.path())));
    EXPECT_EQ(names, (std::set<std::string>{"CorvaneDbg.Log=", "CorvaneDbg.Log/keep=CorvaneDbg.Log", "CorvaneDbg1.Log=",
                                            "CorvaneDbg1.Log/keep=CorvaneDbg1.Log", "CorvaneDbg2.Log=",
                                            "CorvaneDbg2.Log/keep=CorvaneDbg2.Log"}));
}
