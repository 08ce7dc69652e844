// What the JACK driver's tests share: the driver created through the registry and COM
// as the host creates it, a small host that writes a known ramp into the output halves
// and keeps what arrives in the input halves, a JACK client of the test's own that
// feeds and captures the driver's ports, and a private server for tests that stop one.
//
// The tests talk to a real server (scripts/jack-server.sh start) and skip, saying so,
// when none answers.
#pragma once

#include <gtest/gtest.h>
#include <jack/jack.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "drivers/jack/jack_driver.h"
#include "host/asio_driver.h"
#include "test_support.h"

extern char** environ;

namespace jack_test {

constexpr const char* kNoServerMessage =
    "no JACK server answers: start one with `scripts/jack-server.sh start` "
    "(jackd --no-realtime -d dummy -r 48000 -p 256)";

// Polls cond every 5 ms until it holds or `seconds` pass; true when it held.
template <typename Cond>
bool WaitUntil(Cond cond, double seconds = 10.0) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

inline jack_client_t* OpenClient(const std::string& name, const char* server = nullptr) {
    jack_status_t status{};
    if (server != nullptr)
        return jack_client_open(name.c_str(), static_cast<jack_options_t>(JackNoStartServer | JackServerName), &status,
                                server);
    return jack_client_open(name.c_str(), JackNoStartServer, &status);
}

inline bool ServerAnswers() {
    jack_client_t* client = OpenClient("bw-probe-" + std::to_string(getpid()));
    if (client == nullptr) return false;
    jack_client_close(client);
    return true;
}

// The ramp every test signal follows: sample k of the left channel is Ramp(k), of the
// right channel -Ramp(k). Exact in float, never zero, so silence is told apart.
inline float Ramp(long long k) { return static_cast<float>(k % 20000 + 1) / 32768.0f; }

// Whether every 256-sample period p of left/right that both channels reach is exactly the ramp
// period the other side had written last when p was taken: samples
// Ramp((tags[p] - 1) * 256 + i) and their negatives. Periods before the two connections
// were made start with silence; at least minPeriods must have been checked. Tagging each period with
// the writer's count makes the check exact yet blind to a cycle the loaded server skips.
inline testing::AssertionResult PeriodsMatchTags(const std::vector<float>& left, const std::vector<float>& right,
                                                 const std::vector<long>& tags, int minPeriods) {
    int checked = 0;
    for (size_t p = 0; p < left.size() / 256; ++p) {
        if (tags[p] < 0) continue;  // the writer ran again while this period was copied
        if (left[p * 256] == 0.0f || right[p * 256] == 0.0f) continue;  // not yet connected
        long long base = (static_cast<long long>(tags[p]) - 1) * 256;
        for (size_t i = 0; i < 256; ++i) {
            float expected = Ramp(base + static_cast<long long>(i));
            size_t n = p * 256 + i;
            if (left[n] != expected || right[n] != -expected)
                return testing::AssertionFailure() << "period " << p << " (writer's period " << tags[p] << ") sample "
                                                   << i << ": left " << left[n] << ", right " << right[n]
                                                   << ", expected " << expected << " and " << -expected;
        }
        ++checked;
    }
    if (checked < minPeriods)
        return testing::AssertionFailure() << "only " << checked << " periods carried the ramp";
    return testing::AssertionSuccess();
}

// The test's host. One instance at a time (the callbacks are plain functions).
struct TestHost {
    static inline TestHost* current = nullptr;

    explicit TestHost(size_t captureSamples)
        : inLeft(captureSamples), inRight(captureSamples), probePeriodsAt(captureSamples / 256 + 1) {
        current = this;
    }
    ~TestHost() { current = nullptr; }

    ASIOBufferInfo infos[4] = {{ASIOFalse, 0, {}}, {ASIOFalse, 1, {}}, {ASIOTrue, 0, {}}, {ASIOTrue, 1, {}}};
    ASIOCallbacks callbacks{BufferSwitch, SampleRateDidChange, AsioMessage, nullptr};
    long frames = 0;

