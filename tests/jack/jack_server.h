// JACK servers for the tests: private ones on the dummy backend under names of their
// own, and the server the tests share, which is a private one unless JACK_DEFAULT_SERVER
// names another. Unique names keep parallel runs apart.
#pragma once

#include <fcntl.h>
#include <jack/jack.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>

#include "tests/support/test_support.h"

namespace jack_test {

constexpr const char* kNoServerMessage =
    "no JACK server: the one JACK_DEFAULT_SERVER names does not answer, or jackd (Debian package jackd2) "
    "cannot be started";

using testing_support::WaitUntil;

// A client of the named server, or of JACK_DEFAULT_SERVER's; never starts a server.
inline jack_client_t* OpenClient(const std::string& name, const char* server = nullptr) {
    auto options = static_cast<jack_options_t>(JackNoStartServer | (server != nullptr ? JackServerName : 0));
    return jack_client_open(name.c_str(), options, nullptr, server);
}

inline bool ServerAnswers(const char* server = nullptr) {
    jack_client_t* client = OpenClient("bw-ask-" + std::to_string(getpid()), server);
    if (client != nullptr) jack_client_close(client);
    return client != nullptr;
}

// `jackd --no-realtime -d dummy -r 48000` under a name of its own, stopped by Stop, by
// the destructor, or by the kernel when the test process ends in any other way.
class PrivateServer {
public:
    ~PrivateServer() { Stop(); }
    const char* name() const { return name_.c_str(); }

    // False, with jackd's output on standard error, when it cannot be started or never
    // answers.
    bool Start(int periodFrames = 256) {
        const std::string period = std::to_string(periodFrames);
        const char* argv[] = {"jackd", "--no-realtime", "-n", name_.c_str(), "-d", "dummy", "-r", "48000", "-p",
                              period.c_str(), nullptr};
        const std::string log = (std::filesystem::temp_directory_path() / (name_ + ".log")).string();
        const pid_t parent = getpid();
        pid_ = fork();
        if (pid_ == 0) {
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (getppid() != parent) _exit(1);  // the test process has ended already
            const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(out, 1);
            dup2(out, 2);
            execvp("jackd", const_cast<char**>(argv));
            _exit(127);
        }
        if (pid_ < 0) pid_ = 0;
        bool answered = false;
        WaitUntil([&] {
            answered = pid_ > 0 && ServerAnswers(name());
            if (pid_ > 0 && !answered && waitpid(pid_, nullptr, WNOHANG) == pid_) pid_ = 0;  // it died
            return answered || pid_ == 0;
        }, 30.0);
        if (!answered) {
            std::ifstream text(log);
            std::cerr << "jackd " << name_ << (pid_ > 0 ? " never answered" : " did not start") << ":\n" << text.rdbuf();
            Stop();
        }
        std::remove(log.c_str());
        return answered;
    }
    void Stop() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = 0;
        // jackd can die of SIGPIPE when a client closes while it shuts down, and a server
        // that dies keeps its slot in JACK's registry of eight servers for good; one more
        // start and stop under its name gives the slot back.
        if (WIFSIGNALED(status) && !reclaiming_) {
            reclaiming_ = true;
            if (Start()) Stop();
            reclaiming_ = false;
        }
    }

private:
    static inline int made_ = 0;
    std::string name_ = "bw-private-" + std::to_string(getpid()) + "-" + std::to_string(++made_);
    pid_t pid_ = 0;
    bool reclaiming_ = false;
};

// Whether the tests' shared server answers. With no JACK_DEFAULT_SERVER, the first call
// starts a private server and names it there, for this process and the programs it
// starts; it stops when the process ends.
inline bool SharedServerAnswers() {
    static PrivateServer own;
    static bool ownStarted = false;
    const char* named = std::getenv("JACK_DEFAULT_SERVER");
    if (!ownStarted && (named == nullptr || named[0] == '\0')) {
        if (!(ownStarted = own.Start())) return false;
        setenv("JACK_DEFAULT_SERVER", own.name(), 1);
    }
    return ServerAnswers();
}

}  // namespace jack_test
