// The bellwave executable itself, started offscreen on the virtual device: it closes
// like Exit on SIGTERM and SIGINT (a session ending, Ctrl+C in a terminal): exit code
// 0, the device stopped and the log completed. `bellwave FILE` plays the file.
#include "shell_test_support.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstring>
#include <thread>

extern char** environ;

namespace {

using namespace shell_test;

// Polls the work folder's log until it holds line, for up to 20 seconds.
bool WaitForLogLine(const IsolatedScope& scope, const std::string& line) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        if (host_test::FindLine(host_test::ReadLines(scope.workDir() / "CorvaneDbg.Log"), line) >= 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

TEST(Executable, QuitSignalsCloseTheWindowCleanly) {
    for (int quit : {SIGTERM, SIGINT}) {
        IsolatedScope scope;  // the child inherits the registry folder and the work folder
        scope.WriteMachineHive(host_test::MachineHive({{"Bellwave Virtual Device", {}}}));
        const std::string program = (testing_support::BuildDir() / "bin/bellwave").string();
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
        pid_t child = -1;
        ASSERT_EQ(posix_spawn(&child, program.c_str(), nullptr, nullptr, argv, environ), 0) << program;

        const bool started = WaitForLogLine(scope, "CreatePrimaryBuffers success!");
        kill(child, quit);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(started) << "the device did not start";
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
        EXPECT_EQ(WEXITSTATUS(status), 0);
        const std::vector<std::string> log = host_test::ReadLines(scope.workDir() / "CorvaneDbg.Log");
        const int closing = host_test::FindLine(log, "Shutting down debug logging system...");
        ASSERT_GE(closing, 0) << host_test::Dump(log);
        EXPECT_EQ(log.size() - size_t(closing), 2u) << host_test::Dump(log);
    }
}

// The float samples of a capture's data chunk, as far as the file holds them.
std::vector<float> CaptureSamples(const std::string& wav) {
    const size_t at = wav.find("data");
    if (at == std::string::npos || wav.size() < at + 8) return {};
    std::vector<float> samples((wav.size() - at - 8) / 4);
    std::memcpy(samples.data(), wav.data() + at + 8, samples.size() * 4);
    return samples;
}

TEST(Executable, PlaysTheFileItIsGiven) {
    IsolatedScope scope;
    const std::string capture = (scope.workDir() / "capture.wav").string();
    scope.WriteMachineHive(
        host_test::MachineHive({{"Bellwave Virtual Device", {Text("Capture", capture), Dword("Speed", 2)}}}));
    constexpr uint32_t kFrames = 30000;
    const std::vector<int16_t> file = player_test::WriteRampWav(scope.workDir() / "ramp.wav", kFrames, 2, 48000);
    const std::string program = (testing_support::BuildDir() / "bin/bellwave").string();
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>("ramp.wav"), nullptr};  // in the work folder
    pid_t child = -1;
    ASSERT_EQ(posix_spawn(&child, program.c_str(), nullptr, nullptr, argv, environ), 0) << program;

    // Played out with a second of silence after it, once the capture has grown past it.
    const size_t enough = 58 + (kFrames + 48000) * 2 * 4;
    auto grown = [&] {
        std::error_code error;
        const auto bytes = std::filesystem::file_size(capture, error);
        return !error && bytes >= enough;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!grown() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    kill(child, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    const std::vector<float> samples = CaptureSamples(testing_support::ReadFile(capture));
    size_t start = 0;
    while (start < samples.size() && samples[start] == 0.0f) start += 2;
    ASSERT_GE(samples.size(), start + 2 * kFrames) << "the file was not played";
    for (size_t i = 0; i < 2 * kFrames; ++i)
        ASSERT_EQ(samples[start + i], file[i] / 32768.0f) << "sample " << i;
}

}  // namespace
