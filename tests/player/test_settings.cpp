#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "player/settings.h"
#include "test_support.h"

namespace {

using testing_support::IsolatedScope;
using testing_support::ReadFile;

TEST(Settings, NothingStoredLeavesTheNumberAlone) {
    IsolatedScope scope;
    int32_t number = -1;
    EXPECT_FALSE(LoadDeviceNumber(number));
    EXPECT_EQ(number, -1);

    // The key without the value is still nothing stored.
    scope.WriteUserHive("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Marrow Lane Works\\Bellwave\\Options]\n");
    EXPECT_FALSE(LoadDeviceNumber(number));
    EXPECT_EQ(number, -1);

    // Another program's key is not ours.
    scope.WriteUserHive(
        "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Marrow Lane Works\\Tamber\\Options]\n\"Devnum\"=dword:00000003\n");
    EXPECT_FALSE(LoadDeviceNumber(number));
    EXPECT_EQ(number, -1);
}

TEST(Settings, SavedNumberLoadsBack) {
    IsolatedScope scope;
    ASSERT_TRUE(SaveDeviceNumber(2));
    int32_t number = -1;
    ASSERT_TRUE(LoadDeviceNumber(number));
    EXPECT_EQ(number, 2);
    EXPECT_NE(ReadFile(scope.registryDir() / "user.reg").find("\"Devnum\"=dword:00000002"), std::string::npos);

    // Saving again replaces the value (the key now exists), whatever the sign.
    ASSERT_TRUE(SaveDeviceNumber(-7));
    ASSERT_TRUE(LoadDeviceNumber(number));
    EXPECT_EQ(number, -7);

    // A value written by hand in the hive is read as well.
    scope.WriteUserHive(
        "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Marrow Lane Works\\Bellwave\\Options]\n\"devnum\"=dword:0000000b\n");
    ASSERT_TRUE(LoadDeviceNumber(number));
    EXPECT_EQ(number, 11);
}

TEST(Settings, StoredNumberSurvivesANewProcess) {
    IsolatedScope scope;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) _exit(SaveDeviceNumber(5) ? 0 : 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);

    int32_t number = -1;
    ASSERT_TRUE(LoadDeviceNumber(number));
    EXPECT_EQ(number, 5);
}

}  // namespace
