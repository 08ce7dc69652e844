// The debug log when it cannot be created (a read-only or occupied working folder): every
// call is a no-op, nothing crashes and nothing in the folder is touched.
#include <gtest/gtest.h>

#include "host/debug_log.h"
#include "test_support.h"

TEST(DebugLog, ALogThatCannotBeCreatedMakesEveryCallANoOp) {
    testing_support::IsolatedScope scope;
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
    EXPECT_EQ(testing_support::ReadFile(scope.workDir() / "CorvaneDbg1.Log" / "keep"), "CorvaneDbg1.Log");
}
