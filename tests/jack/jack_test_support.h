// What the JACK driver's tests share: the driver created through the registry and COM
// as the host creates it, a small host that writes a known ramp into the output halves
// and keeps what arrives in the input halves, a JACK client in a child process that
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
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <new>
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

// Whether period p (256 samples) of left/right is exactly the ramp that starts at
// `base`: Ramp(base + i) on the left, its negative on the right.
inline bool PeriodHoldsRamp(const std::vector<float>& left, const std::vector<float>& right, size_t p,
                            long long base) {
    for (size_t i = 0; i < 256; ++i) {
        float expected = Ramp(base + static_cast<long long>(i));
        if (left[p * 256 + i] != expected || right[p * 256 + i] != -expected) return false;
    }
    return true;
}

// Whether every period p of left/right is exactly a ramp the other side played: the one
// of the cycle p was taken in (Ramp(tags[p] + i)), or, where a cycle ran late on a loaded
// machine, one of the three before it. Left out: periods before both connections were
// made (they start with silence) and periods tagged -1, written over while they were
// copied. At least minPeriods must be checked and most must be their own cycle's, so a
// driver that plays or takes the wrong half fails as surely as one wrong sample does.
inline testing::AssertionResult PeriodsMatchTags(const std::vector<float>& left, const std::vector<float>& right,
                                                 const std::vector<long>& tags, int minPeriods) {
    int aligned = 0, late = 0;
    for (size_t p = 0; p < left.size() / 256; ++p) {
        if (tags[p] < 0) continue;
        if (left[p * 256] == 0.0f || right[p * 256] == 0.0f) continue;
        int lag = 0;
        while (lag < 4 && !PeriodHoldsRamp(left, right, p, tags[p] - 256 * lag)) ++lag;
        if (lag == 4) {
            size_t i = 0;
            while (i < 255 && left[p * 256 + i] == Ramp(tags[p] + static_cast<long long>(i)) &&
                   right[p * 256 + i] == -left[p * 256 + i])
                ++i;
            return testing::AssertionFailure() << "period " << p << " (frame time " << tags[p] << ") sample " << i
                                               << ": left " << left[p * 256 + i] << ", right " << right[p * 256 + i]
                                               << ", expected " << Ramp(tags[p] + static_cast<long long>(i));
        }
        (lag == 0 ? aligned : late) += 1;
    }
    if (aligned + late < minPeriods || aligned <= late)
        return testing::AssertionFailure() << aligned << " periods carried their own cycle's ramp, " << late
                                           << " an earlier cycle's: want " << minPeriods << " in all, most their own";
    return testing::AssertionSuccess();
}

// The test's host. One instance at a time (the callbacks are plain functions).
//
// With `clock` set (a client of the test's on the same server, never activated), each
// switch plays the ramp at the cycle's JACK frame time F: samples Ramp(F + i). Any
// client reading the driver's out ports in cycle F can so check them exactly, and the
// input half the host takes is tagged with F the same way.
struct TestHost {
    static inline TestHost* current = nullptr;

    explicit TestHost(size_t captureSamples)
        : inLeft(captureSamples), inRight(captureSamples), inTags(captureSamples / 256 + 1) {
        current = this;
    }
    ~TestHost() { current = nullptr; }

    ASIOBufferInfo infos[4] = {{ASIOFalse, 0, {}}, {ASIOFalse, 1, {}}, {ASIOTrue, 0, {}}, {ASIOTrue, 1, {}}};
    ASIOCallbacks callbacks{BufferSwitch, SampleRateDidChange, AsioMessage, nullptr};
    long frames = 0;
    jack_client_t* clock = nullptr;

    std::atomic<long> switches{0};
    std::atomic<long> wrongIndex{0};
    std::atomic<int> resetRequests{0};
    // The driver's thread's own while streaming.
    long expectedIndex = 0;
    std::vector<float> inLeft, inRight;
    std::vector<long> inTags;  // per captured period: its frame time, or -1 when torn
    std::atomic<size_t> inCaptured{0};  // captures from the start; StartCapture begins again