    std::atomic<long> switches{0};
    std::atomic<long> wrongIndex{0};
    std::atomic<int> resetRequests{0};
    // The driver's thread's own while streaming.
    long expectedIndex = 0;
    std::vector<float> inLeft, inRight;
    std::atomic<size_t> inCaptured{0};  // captures from the start; StartCapture begins again
    // When set, each captured input period p notes in probePeriodsAt[p] how many periods
    // the probe client had played when the host took it.
    const std::atomic<long>* probePeriods = nullptr;
    std::vector<long> probePeriodsAt;

    static void BufferSwitch(long index, ASIOBool) {
        TestHost* host = current;
        if (index != host->expectedIndex) host->wrongIndex.fetch_add(1);
        host->expectedIndex = 1 - index;
        auto* outLeft = static_cast<float*>(host->infos[0].buffers[index]);
        auto* outRight = static_cast<float*>(host->infos[1].buffers[index]);
        // Switch n (counting from 1) plays ramp samples (n - 1) * frames on.
        long long base = static_cast<long long>(host->switches.load(std::memory_order_relaxed)) * host->frames;
        for (long i = 0; i < host->frames; ++i) {
            float value = Ramp(base + i);
            outLeft[i] = value;
            outRight[i] = -value;
        }
        size_t captured = host->inCaptured.load(std::memory_order_acquire);
        const size_t period = captured / 256;
        long tag = host->probePeriods != nullptr ? host->probePeriods->load(std::memory_order_acquire) : 0;
        auto* inLeft = static_cast<const float*>(host->infos[2].buffers[index]);
        auto* inRight = static_cast<const float*>(host->infos[3].buffers[index]);
        for (long i = 0; i < host->frames && captured < host->inLeft.size(); ++i, ++captured) {
            host->inLeft[captured] = inLeft[i];
            host->inRight[captured] = inRight[i];
        }
        if (host->probePeriods != nullptr && period < host->probePeriodsAt.size())
            host->probePeriodsAt[period] = host->probePeriods->load(std::memory_order_acquire) == tag ? tag : -1;
        host->inCaptured.store(captured, std::memory_order_release);
        host->switches.fetch_add(1, std::memory_order_release);
    }
    void StartCapture() { inCaptured.store(0, std::memory_order_release); }
    static void SampleRateDidChange(ASIOSampleRate) {}
    static long AsioMessage(long selector, long value, void*, double*) {
        if (selector == kAsioSelectorSupported) return value == kAsioResetRequest;
        if (selector == kAsioResetRequest) {
            current->resetRequests.fetch_add(1);
            return 1;
        }
        return 0;
    }
};

// The driver as the host gets it: registry entry, CoCreateInstance, one reference.
inline IASIO* CreateDriver(const testing_support::IsolatedScope& scope, const std::string& clientName,
                           bool connectPhysical) {
    char clsid[40];
    StringFromCLSID(CLSID_JackDriver, clsid);
    scope.WriteMachineHive(std::string("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\software\\asio\\JACK]\n\"clsid\"=\"") + clsid +
                           "\"\n\"description\"=\"JACK\"\n\"ClientName\"=\"" + clientName +
                           "\"\n\"ConnectPhysical\"=dword:0000000" + (connectPhysical ? "1" : "0") +
                           "\n\n[HKEY_CLASSES_ROOT\\clsid\\" + clsid + "\\InprocServer32]\n@=\"" +
                           JACK_DRIVER_PATH + "\"\n");
    EXPECT_GE(CoInitialize(nullptr), 0);  // S_OK, or S_FALSE when already initialised
    void* object = nullptr;
    HRESULT result = CoCreateInstance(CLSID_JackDriver, nullptr, CLSCTX_INPROC_SERVER, CLSID_JackDriver, &object);
    EXPECT_EQ(result, S_OK);
    return static_cast<IASIO*>(object);
}

// A JACK client of the test's: its out ports play the ramp (left +, right -) from its
// first cycle, its in ports are captured until the arrays are full.
class ProbeClient {
public:
    explicit ProbeClient(size_t captureSamples)
        : left(captureSamples), right(captureSamples), hostSwitchesAt(captureSamples / 256 + 1) {}
    ~ProbeClient() {
        if (client_ != nullptr) jack_client_close(client_);
    }

