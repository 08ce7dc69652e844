#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
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
    size_t start = text.find("Timer initialized\n");
    if (start == std::string::npos) return lines;
    std::istringstream in(text.substr(start + 18));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

}  // namespace

TEST(DebugLog, ThreeOpeningsRotateIntoThreeFiles) {
    IsolatedScope scope;
    testing_support::WriteFile(scope.workDir() / "CorvaneDbg2.Log", "ancient\n");
    for (const char* run : {"run one", "run two", "run three", "run four"}) {
        DebugLogOpen();
        DebugLog(run);
        DebugLogClose();
    }
    EXPECT_NE(Log(scope).find("run four"), std::string::npos);
    EXPECT_NE(Log(scope, "CorvaneDbg1.Log").find("run three"), std::string::npos);
    EXPECT_NE(Log(scope, "CorvaneDbg2.Log").find("run two"), std::string::npos);
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(scope.workDir())) {
        ++files;
        EXPECT_EQ(ReadFile(entry.path()).find("run one"), std::string::npos) << entry.path();
        EXPECT_EQ(ReadFile(entry.path()).find("ancient"), std::string::npos) << entry.path();
    }
    EXPECT_EQ(files, 3u);

    // Opened again without a close: the first run is finished and rotated, not lost.
    DebugLogOpen();
    DebugLog("unclosed");
    DebugLogOpen();
    DebugLog("reopened");
    DebugLogClose();
    EXPECT_NE(Log(scope, "CorvaneDbg1.Log").find("unclosed\n"), std::string::npos);
    EXPECT_NE(Log(scope).find("reopened\n"), std::string::npos);
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

    std::string text = Log(scope);
    const std::string date = "[A-Z][a-z]+day, [A-Z][a-z]+/[0-3][0-9]/[0-9]{4} ";
    const std::string time = "[0-2][0-9]:[0-5][0-9]:[0-6][0-9] [0-9]{3}\n";
    std::regex whole("Corvane Debug log\r\n\r\nDate: " + date + "- Time started: " + time +
                     "\r\nTimer initialized\n"
                     "sampleRate: 44100\n"
                     "minSize: 64, maxSize: 2048\n"
                     "Channel: 3 - Group: -1 - name\n"
                     "negative: -2147483648\n"
                     "\n"
                     "\n\nShutting down debug logging system...\nDate: " +
                     date + "- Time: " + time);
    EXPECT_TRUE(std::regex_match(text, whole)) << text;

    char formatted[64];
    FormatDebugLogTime(0, 0, 7, 5, formatted, sizeof(formatted));
    EXPECT_STREQ(formatted, "00:00:07 005\n");
    FormatDebugLogTime(9, 5, 3, 45, formatted, sizeof(formatted));
    EXPECT_STREQ(formatted, "09:05:03 045\n");
    FormatDebugLogTime(23, 59, 59, 999, formatted, sizeof(formatted));
    EXPECT_STREQ(formatted, "23:59:59 999\n");
    std::tm day{};
    day.tm_year = 2026 - 1900;
    day.tm_mon = 11;
    day.tm_mday = 5;
    day.tm_wday = 6;
    FormatDebugLogDate(day, formatted, sizeof(formatted));
    EXPECT_STREQ(formatted, "Saturday, December/05/2026 ");
}

TEST(DebugLog, OverLongTextsAreCutToTheirBuffers) {
    IsolatedScope scope;
    const std::string longA(2000, 'a'), longB(300, 'b'), longC(300, 'c');
    DebugLogOpen();
    DebugLog(longA.c_str());
    DebugLogValue(longB.c_str(), 123456);
    DebugLogValueInline(longB.c_str(), -7);
    DebugLog("");
    DebugLogPair(longB.c_str(), 1, "maxSize", 2048);
    DebugLogPair("minSize", 64, longC.c_str(), 2);
    DebugLogPair(longB.c_str(), 10, longC.c_str(), 20);
    DebugLog(nullptr);
    DebugLogClose();

    std::vector<std::string> lines = BodyLines(Log(scope));
    ASSERT_GE(lines.size(), 7u);
    // Each line with its "\n" and terminator fills its buffer exactly.
    EXPECT_EQ(lines[0], std::string(1022, 'a'));
    EXPECT_EQ(lines[1], std::string(158 - 8, 'b') + ": 123456");
    EXPECT_EQ(lines[2], std::string(159 - 7, 'b') + ": -7 - ");
    // A pair's texts share its buffer: a short one stays whole, two long ones get half each.
    EXPECT_EQ(lines[3], std::string(254 - 18, 'b') + ": 1, maxSize: 2048");
    EXPECT_EQ(lines[4], "minSize: 64, " + std::string(254 - 13 - 3, 'c') + ": 2");
    EXPECT_EQ(lines[5], std::string(122, 'b') + ": 10, " + std::string(122, 'c') + ": 20");
    EXPECT_EQ(lines[5].size(), 254u);
    EXPECT_EQ(lines[6], "");
}

TEST(DebugLog, LinesFromTwoThreadsNeverInterleave) {
    IsolatedScope scope;
    DebugLogOpen();
    constexpr int kLines = 400;
    auto writer = [](const char* name) {
        std::string text(100, name[0]);
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

    std::regex line("([xy])\\1{99}|[xy]: [0-9]+|[xy]: [0-9]+, [xy]{100}: -?[0-9]+");
    std::vector<std::string> lines = BodyLines(Log(scope));
    ASSERT_GE(lines.size(), 6u * kLines);
    int matched = 0;
    for (size_t i = 0; i < 6u * kLines; ++i) matched += std::regex_match(lines[i], line);
    EXPECT_EQ(matched, 6 * kLines);
    EXPECT_EQ(lines[6 * kLines], "");  // then the footer
}

TEST(DebugLog, ALogThatCannotBeCreatedMakesEveryCallANoOp) {
    IsolatedScope scope;
    // Occupied by non-empty folders: no rotation, no file.
    for (const char* name : {"CorvaneDbg.Log", "CorvaneDbg1.Log", "CorvaneDbg2.Log"}) {
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
        names.insert(std::filesystem::relative(entry.path(), scope.workDir()).string());
    EXPECT_EQ(names, (std::set<std::string>{"CorvaneDbg.Log", "CorvaneDbg.Log/keep", "CorvaneDbg1.Log",
                                            "CorvaneDbg1.Log/keep", "CorvaneDbg2.Log", "CorvaneDbg2.Log/keep"}));
    EXPECT_EQ(ReadFile(scope.workDir() / "CorvaneDbg.Log" / "keep"), "CorvaneDbg.Log");
}
