// What the JACK driver's tests share besides the sound drivers' own helpers: private
// jackd servers on the dummy backend and the driver's registry entry.
#pragma once

#include <fcntl.h>
#include <jack/jack.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "drivers/jack/jack_driver.h"
#include "driver_test_support.h"

namespace jack_test {

using driver_test::TestHost;
using testing_support::WaitUntil;

constexpr const char* kNoJackd = "cannot run a private JACK server (is jackd from jackd2 installed?)";

// A client of JACK_DEFAULT_SERVER's server; never starts one.
inline jack_client_t* OpenClient(const std::string& name) { return jack_client_open(name.c_str(), JackNoStartServer, nullptr); }

inline bool ServerAnswers() {
    jack_client_t* client = OpenClient("bw-ask-" + std::to_string(getpid()));
    return client != nullptr && (jack_client_close(client), true);
}

// `jackd --no-realtime -d dummy -r 48000` under a unique name, which JACK_DEFAULT_SERVER
// names while this lives; it dies with the test process. Its errors go to our stderr.
class PrivateServer {
public:
    PrivateServer() : scope_("JACK_DEFAULT_SERVER", name_.c_str()) {}
    ~PrivateServer() { Stop(); }
    const char* name() const { return name_.c_str(); }

    bool Start(int periodFrames = 256) {
        const std::string period = std::to_string(periodFrames);
        const char* argv[] = {"jackd", "--no-realtime", "-n", name(), "-d", "dummy", "-r", "48000", "-p", period.c_str(),
                              nullptr};
        const pid_t parent = getpid();
        pid_ = fork();
        if (pid_ == 0) {
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (getppid() != parent) _exit(1);
            dup2(open("/dev/null", O_WRONLY), 1);
            execvp("jackd", const_cast<char**>(argv));
            _exit(127);
        }
        bool answered = false;
        WaitUntil([&] {
            answered = pid_ > 0 && ServerAnswers();
            if (pid_ > 0 && !answered && waitpid(pid_, nullptr, WNOHANG) == pid_) pid_ = 0;  // it died
            return answered || pid_ <= 0;
        }, 30.0);
        if (!answered) Stop();
        return answered;
    }
    void Stop() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = 0;
        // jackd can die of SIGPIPE when a client closes while it shuts down, and then keeps
        // its slot in JACK's registry of eight servers; one more start and stop frees it.
        if (WIFSIGNALED(status) && !reclaiming_) {
            reclaiming_ = true;
            if (Start()) Stop();
            reclaiming_ = false;
        }
    }

private:
    static inline int made_ = 0;
    std::string name_ = "bw-private-" + std::to_string(getpid()) + "-" + std::to_string(++made_);
    testing_support::EnvironmentScope scope_;
    pid_t pid_ = 0;
    bool reclaiming_ = false;
};

// The build's JACK driver's registry entry, under the client name given.
inline std::string JackEntry(const std::string& clientName, bool connectPhysical = false) {
    return driver_test::DriverEntry(CLSID_JackDriver, "JACK", JACK_DRIVER_PATH,
                                    testing_support::Text("ClientName", clientName) + "\n" +
                                        testing_support::Dword("ConnectPhysical", connectPhysical));
}

}  // namespace jack_test
