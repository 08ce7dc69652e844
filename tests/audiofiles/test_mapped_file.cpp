#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "audiofiles/mapped_file.h"
#include "test_support.h"

namespace {

TEST(MappedFile, MapsWholeFilesAndRefusesWhatCannotBeMapped) {
    testing_support::TempDir dir;
    std::string text(70000, '\0');
    for (size_t i = 0; i < text.size(); ++i) text[i] = char(i * 7);
    testing_support::WriteFile(dir / "track.wav", text);
    testing_support::WriteFile(dir / "empty.wav", "");

    MappedFile file;
    ASSERT_TRUE(file.Open((dir / "track.wav").c_str()));
    ASSERT_EQ(file.size, text.size());
    EXPECT_EQ(std::memcmp(file.view, text.data(), text.size()), 0);
    EXPECT_STREQ(file.path, (dir / "track.wav").c_str());
    // Each refusal also releases what was open before it.
    const std::string empty = dir / "empty.wav", missing = dir / "missing.wav", folder = dir.path();
    for (const char* path : {empty.c_str(), missing.c_str(), folder.c_str(), static_cast<const char*>(nullptr)}) {
        ASSERT_TRUE(file.Open((dir / "track.wav").c_str()));
        EXPECT_FALSE(file.Open(path)) << (path ? path : "null");
        EXPECT_EQ(file.size, 0u);
        EXPECT_EQ(file.view, nullptr);
        EXPECT_EQ(file.fileHandle, -1);
        EXPECT_EQ(file.path[0], '\0');
    }
    file.Close();  // twice is harmless
}

}  // namespace
