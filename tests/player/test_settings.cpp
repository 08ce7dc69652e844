// The device number kept in the user's settings.
#include <gtest/gtest.h>

#include <filesystem>

#include "player/settings.h"
#include "test_support.h"

namespace {

using testing_support::IsolatedScope;

TEST(Settings, LoadsWhatWasSavedAndNothingElse) {
    IsolatedScope scope;
    int32_t number = -1;
    EXPECT_FALSE(LoadDeviceNumber(number));
    scope.WriteUserHive("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Marrow Lane Works\\Bellwave\\Options]\n");  // no value
    EXPECT_FALSE(LoadDeviceNumber(number));
    EXPECT_EQ(number, -1) << "left alone";

    for (int32_t saved : {2, -7}) {  // the second save finds the key
        ASSERT_TRUE(SaveDeviceNumber(saved));
        ASSERT_TRUE(LoadDeviceNumber(number));
        EXPECT_EQ(number, saved);
    }
    const std::string hive = testing_support::ReadFile(scope.registryDir() / "user.reg");
    EXPECT_NE(hive.find("Marrow Lane Works\\Bellwave\\Options]\n\"Devnum\"=dword:fffffff9"), std::string::npos) << hive;
}

// The settings file cannot be written (a folder stands in its place): the key cannot
// be made, and the number is not reported saved.
TEST(Settings, ANumberThatCannotBeKeptIsNotReportedSaved) {
    IsolatedScope scope;
    std::filesystem::create_directories(scope.registryDir() / "user.reg" / "taken");
    EXPECT_FALSE(SaveDeviceNumber(3));
    int32_t number = -1;
    EXPECT_FALSE(LoadDeviceNumber(number));
}

}  // namespace
