#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
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

// Another process cuts the file short while it is mapped: what is read past the new end
// is zeros (no SIGBUS), and the mapping says so. A file that stays whole is not marked.
TEST(MappedFile, AFileCutShortUnderTheMappingReadsZerosPastItsNewEnd) {
    testing_support::TempDir dir;
    const size_t page = size_t(sysconf(_SC_PAGESIZE));
    std::string text(5 * page + 100, '\0');
    for (size_t i = 0; i < text.size(); ++i) text[i] = char(1 + i % 251);
    testing_support::WriteFile(dir / "cut.wav", text);
    testing_support::WriteFile(dir / "whole.wav", text);

    MappedFile cut, whole;
    ASSERT_TRUE(cut.Open((dir / "cut.wav").c_str()));
    ASSERT_TRUE(whole.Open((dir / "whole.wav").c_str()));
    EXPECT_EQ(cut.view[0], 1);
    const size_t kept = page + 10;  // inside the second page
    std::filesystem::resize_file(dir / "cut.wav", kept);

    const std::string read(reinterpret_cast<const char*>(cut.view), cut.size);
    EXPECT_TRUE(cut.CutShort());
    EXPECT_EQ(read.substr(0, kept), text.substr(0, kept));
    EXPECT_EQ(read.substr(kept), std::string(text.size() - kept, '\0'));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(whole.view), whole.size), text);
    EXPECT_FALSE(whole.CutShort());

    // A bus error outside every mapped file still ends the program.
    EXPECT_DEATH(
        {
            testing_support::WriteFile(dir / "other.wav", text);
            const int fd = open((dir / "other.wav").c_str(), O_RDONLY);
            void* mapped = mmap(nullptr, text.size(), PROT_READ, MAP_PRIVATE, fd, 0);
            const auto* bytes = static_cast<const volatile uint8_t*>(mapped);
            std::filesystem::resize_file(dir / "other.wav", 0);
            std::printf("%d\n", bytes[3 * page]);
        },
        "");
}

}  // namespace
