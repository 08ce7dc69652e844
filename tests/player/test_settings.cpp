#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

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

TEST(Settings, StoredNumberSurvivesANewProcess) {
    IsolatedScope scope;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) _exit(SaveDeviceNumber(5) ? 0 : 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    int32_t number = -1;
    ASSERT_TRUE(LoadDeviceNumber(number));
    EXPECT_EQ(number, 5);
}

}  // namespace
