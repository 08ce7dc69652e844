// What the JACK driver's tests share: the driver created through the registry and COM
// as the host creates it, a small host that plays a known ramp and keeps its inputs,
// JACK clients in child processes that feed and capture the driver's ports, and the
// servers of jack_server.h.
#pragma once

#include <gtest/gtest.h>
#include <jack/jack.h>
#include <jack/thread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "drivers/jack/jack_driver.h"
#include "host/asio_driver.h"
#include "jack_server.h"
#include "test_support.h"

namespace jack_test {

// Every test signal: sample i of a cycle that starts at JACK frame time F is Ramp(F + i)
// on the left and -Ramp(F + i) on the right. Exact in float and never zero.
inline float Ramp(long long k) { return static_cast<float>(k % 20000 + 1) / 32768.0f; }

// Whether every 256-sample period p of left/right is exactly the ramp of the cycle it was
// taken in (tags[p] is that cycle's frame time), at least minPeriods of them. Left out:
// silent periods (before the connections) and periods tagged -1, written over while
// they were copied. On a loaded machine a cycle may run late and hold the ramp of one
// of the three cycles before; that is allowed, but most periods must be their own
// cycle's, so a driver that plays or takes the wrong half fails like one wrong sample.
inline testing::AssertionResult PeriodsMatchTags(const std::vector<float>& left, const std::vector<float>& right,
                                                 const std::vector<long>& tags, int minPeriods) {
    auto holds = [&](size_t p, long long first) {
        for (size_t i = 0; i < 256; ++i)
            if (left[p * 256 + i] != Ramp(first + static_cast<long long>(i)) ||
                right[p * 256 + i] != -Ramp(first + static_cast<long long>(i)))
                return false;
        return true;
    };
    int aligned = 0, late = 0;
    for (size_t p = 0; p < left.size() / 256; ++p) {
        if (tags[p] < 0 || left[p * 256] == 0.0f || right[p * 256] == 0.0f) continue;
        int lag = 0;
        while (lag < 4 && !holds(p, tags[p] - 256 * lag)) ++lag;
        if (lag == 4)
            return testing::AssertionFailure() << "period " << p << " holds no ramp of its cycle " << tags[p]
                                               << ": starts " << left[p * 256] << ", " << right[p * 256];
        (lag == 0 ? aligned : late) += 1;
    }
    if (aligned + late < minPeriods || aligned <= late)
        return testing::AssertionFailure() << aligned << " periods held their own cycle's ramp, " << late
                                           << " an earlier one's: want " << minPeriods << ", most their own";
    return testing::AssertionSuccess();
}

// The test's host; one at a time (the callbacks are plain functions). With `clock` set
// (a client of the test's, never activated) each switch plays the ramp of the cycle it
// runs in and tags the input period it keeps with that cycle.
struct TestHost {
    static inline TestHost* current = nullptr;

    explicit TestHost(size_t captureSamples)
        : inLeft(captureSamples), inRight(captureSamples), inTags(captureSamples / 256 + 1) {
        current = this;
    }
    ~TestHost() { current = nullptr; }

    ASIOBufferInfo infos[4] = {{ASIOFalse, 0, {}}, {ASIOFalse, 1, {}}, {ASIOTrue, 0, {}}, {ASIOTrue, 1, {}}};
    ASIOCallbacks callbacks{BufferSwitch, SampleRateDidChange, AsioMessage, nullptr};
    long frames = 256;
    jack_client_t* clock = nullptr;
    std::atomic<long> switches{0};
    std::atomic<long> wrongIndex{0};
    std::atomic<int> resetRequests{0};
    std::atomic<int> latencyNotices{0};
    // The driver's thread's own while streaming.
    long expectedIndex = 0;
    std::vector<float> inLeft, inRight;
    std::vector<long> inTags;
    std::atomic<size_t> inCaptured{0};

    void StartCapture() { inCaptured.store(0, std::memory_order_release); }

