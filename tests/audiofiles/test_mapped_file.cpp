// Refusals release what was open; a file cut short under its mapping reads zeros past its new
// end and is marked, another is not (the player's tests play a cut file to its end).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "audiofiles/mapped_file.h"
#include "test_support.h"

TEST(MappedFile, RefusalsReleaseTheOpenFileAndACutFileReadsZerosPastItsEnd) {
    testing_support::TempDir dir;
    const size_t page = size_t(sysconf(_SC_PAGESIZE));
    std::string text(5 * page + 100, '\0');
    for (size_t i = 0; i < text.size(); ++i) text[i] = char(1 + i % 251);
    const std::string cutPath = dir / "cut.wav", wholePath = dir / "whole.wav", empty = dir / "empty.wav",
                      missing = dir / "missing.wav", folder = dir.path();
    testing_support::WriteFile(cutPath, text);
    testing_support::WriteFile(wholePath, text);
    testing_support::WriteFile(empty, "");

    MappedFile cut, whole;
    for (const char* path : {empty.c_str(), missing.c_str(), folder.c_str(), static_cast<const char*>(nullptr)}) {
        ASSERT_TRUE(whole.Open(wholePath.c_str()));
        EXPECT_FALSE(whole.Open(path)) << (path ? path : "null");
        EXPECT_TRUE(whole.size == 0 && whole.view == nullptr && whole.fileHandle == -1 && whole.path[0] == '\0');
    }
    ASSERT_TRUE(whole.Open(wholePath.c_str()));
    EXPECT_STREQ(whole.path, wholePath.c_str());
    ASSERT_TRUE(cut.Open(cutPath.c_str()));
    const size_t kept = page + 10;  // inside the second page
    std::filesystem::resize_file(cutPath, kept);
    const std::string read(reinterpret_cast<const char*>(cut.view), cut.size);
    EXPECT_TRUE(cut.CutShort());
    EXPECT_EQ(read, text.substr(0, kept) + std::string(text.size() - kept, '\0'));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(whole.view), whole.size), text);
    EXPECT_FALSE(whole.CutShort());
}
