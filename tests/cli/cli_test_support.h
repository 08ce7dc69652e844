// Running bellwave-cli, as built beside the tests, the way a person runs it.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "tests/support/test_support.h"

namespace cli_test {

// Runs command through the shell in the current folder: its exit status (-1: it did not exit), its output in out and err.
inline int RunCommand(const std::string& command, std::string* out = nullptr, std::string* err = nullptr) {
    testing_support::TempDir capture;
    const std::string line = command + " >'" + (capture / "out").string() + "' 2>'" + (capture / "err").string() + "'";
    const int status = std::system(line.c_str());
    if (out != nullptr) *out = testing_support::ReadFile(capture / "out");
    if (err != nullptr) *err = testing_support::ReadFile(capture / "err");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::filesystem::path CliPath() { return testing_support::BuildDir() / "bin" / "bellwave-cli"; }

inline int RunCli(const std::string& arguments, std::string* out = nullptr, std::string* err = nullptr) {
    return RunCommand("'" + CliPath().string() + "' " + arguments, out, err);
}

}  // namespace cli_test