    bool Open(const std::string& name, const char* server = nullptr) {
        client_ = OpenClient(name, server);
        if (client_ == nullptr) return false;
        const char* names[4] = {"in_1", "in_2", "out_1", "out_2"};
        for (int p = 0; p < 4; ++p)
            ports_[p] = jack_port_register(client_, names[p], JACK_DEFAULT_AUDIO_TYPE,
                                           p < 2 ? JackPortIsInput : JackPortIsOutput, 0);
        jack_set_process_callback(client_, Process, this);
        return jack_activate(client_) == 0;
    }
    jack_client_t* client() const { return client_; }
    void StartCapture() { captured.store(0, std::memory_order_release); }
    std::string PortName(int p) const { return jack_port_name(ports_[p]); }

    std::vector<float> left, right;
    std::atomic<size_t> captured{0};  // captures from the start; StartCapture begins again
    // When set, each 256-frame capture period p notes in hostSwitchesAt[p] how many buffer
    // switches the host had seen in that cycle.
    const std::atomic<long>* hostSwitches = nullptr;
    std::vector<long> hostSwitchesAt;
    std::atomic<long> cycles{0};
    std::atomic<long> cyclesOf512{0};
    std::atomic<long> periodsPlayed{0};

private:
    static int Process(jack_nframes_t frames, void* arg) {
        auto* self = static_cast<ProbeClient*>(arg);
        auto* inLeft = static_cast<const float*>(jack_port_get_buffer(self->ports_[0], frames));
        auto* inRight = static_cast<const float*>(jack_port_get_buffer(self->ports_[1], frames));
        auto* outLeft = static_cast<float*>(jack_port_get_buffer(self->ports_[2], frames));
        auto* outRight = static_cast<float*>(jack_port_get_buffer(self->ports_[3], frames));
        size_t n = self->captured.load(std::memory_order_acquire);
        const size_t period = n / 256;
        long tag = self->hostSwitches != nullptr ? self->hostSwitches->load(std::memory_order_acquire) : 0;
        for (jack_nframes_t i = 0; i < frames && n < self->left.size(); ++i, ++n) {
            self->left[n] = inLeft[i];
            self->right[n] = inRight[i];
        }
        if (self->hostSwitches != nullptr && period < self->hostSwitchesAt.size())
            self->hostSwitchesAt[period] = self->hostSwitches->load(std::memory_order_acquire) == tag ? tag : -1;
        self->captured.store(n, std::memory_order_release);
        // Period n (counting from 1) plays ramp samples (n - 1) * frames on.
        long long base = static_cast<long long>(self->periodsPlayed.load(std::memory_order_relaxed)) * frames;
        for (jack_nframes_t i = 0; i < frames; ++i) {
            float value = Ramp(base + i);
            outLeft[i] = value;
            outRight[i] = -value;
        }
        self->periodsPlayed.fetch_add(1, std::memory_order_release);
        if (frames == 512) self->cyclesOf512.fetch_add(1);
        self->cycles.fetch_add(1);
        return 0;
    }

    jack_client_t* client_ = nullptr;
    jack_port_t* ports_[4] = {};
};

// A server of the test's own, under its own name, for tests that change or stop it.
class PrivateServer {
public:
    PrivateServer() : name_("bw-private-" + std::to_string(getpid())) {}
    ~PrivateServer() { Stop(); }

    const char* name() const { return name_.c_str(); }

    // False when jackd cannot be started or never answers.
    bool Start() {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const char* argv[] = {"jackd", "--no-realtime", "-n", name_.c_str(), "-d", "dummy", "-r", "48000", "-p", "256",
                              nullptr};
        int spawned = posix_spawnp(&pid_, "jackd", &actions, nullptr, const_cast<char**>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) {
            pid_ = 0;
            return false;
        }
        bool answered = false;
        WaitUntil([this, &answered] {
            jack_client_t* client = OpenClient("bw-wait", name_.c_str());
            if (client != nullptr) jack_client_close(client);
            answered = client != nullptr;
            if (!answered && waitpid(pid_, nullptr, WNOHANG) == pid_) pid_ = 0;  // it died
            return answered || pid_ == 0;
        });
        return answered;
    }

    void Stop() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        pid_ = 0;
    }

private:
    std::string name_;
    pid_t pid_ = 0;
};

}  // namespace jack_test
