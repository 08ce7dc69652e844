// What the JACK driver's tests share besides the sound drivers' own helpers: private
// jackd servers on the dummy backend, the driver's registry entry, a numbered file, and
// a peer client in a child process.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <jack/thread.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "drivers/jack/jack_driver.h"
#include "driver_test_support.h"
#include "tests/soundfile/sound_fixtures.h"

namespace jack_test {

using testing_support::WaitUntil;

constexpr const char* kNoJackd = "cannot run a private JACK server (is jackd from jackd2 installed?)";

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

// `jackd --no-realtime -d dummy -r 48000` under a unique name, which JACK_DEFAULT_SERVER
// names while this lives; stopped by Stop, the destructor, or the kernel when the test
// process ends.
class PrivateServer {
public:
    PrivateServer() : scope_("JACK_DEFAULT_SERVER", name_.c_str()) {}
    ~PrivateServer() { Stop(); }
    const char* name() const { return name_.c_str(); }

    // False, with jackd's output on standard error, when it cannot start or never answers.
    bool Start(int periodFrames = 256) {
        const std::string period = std::to_string(periodFrames);
        const char* argv[] = {"jackd", "--no-realtime", "-n", name(), "-d", "dummy", "-r", "48000", "-p", period.c_str(),
                              nullptr};
        const std::string log = "/tmp/" + name_ + ".log";
        const pid_t parent = getpid();
        pid_ = fork();
        if (pid_ == 0) {
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (getppid() != parent) _exit(1);
            const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(out, 1);
            dup2(out, 2);
            execvp("jackd", const_cast<char**>(argv));
            _exit(127);
        }
        bool answered = false;
        WaitUntil([&] {
            answered = pid_ > 0 && ServerAnswers(name());
            if (pid_ > 0 && !answered && waitpid(pid_, nullptr, WNOHANG) == pid_) pid_ = 0;  // it died
            return answered || pid_ <= 0;
        }, 30.0);
        if (!answered) {
            std::cerr << "jackd " << name_ << " did not answer:\n" << std::ifstream(log).rdbuf();
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

using driver_test::TestHost;

// The build's JACK driver as the only device, under the client name given.
inline std::string JackEntry(const std::string& clientName, bool connectPhysical = false) {
    return driver_test::DriverEntry(CLSID_JackDriver, "JACK", JACK_DRIVER_PATH,
                                    testing_support::Text("ClientName", clientName) + "\n" +
                                        testing_support::Dword("ConnectPhysical", connectPhysical));
}
inline void RegisterJack(const testing_support::IsolatedScope& scope, const std::string& clientName) {
    scope.WriteMachineHive("REGEDIT4\n\n" + JackEntry(clientName));
}
inline IASIO* CreateDriver(const testing_support::IsolatedScope& scope, const std::string& clientName,
                           bool connectPhysical = false) {
    return driver_test::CreateDriver(scope, CLSID_JackDriver, JackEntry(clientName, connectPhysical));
}

// A file whose every frame tells its number: (n % 32000 + 1, -(n / 32000 + 1)).
inline void WriteNumberedWav(const std::filesystem::path& path, uint32_t frames) {
    std::vector<int16_t> s(size_t(frames) * 2);
    for (uint32_t n = 0; n < frames; ++n) {
        s[size_t(n) * 2] = int16_t(n % 32000 + 1);
        s[size_t(n) * 2 + 1] = int16_t(-int32_t(n / 32000 + 1));
    }
    fixtures::WriteBytes(path, fixtures::MakeWav(1, 2, 48000, 16, fixtures::Samples(s)));
}
// The frame number a heard frame tells; -1 for silence.
inline long long FrameOf(int16_t left, int16_t right) {
    return left <= 0 || right >= 0 ? -1 : (left - 1) + 32000LL * (-right - 1);
}

// What the peer plays into our inputs: frame n since it started is Counter(n) on the
// left and its negation on the right; exact in float and in 16 bits, never zero.
inline int16_t Counter(long long n) { return int16_t(n % 30000 + 1); }

// CLOCK_MONOTONIC, the same in every process.
inline int64_t MonotonicNs() { return std::chrono::steady_clock::now().time_since_epoch() / std::chrono::nanoseconds(1); }

constexpr size_t kHeardFrames = 48000 * 16;
constexpr int kConnections = 4;

struct PeerShared {
    std::atomic<int> quit;
    std::atomic<int> connections;  // times the peer connected to our ports
    std::atomic<int> xruns;        // cycles the server lost anywhere: no exact data then
    std::atomic<size_t> heard;     // frames kept, from each connection's first sound on
    std::atomic<size_t> firstFrame[kConnections];     // where each connection's frames begin
    std::atomic<int64_t> firstSoundNs[kConnections];  // when each first heard sound; 0 before
    int16_t left[kHeardFrames];
    int16_t right[kHeardFrames];
};

// A JACK client in a child process, as a real peer is (in the test's process the
// sanitizers could not see the server hand buffers between clients' threads). Once our
// client's ports are there it connects itself to them both ways, plays the counter into
// our inputs, and keeps what our outputs play from each connection's first sound on. It
// outlives its server and opens again whenever the server is back.
class CounterPeer {
public:
    ~CounterPeer() {
        if (pid_ > 0) {
            shared_->quit.store(1);
            waitpid(pid_, nullptr, 0);
        }
        if (shared_ != nullptr) munmap(shared_, sizeof(PeerShared));
    }

    // Peers with the client named `ours`, on JACK_DEFAULT_SERVER's server whenever it
    // runs. Call it before this process opens any JACK client.
    bool Start(const std::string& ours) {
        void* memory = mmap(nullptr, sizeof(PeerShared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED) return false;
        shared_ = new (memory) PeerShared{};
        ours_ = ours;
        name_ = "bw-peer-" + std::to_string(getpid());
        pid_ = fork();
        if (pid_ == 0) _exit(RunChild());
        return pid_ > 0;
    }
    const PeerShared& Shared() const { return *shared_; }

private:
    bool Open() {
        client_ = jack_client_open(name_.c_str(), static_cast<jack_options_t>(JackNoStartServer | JackUseExactName),
                                   nullptr);
        bool ok = client_ != nullptr;
        const char* names[4] = {"in_1", "in_2", "out_1", "out_2"};
        for (int p = 0; ok && p < 4; ++p)
            ok = (ports_[p] = jack_port_register(client_, names[p], JACK_DEFAULT_AUDIO_TYPE,
                                                 p < 2 ? JackPortIsInput : JackPortIsOutput, 0)) != nullptr;
        gone_.store(false);
        if (ok) jack_on_shutdown(client_, [](void* self) { static_cast<CounterPeer*>(self)->gone_.store(true); }, this);
        ok = ok && jack_set_process_callback(client_, Process, this) == 0 &&
             jack_set_xrun_callback(client_, [](void* self) {
                 static_cast<CounterPeer*>(self)->shared_->xruns.fetch_add(1);
                 return 0;
             }, this) == 0 && jack_activate(client_) == 0;
        // Like the driver, keep up on a server without real-time scheduling.
        if (ok && !jack_is_realtime(client_))
            jack_acquire_real_time_scheduling(jack_client_thread_id(client_), sched_get_priority_min(SCHED_FIFO) + 2);
        return ok;
    }

    // Our outputs to its inputs, its outputs to our inputs, once our ports are there.
    bool Connect() {
        const std::string theirs = ours_ + ":", mine = name_ + ":";
        if (jack_port_by_name(client_, (theirs + "in_2").c_str()) == nullptr) return false;
        for (const char* c : {"_1", "_2"})
            for (const auto& [from, to] : {std::pair{theirs + "out" + c, mine + "in" + c}, {mine + "out" + c, theirs + "in" + c}}) {
                const int result = jack_connect(client_, from.c_str(), to.c_str());
                if (result != 0 && result != EEXIST) return false;
            }
        shared_->connections.fetch_add(1);
        return true;
    }

    int RunChild() {
        jack_set_error_function([](const char*) {});  // each try while the server is away would say so
        jack_set_info_function([](const char*) {});
        auto running = [&] { return shared_->quit.load() == 0 && getppid() != 1; };
        do {
            const bool ok = Open();
            for (bool connected = false; ok && running() && !gone_.load(); usleep(2000))
                if (!connected) connected = Connect();
            // A client that closes while the server shuts down can kill it (SIGPIPE): let
            // the server finish first.
            if (gone_.load()) usleep(500000);
            if (client_ != nullptr) jack_client_close(client_);
            client_ = nullptr;
            if (!ok) usleep(10000);  // no server yet
        } while (running());
        return 0;
    }

    static int Process(jack_nframes_t frames, void* arg) {
        auto* self = static_cast<CounterPeer*>(arg);
        PeerShared* shared = self->shared_;
        float* port[4];
        for (int p = 0; p < 4; ++p) port[p] = static_cast<float*>(jack_port_get_buffer(self->ports_[p], frames));
        const int connection = shared->connections.load();
        if (connection != self->connection_) {
            self->connection_ = connection;  // wait for this connection's first sound
            self->sounding_ = false;
        }
        size_t n = shared->heard.load();
        const bool keeping = connection > 0 && connection <= kConnections;
        for (jack_nframes_t i = 0; keeping && i < frames && n < kHeardFrames; ++i) {
            if (!self->sounding_) {
                if (port[0][i] == 0.0f && port[1][i] == 0.0f) continue;
                self->sounding_ = true;
                shared->firstFrame[connection - 1].store(n);
                shared->firstSoundNs[connection - 1].store(MonotonicNs());
            }
            shared->left[n] = int16_t(port[0][i] * 32768.0f);
            shared->right[n] = int16_t(port[1][i] * 32768.0f);
            ++n;
        }
        shared->heard.store(n);
        for (jack_nframes_t i = 0; i < frames; ++i, ++self->played_) {
            port[2][i] = Counter(self->played_) / 32768.0f;
            port[3][i] = -Counter(self->played_) / 32768.0f;
        }
        return 0;
    }

    PeerShared* shared_ = nullptr;
    std::string ours_, name_;
    pid_t pid_ = 0;
    // The child's.
    jack_client_t* client_ = nullptr;
    jack_port_t* ports_[4] = {};
    std::atomic<bool> gone_{false};
    int connection_ = 0;  // the process thread's, as are the two below
    bool sounding_ = false;
    long long played_ = 0;
};

}  // namespace jack_test
