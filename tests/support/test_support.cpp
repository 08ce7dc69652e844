#include "test_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>

extern char** environ;

namespace testing_support {

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "bellwave-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

IsolatedScope::IsolatedScope() : oldCwd_(fs::current_path()) { fs::current_path(work_.path()); }

IsolatedScope::~IsolatedScope() { fs::current_path(oldCwd_); }

EnvironmentScope::EnvironmentScope(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) hadOld_ = true, old_ = old;
    value != nullptr ? setenv(name, value, 1) : unsetenv(name);
}

EnvironmentScope::~EnvironmentScope() { hadOld_ ? setenv(name_.c_str(), old_.c_str(), 1) : unsetenv(name_.c_str()); }

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary | std::ios::trunc) << text; }

fs::path BuildDir() {
    const char* dir = std::getenv("BELLWAVE_BUILD_DIR");
    return dir ? fs::path(dir) : fs::path(BELLWAVE_BUILD_DIR_DEFAULT);
}

bool RecordingWindow::Post(uint32_t message, WPARAM wParam, LPARAM lParam) {
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.push_back({message, wParam, lParam});
    return true;
}

intptr_t RecordingWindow::Send(uint32_t message, WPARAM wParam, LPARAM lParam) {
    Post(message, wParam, lParam);
    return 0;
}

void RecordingWindow::GetTitle(char* text, int bytes) const {
    if (bytes > 0) std::snprintf(text, static_cast<size_t>(bytes), "Bellwave test window");
}

std::vector<RecordedMessage> RecordingWindow::Messages() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
}

int RecordingWindow::Count(uint32_t message) const {
    std::lock_guard<std::mutex> lock(mutex_);
    int count = 0;
    for (const auto& m : messages_) count += m.message == message;
    return count;
}

void RecordingWindow::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.clear();
}

pid_t StartProcess(const std::vector<std::string>& args, const std::string& out, const std::string& err) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ) != 0) pid = 0;
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

int FinishProcess(pid_t pid, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) != pid) {
        if (std::chrono::steady_clock::now() > end) {
            kill(-pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            return -1;
        }
        usleep(20000);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace testing_support