    static void BufferSwitch(long index, ASIOBool) {
        TestHost* host = current;
        if (index != host->expectedIndex) host->wrongIndex.fetch_add(1);
        host->expectedIndex = 1 - index;
        const long tag = host->clock != nullptr ? static_cast<long>(jack_last_frame_time(host->clock)) : 0;
        for (long i = 0; i < host->frames; ++i) {
            static_cast<float*>(host->infos[0].buffers[index])[i] = Ramp(tag + i);
            static_cast<float*>(host->infos[1].buffers[index])[i] = -Ramp(tag + i);
        }
        size_t captured = host->inCaptured.load(std::memory_order_acquire);
        if (captured < host->inLeft.size()) {
            for (long i = 0; i < host->frames; ++i, ++captured) {
                host->inLeft[captured] = static_cast<const float*>(host->infos[2].buffers[index])[i];
                host->inRight[captured] = static_cast<const float*>(host->infos[3].buffers[index])[i];
            }
            // A cycle that began meanwhile (a late one) may have written the ports under us.
            bool torn = host->clock != nullptr && static_cast<long>(jack_last_frame_time(host->clock)) != tag;
            host->inTags[captured / 256 - 1] = torn ? -1 : tag;
            host->inCaptured.store(captured, std::memory_order_release);
        }
        host->switches.fetch_add(1, std::memory_order_release);
    }
    static void SampleRateDidChange(ASIOSampleRate) {}
    static long AsioMessage(long selector, long value, void*, double*) {
        if (selector == kAsioSelectorSupported) return value == kAsioResetRequest;
        if (selector == kAsioLatenciesChanged) current->latencyNotices.fetch_add(1);
        if (selector != kAsioResetRequest) return 0;
        current->resetRequests.fetch_add(1);
        return 1;
    }
};

// The build's JACK driver as the only device, under the client name given.
inline void RegisterJack(const testing_support::IsolatedScope& scope, const std::string& clientName,
                         bool connectPhysical = false) {
    char clsid[40];
    StringFromCLSID(CLSID_JackDriver, clsid);
    scope.WriteMachineHive(std::string("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\software\\asio\\JACK]\n\"clsid\"=\"") + clsid +
                           "\"\n\"description\"=\"JACK\"\n\"ClientName\"=\"" + clientName +
                           "\"\n\"ConnectPhysical\"=dword:0000000" + (connectPhysical ? "1" : "0") +
                           "\n\n[HKEY_CLASSES_ROOT\\clsid\\" + clsid + "\\InprocServer32]\n@=\"" + JACK_DRIVER_PATH + "\"\n");
}

// The driver as the host gets it: registry entry, CoCreateInstance, one reference.
inline IASIO* CreateDriver(const testing_support::IsolatedScope& scope, const std::string& clientName,
                           bool connectPhysical) {
    RegisterJack(scope, clientName, connectPhysical);
    EXPECT_GE(CoInitialize(nullptr), 0);  // S_OK, or S_FALSE when already initialised
    void* object = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_JackDriver, nullptr, CLSCTX_INPROC_SERVER, CLSID_JackDriver, &object), S_OK);
    return static_cast<IASIO*>(object);
}

// A JACK client in a child process, as a real peer is, with ports in_1, in_2, out_1 and
// out_2 and Derived::Process as its process callback. It shares a Shared block with the
// test (state: 0 starting, 1 running, 2 failed; quit; and xruns, counted when present).
// A following client outlives its server: it opens again whenever the server is back,
// and calls Derived::Connect (when there is one) until that holds.
// (Inside the test's process the sanitizers could not see the server hand port buffers
// from one client's thread to another's.)
template <typename Derived, typename Shared>
class ChildClient {
public:
    ~ChildClient() {
        if (pid_ > 0) {
            shared_->quit.store(1);
            waitpid(pid_, nullptr, 0);
        }
        if (shared_ != nullptr) munmap(shared_, sizeof(Shared));
    }

    // Starts the child with a client named exactly `name` on JACK_DEFAULT_SERVER's server;
    // false when it cannot run (a following one is not waited for). Call it before this
    // process opens any JACK client, so no thread is forked with it.
    bool Start(const std::string& name, bool follow = false) {
        void* memory = mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED) return false;
        shared_ = new (memory) Shared{};
        name_ = name;
        follow_ = follow;
        pid_ = fork();
        if (pid_ == 0) _exit(RunChild());
        if (!follow) WaitUntil([this] { return shared_->state.load() != 0; });
        return pid_ > 0 && (follow || shared_->state.load() == 1);
    }
    std::string PortName(const std::string& port) const { return name_ + ":" + port; }

