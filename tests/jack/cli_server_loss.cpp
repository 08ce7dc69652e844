// `bellwave-cli play` and `record` through the JACK driver to a real peer (in a child
// process, following the server across restarts) on a private server that goes away:
// play goes on exactly where it stopped once the server is back at another period;
// record ends at the loss with the peer's counter, without a gap, up to it.
#include <jack/jack.h>
#include <jack/thread.h>
#include <sched.h>
#include <sys/mman.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "audiofiles/wav_layout.h"
#include "jack_test_support.h"
#include "tests/soundfile/sound_fixtures.h"

using namespace jack_test;
using testing_support::IsolatedScope;
using testing_support::ReadFile;

namespace {

// What the peer plays into our inputs: frame n is Counter(n) left, its negation right.
int16_t Counter(long long n) { return int16_t(n % 30000 + 1); }
// The frame number a frame of numbers.wav (below) tells; -1 for silence.
long long FrameOf(int16_t left, int16_t right) { return left <= 0 || right >= 0 ? -1 : (left - 1) + 32000LL * (-right - 1); }
int64_t MonotonicNs() { return std::chrono::steady_clock::now().time_since_epoch() / std::chrono::nanoseconds(1); }

constexpr size_t kHeardFrames = 48000 * 16;
constexpr const char* kXrunSkip = "the JACK server lost a cycle (a loaded machine): nothing exact can be compared";

struct PeerShared {
    std::atomic<int> quit, connections, xruns;  // xruns: cycles the server lost; no exact data then
    std::atomic<size_t> heard;                   // frames kept, from each connection's first sound on
    std::atomic<size_t> secondFrom;              // where the second connection's frames begin
    std::atomic<int64_t> secondSoundNs;          // and when it first heard sound; 0 before
    int16_t left[kHeardFrames], right[kHeardFrames];
};

// A JACK client in a child process (in ours the sanitizers could not see the server hand
// buffers between clients' threads): connected both ways to our client's ports, it plays
// the counter, keeps what we play, and opens again whenever the server is back.
class CounterPeer {
public:
    ~CounterPeer() {
        if (pid_ > 0) shared_->quit.store(1), waitpid(pid_, nullptr, 0);
        if (shared_ != nullptr) munmap(shared_, sizeof(PeerShared));
    }
    // Call it before this process opens any JACK client.
    bool Start(const std::string& ours) {
        void* memory = mmap(nullptr, sizeof(PeerShared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED) return false;
        shared_ = new (memory) PeerShared{};
        ours_ = ours;
        pid_ = fork();
        if (pid_ == 0) _exit(RunChild());
        return pid_ > 0;
    }
    const PeerShared& Shared() const { return *shared_; }

private:
    bool Open() {
        const auto options = static_cast<jack_options_t>(JackNoStartServer | JackUseExactName);
        client_ = jack_client_open(name_.c_str(), options, nullptr);
        bool ok = client_ != nullptr;
        const char* names[4] = {"in_1", "in_2", "out_1", "out_2"};
        for (int p = 0; ok && p < 4; ++p)
            ok = (ports_[p] = jack_port_register(client_, names[p], JACK_DEFAULT_AUDIO_TYPE,
                                                 p < 2 ? JackPortIsInput : JackPortIsOutput, 0)) != nullptr;
        gone_.store(false);
        if (ok) jack_on_shutdown(client_, [](void* self) { static_cast<CounterPeer*>(self)->gone_.store(true); }, this);
        auto xrun = [](void* self) { return static_cast<CounterPeer*>(self)->shared_->xruns.fetch_add(1), 0; };
        ok = ok && jack_set_process_callback(client_, Process, this) == 0 &&
             jack_set_xrun_callback(client_, xrun, this) == 0 && jack_activate(client_) == 0;
        if (ok && !jack_is_realtime(client_))  // like the driver, keep up on a server without real-time scheduling
            jack_acquire_real_time_scheduling(jack_client_thread_id(client_), sched_get_priority_min(SCHED_FIFO) + 2);
        return ok;
    }
    bool Connect() {
        const std::string their = ours_ + ":", mine = name_ + ":";
        if (jack_port_by_name(client_, (their + "in_2").c_str()) == nullptr) return false;
        for (const char* c : {"_1", "_2"})
            for (const auto& [from, to] : {std::pair{their + "out" + c, mine + "in" + c}, {mine + "out" + c, their + "in" + c}})
                if (const int r = jack_connect(client_, from.c_str(), to.c_str()); r != 0 && r != EEXIST) return false;
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
            if (gone_.load()) usleep(500000);  // closing while the server shuts down can kill it (SIGPIPE)
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
        if (connection != self->connection_) self->connection_ = connection, self->sounding_ = false;
        size_t n = shared->heard.load();
        for (jack_nframes_t i = 0; connection > 0 && connection <= 2 && i < frames && n < kHeardFrames; ++i) {
            if (!self->sounding_) {
                if (port[0][i] == 0.0f && port[1][i] == 0.0f) continue;
                self->sounding_ = true;
                if (connection == 2) shared->secondFrom.store(n), shared->secondSoundNs.store(MonotonicNs());
            }
            shared->left[n] = int16_t(port[0][i] * 32768.0f);
            shared->right[n++] = int16_t(port[1][i] * 32768.0f);
        }
        shared->heard.store(n);
        for (jack_nframes_t i = 0; i < frames; ++i, ++self->played_)
            port[2][i] = Counter(self->played_) / 32768.0f, port[3][i] = -Counter(self->played_) / 32768.0f;
        return 0;
    }

    PeerShared* shared_ = nullptr;
    std::string ours_, name_ = "bw-peer-" + std::to_string(getpid());
    pid_t pid_ = 0;
    // The child's; the last three its process thread's.
    jack_client_t* client_ = nullptr;
    jack_port_t* ports_[4] = {};
    std::atomic<bool> gone_{false};
    int connection_ = 0;
    bool sounding_ = false;
    long long played_ = 0;
};

class CliServerLoss : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(peer_.Start(name_));
        if (!server_.Start()) GTEST_SKIP() << kNoJackd;
        scope_.WriteMachineHive("REGEDIT4\n\n" + JackEntry(name_));
    }
    pid_t StartCli(std::vector<std::string> args) {
        args.insert(args.begin(), (testing_support::BuildDir() / "bin/bellwave-cli").string());
        return testing_support::StartProcess(args, out_, err_);
    }
    bool Said(const char* text) const { return ReadFile(err_).find(text) != std::string::npos; }

