// Running bellwave-cli, as built beside the tests, the way a person runs it.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "tests/support/test_support.h"

namespace cli_test {

// Runs command through the shell in the current folder: its exit status, -1 when it
// did not exit. Its standard output and standard error land in out and err when given.
inline int RunCommand(const std::string& command, std::string* out = nullptr, std::string* err = nullptr) {
    testing_support::TempDir capture;
    const std::string line = command + " >'" + (capture / "out").string() + "' 2>'" + (capture / "err").string() + "'";
    const int status = std::system(line.c_str());
    if (out != nullptr) *out = testing_support::ReadFile(capture / "out");
    if (err != nullptr) *err = testing_support::ReadFile(capture / "err");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::filesystem::path CliPath() { return testing_support::BuildDir() / "bin" / "bellwave-cli"; }

// bellwave-cli with arguments (paths quoted by the caller).
inline int RunCli(const std::string& arguments, std::string* out = nullptr, std::string* err = nullptr) {
    return RunCommand("'" + CliPath().string() + "' " + arguments, out, err);
}

}  // namespace cli_test