protected:
    Shared* shared_ = nullptr;
    jack_client_t* client_ = nullptr;
    jack_port_t* ports_[4] = {};

private:
    bool Running() const { return shared_->quit.load() == 0 && getppid() != 1; }

    bool Open() {
        client_ = jack_client_open(name_.c_str(), static_cast<jack_options_t>(JackNoStartServer | JackUseExactName),
                                   nullptr);
        bool ok = client_ != nullptr;
        const char* names[4] = {"in_1", "in_2", "out_1", "out_2"};
        for (int p = 0; ok && p < 4; ++p)
            ok = (ports_[p] = jack_port_register(client_, names[p], JACK_DEFAULT_AUDIO_TYPE,
                                                 p < 2 ? JackPortIsInput : JackPortIsOutput, 0)) != nullptr;
        gone_.store(false);
        if (ok) jack_on_shutdown(client_, [](void* self) { static_cast<ChildClient*>(self)->gone_.store(true); }, this);
        ok = ok && jack_set_process_callback(client_, Derived::Process, static_cast<Derived*>(this)) == 0 &&
             jack_set_xrun_callback(client_, Xrun, this) == 0 && jack_activate(client_) == 0;
        // Like the driver, keep up on a server without real-time scheduling.
        if (ok && !jack_is_realtime(client_))
            jack_acquire_real_time_scheduling(jack_client_thread_id(client_), sched_get_priority_min(SCHED_FIFO) + 2);
        return ok;
    }

    int RunChild() {
        if (follow_) {  // each try while the server is away would say so
            jack_set_error_function([](const char*) {});
            jack_set_info_function([](const char*) {});
        }
        do {
            const bool ok = Open();
            shared_->state.store(ok ? 1 : 2);
            bool connected = false;
            while (ok && Running() && !gone_.load()) {
                if constexpr (requires(Derived& d) { d.Connect(); })
                    if (!connected) connected = static_cast<Derived*>(this)->Connect();
                usleep(2000);
            }
            // A client that closes while the server shuts down can kill it (SIGPIPE): this
            // one lets the server finish first.
            if (gone_.load()) usleep(500000);
            if (client_ != nullptr) jack_client_close(client_);
            client_ = nullptr;
            if (!ok && !follow_) return 1;
            if (!ok) usleep(10000);  // no server yet
        } while (follow_ && Running());
        return 0;
    }
    static int Xrun(void* arg) {
        if constexpr (requires(Shared& shared) { shared.xruns.fetch_add(1); })
            static_cast<ChildClient*>(arg)->shared_->xruns.fetch_add(1);
        return 0;
    }

    std::string name_;
    pid_t pid_ = 0;
    bool follow_ = false;
    std::atomic<bool> gone_{false};  // the child's
};

// What the counter peer plays into our inputs: frame n since it started is Counter(n)
// on the left and its negation on the right; exact in float and in 16 bits, never zero.
inline int16_t Counter(long long n) { return int16_t(n % 30000 + 1); }

inline int64_t MonotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);  // steady_clock's clock, the same in every process
    return int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

constexpr size_t kHeardFrames = 48000 * 16;
constexpr int kConnections = 4;

struct CounterShared {
    std::atomic<int> state;
    std::atomic<int> quit;
    std::atomic<int> connections;  // times the peer connected to our ports
    std::atomic<int> epoch;        // bumped by Arm
    std::atomic<int> acknowledged;
    std::atomic<int> xruns;
    std::atomic<size_t> heard;     // frames kept, from each connection's (or Arm's) first sound on
    std::atomic<size_t> firstFrame[kConnections];     // where each connection's frames begin
    std::atomic<int64_t> firstSoundNs[kConnections];  // when each first heard sound; 0 before
    int16_t left[kHeardFrames];
    int16_t right[kHeardFrames];
};