    const std::string name_ = "bw-cli-" + std::to_string(getpid());
    PrivateServer server_;
    CounterPeer peer_;  // forked first: no JACK client of ours exists yet
    IsolatedScope scope_;
    const std::string out_ = (scope_.workDir() / "cli.out").string(), err_ = (scope_.workDir() / "cli.err").string();
};

TEST_F(CliServerLoss, PlayGoesOnWhereItStoppedOnceTheServerIsBack) {
    constexpr uint32_t kFrames = 48000 * 6;  // frame n: (n % 32000 + 1, -(n / 32000 + 1))
    std::vector<int16_t> numbers(size_t(kFrames) * 2);
    for (uint32_t n = 0; n < kFrames; ++n)
        numbers[2 * n] = int16_t(n % 32000 + 1), numbers[2 * n + 1] = int16_t(-int32_t(n / 32000 + 1));
    fixtures::WriteBytes(scope_.workDir() / "numbers.wav", fixtures::MakeWav(1, 2, 48000, 16, fixtures::Samples(numbers)));
    const pid_t cli = StartCli({"play", "--device", "JACK", "numbers.wav"});
    ASSERT_GT(cli, 0);
    const PeerShared& heard = peer_.Shared();
    // The frames heard from `n` on count up from `frame`; where they stop doing so.
    auto countsUp = [&](size_t n, long long frame, size_t end) {
        while (n < end && frame < kFrames && FrameOf(heard.left[n], heard.right[n]) == frame) ++n, ++frame;
        return n;
    };
    ASSERT_TRUE(WaitUntil([&] { return heard.heard.load() >= 2 * 48000; }, 30.0)) << ReadFile(err_);
    server_.Stop();
    const size_t before = heard.heard.load();
    const int xrunsBefore = heard.xruns.load();
    const long long stoppedAt = FrameOf(heard.left[before - 1], heard.right[before - 1]);
    ASSERT_TRUE(WaitUntil([&] { return Said("the device has gone away"); })) << ReadFile(err_);
    // (The command may start before the peer has connected: the first frames go unheard.)
    const size_t upToLoss = countsUp(0, FrameOf(heard.left[0], heard.right[0]), before);
    if (upToLoss != before && xrunsBefore != 0) GTEST_SKIP() << kXrunSkip;
    EXPECT_EQ(upToLoss, before) << "the file up to the loss, without a gap or a repeat";

    usleep(2000000);  // the server stays away for 2 s
    ASSERT_TRUE(server_.Start(1024)) << "the server did not start again";
    const int64_t returnedNs = MonotonicNs();
    ASSERT_TRUE(WaitUntil([&] { return heard.secondSoundNs.load() != 0; }, 30.0)) << "never heard again";
    const int xruns = heard.xruns.load();  // the server's stop and start have their own
    EXPECT_LT(heard.secondSoundNs.load() - returnedNs, 3000000000LL) << "heard again later than 3 s after the return";
    const size_t first = heard.secondFrom.load();
    const long long resumedAt = FrameOf(heard.left[first], heard.right[first]);
    EXPECT_LE(std::llabs(resumedAt - (stoppedAt + 1)), 4608) << "stopped after " << stoppedAt << ", went on at " << resumedAt;

    EXPECT_EQ(testing_support::FinishProcess(cli, 30.0), 0) << ReadFile(err_);
    EXPECT_NE(ReadFile(out_).find("played 1 track"), std::string::npos) << ReadFile(out_);
    EXPECT_TRUE(Said("the device is back after")) << ReadFile(err_);
    const size_t end = countsUp(first, resumedAt, heard.heard.load());
    if (end - first + resumedAt != kFrames && heard.xruns.load() != xruns) GTEST_SKIP() << kXrunSkip;
    EXPECT_EQ(end - first + resumedAt, kFrames) << "heard " << end << ": " << FrameOf(heard.left[end], heard.right[end]);
}

