#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "audiofiles/mapped_file.h"
#include "test_support.h"

namespace {

using testing_support::TempDir;
using testing_support::WriteFile;

TEST(MappedFile, MapsTheWholeFileReadOnly) {
    TempDir dir;
    std::string text(70000, '\0');
    for (size_t i = 0; i < text.size(); ++i) text[i] = char(i * 7);
    WriteFile(dir / "track.wav", text);

    MappedFile file;
    ASSERT_TRUE(file.Open((dir / "track.wav").c_str()));
    EXPECT_EQ(file.size, text.size());
    ASSERT_NE(file.view, nullptr);
    EXPECT_EQ(std::memcmp(file.view, text.data(), text.size()), 0);
    EXPECT_STREQ(file.path, (dir / "track.wav").c_str());

    file.Close();
    EXPECT_EQ(file.size, 0u);
    EXPECT_EQ(file.view, nullptr);
    EXPECT_EQ(file.fileHandle, -1);
    file.Close();  // twice is harmless
}

TEST(MappedFile, UnmappableFilesLeaveSizeZero) {
    TempDir dir;
    WriteFile(dir / "empty.wav", "");
    MappedFile file;
    EXPECT_FALSE(file.Open((dir / "empty.wav").c_str()));
    EXPECT_EQ(file.size, 0u);
    EXPECT_EQ(file.path[0], '\0');
    EXPECT_EQ(file.fileHandle, -1);  // the file was closed again

    EXPECT_FALSE(file.Open((dir / "missing.wav").c_str()));
    EXPECT_FALSE(file.Open(dir.path().c_str()));  // a folder
    EXPECT_FALSE(file.Open(nullptr));
    EXPECT_EQ(file.size, 0u);

    // A file of exactly a bare 44-byte header maps; the reader refuses it later.
    WriteFile(dir / "header.wav", std::string(44, 'x'));
    EXPECT_TRUE(file.Open((dir / "header.wav").c_str()));
    EXPECT_EQ(file.size, 44u);
    // Opening again releases the first mapping.
    EXPECT_FALSE(file.Open((dir / "missing.wav").c_str()));
    EXPECT_EQ(file.view, nullptr);
}

}  // namespace