// A peer that connects itself both ways to our client's ports once they are there, plays
// the counter into our inputs without a break, and keeps what our outputs play from
// each connection's first sound on; Arm starts the keeping afresh. It counts the xruns
// the server reports: a cycle lost anywhere in the graph, where exact data cannot be had.
class CounterPeer : public ChildClient<CounterPeer, CounterShared> {
public:
    // Peers with the client named ours as "bw-peer-<pid>"; a following one outlives the server.
    bool Start(const std::string& ours, bool follow = false) {
        ours_ = ours;
        return ChildClient::Start("bw-peer-" + std::to_string(getpid()), follow);
    }
    const CounterShared& Shared() const { return *shared_; }
    // Starts the keeping afresh; true once the child has begun it.
    bool Arm() {
        const int epoch = shared_->epoch.load() + 1;
        shared_->epoch.store(epoch);
        return WaitUntil([&] { return shared_->acknowledged.load() == epoch; });
    }

    // Our outputs to its inputs, its outputs to our inputs, once our ports are there.
    bool Connect() {
        const std::string theirs = ours_ + ":";
        if (jack_port_by_name(client_, (theirs + "in_2").c_str()) == nullptr) return false;
        const std::pair<std::string, std::string> links[] = {{theirs + "out_1", PortName("in_1")},
                                                             {theirs + "out_2", PortName("in_2")},
                                                             {PortName("out_1"), theirs + "in_1"},
                                                             {PortName("out_2"), theirs + "in_2"}};
        for (const auto& [from, to] : links) {
            const int result = jack_connect(client_, from.c_str(), to.c_str());
            if (result != 0 && result != EEXIST) return false;
        }
        shared_->connections.fetch_add(1);
        return true;
    }

    static int Process(jack_nframes_t frames, void* arg) {
        auto* self = static_cast<CounterPeer*>(arg);
        CounterShared* shared = self->shared_;
        float* port[4];
        for (int p = 0; p < 4; ++p) port[p] = static_cast<float*>(jack_port_get_buffer(self->ports_[p], frames));
        const int epoch = shared->epoch.load();
        if (epoch != shared->acknowledged.load()) {
            shared->heard.store(0);
            shared->acknowledged.store(epoch);
            self->connection_ = -1;
        }
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

private:
    std::string ours_;
    // The child's process thread's own.
    int connection_ = 0;
    bool sounding_ = false;
    long long played_ = 0;
};

constexpr size_t kProbeSamples = 256 * 60;

struct ProbeShared {
    std::atomic<int> state;                         // 0 starting, 1 running, 2 failed
    std::atomic<int> quit;
    std::atomic<size_t> captured{kProbeSamples};    // kProbeSamples: not capturing
    long tags[kProbeSamples / 256];
    float left[kProbeSamples];
    float right[kProbeSamples];
};

// The probe's out ports play the ramp of each cycle, and what reaches its in ports is
// kept period by period, tagged with the cycle.
class ProbeProcess : public ChildClient<ProbeProcess, ProbeShared> {
public:
    static constexpr size_t kSamples = kProbeSamples;

    void StartCapture() { shared_->captured.store(0); }
    size_t Captured() const { return shared_->captured.load(); }
    std::vector<float> Left() const { return {shared_->left, shared_->left + kSamples}; }
    std::vector<float> Right() const { return {shared_->right, shared_->right + kSamples}; }
    std::vector<long> Tags() const { return {shared_->tags, shared_->tags + kSamples / 256}; }

    static int Process(jack_nframes_t frames, void* arg) {
        auto* self = static_cast<ProbeProcess*>(arg);
        ProbeShared* shared = self->shared_;
        const long tag = static_cast<long>(jack_last_frame_time(self->client_));
        float* port[4];
        for (int p = 0; p < 4; ++p) port[p] = static_cast<float*>(jack_port_get_buffer(self->ports_[p], frames));
        size_t n = shared->captured.load();
        if (frames == 256 && n < kSamples) {
            std::copy(port[0], port[0] + frames, shared->left + n);
            std::copy(port[1], port[1] + frames, shared->right + n);
            bool torn = static_cast<long>(jack_last_frame_time(self->client_)) != tag;
            shared->tags[n / 256] = torn ? -1 : tag;
            shared->captured.store(n + frames);
        }
        for (jack_nframes_t i = 0; i < frames; ++i) {
            port[2][i] = Ramp(tag + i);
            port[3][i] = -Ramp(tag + i);
        }
        return 0;
    }
};

}  // namespace jack_test