TEST_F(CliServerLoss, RecordEndsAtTheLossWithTheTakeUpToIt) {
    const pid_t cli = StartCli({"record", "--device", "JACK", "--seconds", "30"});
    ASSERT_GT(cli, 0);
    const auto wav = scope_.workDir() / "Out.wav";
    ASSERT_TRUE(WaitUntil([&] { return ReadFile(wav).size() >= 58 + 12 * 18432; }, 30.0)) << ReadFile(err_);  // 12 blocks
    const int xruns = peer_.Shared().xruns.load();
    server_.Stop();
    EXPECT_EQ(testing_support::FinishProcess(cli, 10.0), 1) << ReadFile(err_);
    EXPECT_TRUE(Said("the device went away; Out.wav holds the take up to there")) << ReadFile(err_);

    const std::string image = ReadFile(wav);
    WavLayout layout;
    ASSERT_TRUE(ParseWavHeader(reinterpret_cast<const uint8_t*>(image.data()), uint32_t(image.size()), layout));
    EXPECT_EQ(layout.dataOffset + layout.sourceFrames * 4, image.size()) << "the sizes cover the whole take";
    EXPECT_EQ(layout.sourceFrames % kBlockFrames, 0u) << "whole blocks";
    EXPECT_GE(layout.sourceFrames, 12u * kBlockFrames);
    // The counter from the first frame our inputs heard to the end of the take.
    const auto* samples = reinterpret_cast<const uint8_t*>(image.data()) + layout.dataOffset;
    auto at = [&](size_t i) { return int16_t(ReadLe16(samples + 2 * i)); };
    size_t f = 0;
    while (f < layout.sourceFrames && at(2 * f) == 0) ++f;
    ASSERT_LT(f, layout.sourceFrames) << "the take holds no sound";
    for (long long start = at(2 * f) - 1, k = 0; f < layout.sourceFrames; ++f, ++k) {
        if (at(2 * f) == Counter(start + k) && at(2 * f + 1) == -Counter(start + k)) continue;
        if (xruns != 0) GTEST_SKIP() << kXrunSkip;
        FAIL() << "frame " << f << " of " << layout.sourceFrames << " breaks the counter";
    }
}

}  // namespace
