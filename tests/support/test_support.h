// Helpers shared by the tests: temporary folders, a scope with its own registry and
// working folder, hive value lines, a bounded wait, child processes, and a message window
// that records what is posted to it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/messages.h"

namespace testing_support {

std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::string& text);

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// For its life, environment variable `name` holds value (unset when value is null),
// for this process and the children it starts; the earlier state is restored after.
class EnvironmentScope {
public:
    EnvironmentScope(const char* name, const char* value);
    ~EnvironmentScope();
    EnvironmentScope(const EnvironmentScope&) = delete;
    EnvironmentScope& operator=(const EnvironmentScope&) = delete;

private:
    std::string name_, old_;
    bool hadOld_ = false;
};

// For the life of the scope: BELLWAVE_REGISTRY_DIR names a fresh temp folder and the
// current folder is another fresh temp folder (where debug logs and recordings land).
// Restores both afterwards.
class IsolatedScope {
public:
    IsolatedScope();
    ~IsolatedScope();
    const std::filesystem::path& registryDir() const { return registry_.path(); }
    const std::filesystem::path& workDir() const { return work_.path(); }
    // Writes machine.reg (HKLM and HKCR) or user.reg of the registry folder (REGEDIT4 lines).
    void WriteMachineHive(const std::string& text) const { WriteFile(registry_.path() / "machine.reg", text); }
    void WriteUserHive(const std::string& text) const { WriteFile(registry_.path() / "user.reg", text); }

private:
    TempDir registry_;
    TempDir work_;
    EnvironmentScope registryDir_{"BELLWAVE_REGISTRY_DIR", registry_.path().c_str()};
    std::filesystem::path oldCwd_;
};

// REGEDIT4 value lines (no line end) for a hive a test writes.
inline std::string Dword(const char* name, uint32_t value) {
    char line[96];
    std::snprintf(line, sizeof line, "\"%s\"=dword:%08x", name, value);
    return line;
}
inline std::string Text(const char* name, const std::string& value) {
    return "\"" + std::string(name) + "\"=\"" + value + "\"";
}

// Polls cond every 2 ms until it holds or `seconds` pass; true when it held.
template <typename Cond>
bool WaitUntil(Cond cond, double seconds = 10.0) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// Starts args (args[0] found on PATH) in a process group of its own, standard input
// from /dev/null, standard output and error to the files given; 0 when it cannot start.
pid_t StartProcess(const std::vector<std::string>& args, const std::string& out, const std::string& err);
// The exit status of pid once it ends within `seconds` (128 + the signal that ended it,
// as a shell tells it); else its group is killed and -1.
int FinishProcess(pid_t pid, double seconds);

// The build's folder, where drivers are built: BELLWAVE_BUILD_DIR when set, else the
// folder this test was built in.
std::filesystem::path BuildDir();

struct RecordedMessage {
    uint32_t message;
    WPARAM wParam;
    LPARAM lParam;
};

// Records every posted and sent message; thread-safe.
class RecordingWindow : public MessageWindow {
public:
    bool Post(uint32_t message, WPARAM wParam, LPARAM lParam) override;
    intptr_t Send(uint32_t message, WPARAM wParam, LPARAM lParam) override;
    void GetTitle(char* text, int bytes) const override;
    std::vector<RecordedMessage> Messages() const;
    int Count(uint32_t message) const;
    void Clear();

private:
    mutable std::mutex mutex_;
    std::vector<RecordedMessage> messages_;
};

}  // namespace testing_support