    static void BufferSwitch(long index, ASIOBool) {
        TestHost* host = current;
        if (index != host->expectedIndex) host->wrongIndex.fetch_add(1);
        host->expectedIndex = 1 - index;
        const long tag = host->clock != nullptr ? static_cast<long>(jack_last_frame_time(host->clock)) : 0;
        auto* outLeft = static_cast<float*>(host->infos[0].buffers[index]);
        auto* outRight = static_cast<float*>(host->infos[1].buffers[index]);
        for (long i = 0; i < host->frames; ++i) {
            float value = Ramp(tag + i);
            outLeft[i] = value;
            outRight[i] = -value;
        }
        size_t captured = host->inCaptured.load(std::memory_order_acquire);
        const size_t period = captured / 256;
        auto* inLeft = static_cast<const float*>(host->infos[2].buffers[index]);
        auto* inRight = static_cast<const float*>(host->infos[3].buffers[index]);
        for (long i = 0; i < host->frames && captured < host->inLeft.size(); ++i, ++captured) {
            host->inLeft[captured] = inLeft[i];
            host->inRight[captured] = inRight[i];
        }
        if (period < host->inTags.size()) {
            // A cycle that began meanwhile (a late cycle on a loaded machine) may have
            // written the ports under us.
            bool same = host->clock == nullptr || static_cast<long>(jack_last_frame_time(host->clock)) == tag;
            host->inTags[period] = same ? tag : -1;
        }
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

// Counts a server's cycles, and those of 512 frames, from a client of the test's.
class CycleCounter {
public:
    ~CycleCounter() {
        if (client_ != nullptr) jack_client_close(client_);
    }
    bool Open(const std::string& name, const char* server = nullptr) {
        client_ = OpenClient(name, server);
        if (client_ == nullptr) return false;
        jack_set_process_callback(client_, Process, this);
        return jack_activate(client_) == 0;
    }
    jack_client_t* client() const { return client_; }

    std::atomic<long> cycles{0};
    std::atomic<long> cyclesOf512{0};

private:
    static int Process(jack_nframes_t frames, void* arg) {
        auto* self = static_cast<CycleCounter*>(arg);
        if (frames == 512) self->cyclesOf512.fetch_add(1);
        self->cycles.fetch_add(1);
        return 0;
    }
    jack_client_t* client_ = nullptr;
};

// A JACK client in a child process, as a real peer would be: its out ports play the
// ramp at each cycle's frame time F (Ramp(F + i), left +, right -), and what reaches its
// in ports is kept, period by period, tagged with F. Everything it keeps lies in memory
// shared with the test. (In this process the sanitizers could not see the server's
// hand-over of port buffers between threads.)
class ProbeProcess {
public:
    static constexpr size_t kSamples = 256 * 60;

    struct Shared {
        std::atomic<int> state;  // 0 starting, 1 running, 2 failed
        std::atomic<int> quit;
        std::atomic<size_t> captured;  // kSamples: not capturing
        long tags[kSamples / 256];     // per period: its frame time, or -1 when torn
        float left[kSamples];
        float right[kSamples];
    };

    ~ProbeProcess() {
        if (pid_ > 0) {
            shared_->quit.store(1);
            waitpid(pid_, nullptr, 0);
        }
        if (shared_ != nullptr) munmap(shared_, sizeof(Shared));
    }

    // Starts the child with a client named exactly `name`; false when it cannot run.
    bool Start(const std::string& name) {
        void* memory = mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED) return false;
        shared_ = new (memory) Shared{};
        shared_->captured.store(kSamples);
        name_ = name;
        pid_ = fork();
        if (pid_ == 0) _exit(RunChild());
        if (pid_ < 0) return false;
        WaitUntil([this] { return shared_->state.load() != 0; });
        return shared_->state.load() == 1;
    }
    // "in" or "out" plus "_1" or "_2" as a full port name.
    std::string PortName(const std::string& port) const { return name_ + ":" + port; }
    void StartCapture() { shared_->captured.store(0); }
    size_t Captured() const { return shared_->captured.load(); }
    std::vector<float> Left() const { return {shared_->left, shared_->left + kSamples}; }
    std::vector<float> Right() const { return {shared_->right, shared_->right + kSamples}; }
    std::vector<long> Tags() const { return {shared_->tags, shared_->tags + kSamples / 256}; }

private:
    int RunChild() {
        jack_status_t status{};
        client_ = jack_client_open(name_.c_str(), static_cast<jack_options_t>(JackNoStartServer | JackUseExactName),
                                   &status);
        bool ok = client_ != nullptr;
        const char* names[4] = {"in_1", "in_2", "out_1", "out_2"};
        for (int p = 0; ok && p < 4; ++p) {
            ports_[p] = jack_port_register(client_, names[p], JACK_DEFAULT_AUDIO_TYPE,
                                           p < 2 ? JackPortIsInput : JackPortIsOutput, 0);
            ok = ports_[p] != nullptr;
        }
        ok = ok && jack_set_process_callback(client_, Process, this) == 0 && jack_activate(client_) == 0;
        shared_->state.store(ok ? 1 : 2);
        while (ok && shared_->quit.load() == 0 && getppid() != 1) usleep(2000);
        if (client_ != nullptr) jack_client_close(client_);
        return ok ? 0 : 1;
    }

    static int Process(jack_nframes_t frames, void* arg) {
        auto* self = static_cast<ProbeProcess*>(arg);
        Shared* shared = self->shared_;
        const long tag = static_cast<long>(jack_last_frame_time(self->client_));
        auto* inLeft = static_cast<const float*>(jack_port_get_buffer(self->ports_[0], frames));
        auto* inRight = static_cast<const float*>(jack_port_get_buffer(self->ports_[1], frames));
        auto* outLeft = static_cast<float*>(jack_port_get_buffer(self->ports_[2], frames));
        auto* outRight = static_cast<float*>(jack_port_get_buffer(self->ports_[3], frames));
        size_t n = shared->captured.load();
        if (frames == 256 && n < kSamples) {
            for (jack_nframes_t i = 0; i < frames; ++i, ++n) {
                shared->left[n] = inLeft[i];
                shared->right[n] = inRight[i];
            }
            bool same = static_cast<long>(jack_last_frame_time(self->client_)) == tag;
            shared->tags[n / 256 - 1] = same ? tag : -1;
            shared->captured.store(n);
        }
        for (jack_nframes_t i = 0; i < frames; ++i) {
            float value = Ramp(tag + i);
            outLeft[i] = value;
            outRight[i] = -value;
        }
        return 0;
    }

    Shared* shared_ = nullptr;
    std::string name_;
    pid_t pid_ = 0;
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
