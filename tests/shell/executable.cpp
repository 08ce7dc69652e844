// The bellwave executable, offscreen on the virtual device: it closes like Exit on SIGTERM
// and SIGINT (a session ending, Ctrl+C), with exit code 0 and the log completed;
// `bellwave FILE` plays the file.
#include "shell_test_support.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstring>

extern char** environ;

namespace {

using namespace shell_test;

// Starts bin/bellwave (with an argument when given) in scope's folders, waits until
// ready() holds (for up to 20 seconds), sends it quit and returns its exit status.
int RunBellwave(const char* argument, const std::function<bool()>& ready, int quit = SIGTERM) {
    const std::string program = (testing_support::BuildDir() / "bin/bellwave").string();
    char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(argument), nullptr};
    pid_t child = -1;
    EXPECT_EQ(posix_spawn(&child, program.c_str(), nullptr, nullptr, argv, environ), 0) << program;
    if (child <= 0) return -1;
    EXPECT_TRUE(QTest::qWaitFor(ready, 20000)) << "not ready in 20 seconds";
    kill(child, quit);
    int status = 0;
    if (!QTest::qWaitFor([&] { return waitpid(child, &status, WNOHANG) == child; }, 20000)) {
        kill(child, SIGKILL);  // it did not quit
        waitpid(child, &status, 0);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -100 - WTERMSIG(status);
}

TEST(Executable, QuitSignalsCloseTheWindowCleanly) {
    for (int quit : {SIGTERM, SIGINT}) {
        IsolatedScope scope;  // the child inherits the registry folder and the work folder
        scope.WriteMachineHive(host_test::MachineHive({{"Bellwave Virtual Device", {}}}));
        auto log = [&] { return host_test::ReadLines(scope.workDir() / "CorvaneDbg.Log"); };
        auto ready = [&] { return host_test::FindLine(log(), "CreatePrimaryBuffers success!") >= 0; };
        EXPECT_EQ(RunBellwave(nullptr, ready, quit), 0);
        EXPECT_EQ(host_test::FindLine(log(), "Shutting down debug logging system..."), int(log().size()) - 2)
            << host_test::Dump(log());  // then only the date line
    }
}

TEST(Executable, PlaysTheFileItIsGiven) {
    IsolatedScope scope;
    const std::string capture = (scope.workDir() / "capture.wav").string();
    const auto settings = {Text("Capture", capture), host_test::Dword("Speed", 2)};
    scope.WriteMachineHive(host_test::MachineHive({{"Bellwave Virtual Device", settings}}));
    constexpr uint32_t kFrames = 30000;
    const std::vector<int16_t> file = player_test::WriteRampWav(scope.workDir() / "ramp.wav", kFrames, 2, 48000);
    // Quit once the capture holds the file and a second more (float stereo after its header).
    std::error_code error;
    auto played = [&] { return std::filesystem::file_size(capture, error) >= 58 + (kFrames + 48000) * 8 && !error; };
    EXPECT_EQ(RunBellwave("ramp.wav", played), 0);
    // The capture holds the file's samples, as floats, one after another.
    std::string expected(file.size() * 4, '\0');
    for (size_t i = 0; i < file.size(); ++i) {
        const float sample = file[i] / 32768.0f;
        std::memcpy(&expected[i * 4], &sample, 4);
    }
    EXPECT_NE(testing_support::ReadFile(capture).find(expected), std::string::npos) << "not played exactly";
}

}  // namespace
