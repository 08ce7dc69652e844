// The player through the JACK driver on a real server: a file played reaches a JACK
// client connected to our out ports sample for sample, what a client plays into our in
// ports is recorded into "Out.wav" sample for sample, on a server whose period (1024)
// does not divide the player's block. A server that changes its period mid-play does
// not interrupt the file.
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audiofiles/wav_layout.h"
#include "host/asio_messages.h"
#include "jack_test_support.h"
#include "player/player.h"
#include "tests/soundfile/sound_fixtures.h"

using namespace jack_test;
using testing_support::IsolatedScope;
using testing_support::RecordingWindow;

namespace {

// What the peer plays: sample n since it started is Sequence(n) on the left and its
// negation on the right; exact in float and in 16 bits, never zero.
int16_t Sequence(long long n) { return int16_t(n % 30000 + 1); }

constexpr size_t kPeerSamples = 48000 * 4;

struct PeerShared {
    std::atomic<int> state;  // 0 starting, 1 running, 2 failed
    std::atomic<int> quit;
    std::atomic<int> epoch;  // 0: not capturing
    std::atomic<int> acknowledged;
    std::atomic<int> xruns;
    std::atomic<size_t> captured;
    float left[kPeerSamples];
    float right[kPeerSamples];
};

// A JACK client in a child process (see ChildClient for why not in ours). Its out ports
// play the sequence without a break; its in ports, from each Arm on, keep what arrives
// from the first nonzero sample on, up to kSamples per channel. It counts the xruns the
// server reports: a cycle lost anywhere in the graph, where exact data cannot be had.
class Peer : public ChildClient<Peer, PeerShared> {
public:
    static constexpr size_t kSamples = kPeerSamples;

    // Starts a new capture; true once the child has begun it.
    bool Arm() {
        const int epoch = shared_->epoch.load() + 1;
        shared_->epoch.store(epoch);
        return WaitUntil([&] { return shared_->acknowledged.load() == epoch; });
    }
    size_t Captured() const { return shared_->captured.load(); }
    int Xruns() const { return shared_->xruns.load(); }
    float Left(size_t i) const { return shared_->left[i]; }
    float Right(size_t i) const { return shared_->right[i]; }

    static int Process(jack_nframes_t frames, void* arg) {
        auto* self = static_cast<Peer*>(arg);
        PeerShared* shared = self->shared_;
        float* port[4];
        for (int p = 0; p < 4; ++p) port[p] = static_cast<float*>(jack_port_get_buffer(self->ports_[p], frames));
        const int epoch = shared->epoch.load();
        size_t n = shared->captured.load();
        if (epoch != shared->acknowledged.load()) {
            n = 0;
            shared->captured.store(0);
            shared->acknowledged.store(epoch);
        }
        for (jack_nframes_t i = 0; i < frames && epoch != 0 && n < kSamples; ++i) {
            if (n == 0 && port[0][i] == 0.0f && port[1][i] == 0.0f) continue;
            shared->left[n] = port[0][i];
            shared->right[n] = port[1][i];
            ++n;
        }
        shared->captured.store(n);
        for (jack_nframes_t i = 0; i < frames; ++i, ++self->played_) {
            port[2][i] = Sequence(self->played_) / 32768.0f;
            port[3][i] = -Sequence(self->played_) / 32768.0f;
        }
        return 0;
    }

private:
    long long played_ = 0;  // the child's process thread's own
};

// Writes a 48000 Hz 16-bit stereo WAV of frames whose samples are nonzero from the
// first on and differ between the channels; returns them interleaved.
std::vector<int16_t> WriteTestWav(const std::filesystem::path& path, uint32_t frames) {
    std::vector<int16_t> s(size_t(frames) * 2);
    for (uint32_t i = 0; i < frames; ++i) {
        s[size_t(i) * 2] = int16_t(i * 7 + 1);
        s[size_t(i) * 2 + 1] = int16_t(~(i * 3));
    }
    fixtures::WriteBytes(path, fixtures::MakeWav(1, 2, 48000, 16, fixtures::Samples(s)));
    return s;
}

// Plays (or recordings) tried before giving up on an xrun-free one.
constexpr int kAttempts = 5;
constexpr const char* kXrunsMessage =
    "the JACK server reported an xrun in every attempt (a loaded machine): samples were lost on the way, "
    "so nothing exact can be compared";

void QueueFile(Player& player, const IsolatedScope& scope, const char* name) {
    const int folder = player.Directories().AddDirectory(scope.workDir().c_str());
    PlayEntry entry;
    ASSERT_TRUE(MakePlayEntry(entry, name, folder));
    ASSERT_TRUE(player.Queue().Append(entry));
}

class JackPlayer : public testing::Test {
protected:
    // A private server at that period.
    void Open(int period) {
        if (!server_.Start(period)) GTEST_SKIP() << "cannot run a private JACK server (is jackd from jackd2 installed?)";
        serverName_ = std::make_unique<testing_support::EnvironmentScope>("JACK_DEFAULT_SERVER", server_.name());
        name_ = "bw-player-" + std::to_string(getpid());
        ASSERT_TRUE(peer_.Start("bw-peer-" + std::to_string(getpid())));
        RegisterJack(scope_, name_);
        player_ = std::make_unique<Player>(&window_, scope_.workDir().c_str());
        ASSERT_TRUE(player_->DeviceReady()) << "the player could not open the JACK driver";
        EXPECT_EQ(ASIOSetSampleRate(), 48000);
        ASSERT_NE(control_ = OpenClient("bw-control-" + std::to_string(getpid())), nullptr);
    }
    void TearDown() override {
        player_.reset();
        if (control_ != nullptr) jack_client_close(control_);
    }

    // Plays the queued file (at most kPeerSamples - 256 frames) from its start until the
    // track ends; period changes, when given, are made once the peer has heard 1 s, then
    // another 1 s, of it. A play during which the server reported an xrun is made again;
    // false when every one had one (a failure ends the tries at once).
    bool PlayToTheEnd(uint32_t frames, std::vector<jack_nframes_t> periodChanges = {}) {
        for (int attempt = 0; attempt < kAttempts && !HasFailure(); ++attempt) {
            window_.Clear();
            if (!periodChanges.empty() && jack_get_buffer_size(control_) != 256) {
                EXPECT_EQ(jack_set_buffer_size(control_, 256), 0);
            }
            EXPECT_TRUE(peer_.Arm());
            const int xruns = peer_.Xruns();
            player_->PlayPause();
            EXPECT_TRUE(player_->Playing());
            size_t heard = 0;
            for (jack_nframes_t period : periodChanges) {
                if (!WaitUntil([&] { return peer_.Captured() >= heard + 48000; }, 30.0)) break;
                EXPECT_EQ(jack_set_buffer_size(control_, period), 0);
                EXPECT_TRUE(WaitUntil([&] { return jack_get_buffer_size(control_) == period; }));
                heard = peer_.Captured();
                EXPECT_LT(heard, frames) << "the period changed to " << period << " after the file had ended";
            }
            EXPECT_TRUE(WaitUntil([&] { return peer_.Captured() >= frames + 256; }, 30.0))
                << "the peer got " << peer_.Captured() << " samples";
            EXPECT_TRUE(WaitUntil([&] { return window_.Count(WMU_TRACK_END) > 0; }, 30.0)) << "the track never ended";
            player_->Stop();
            if (peer_.Xruns() == xruns) return true;
        }
        return HasFailure();
    }

    // The peer heard the file's samples exactly, then the zero fill of its last block.
    void ExpectHeardExactly(const std::vector<int16_t>& file) {
        const size_t frames = file.size() / 2;
        size_t wrong = 0, first = frames;
        for (size_t i = 0; i < frames; ++i) {
            if (peer_.Left(i) == file[2 * i] / 32768.0f && peer_.Right(i) == file[2 * i + 1] / 32768.0f) continue;
            if (wrong++ == 0) first = i;
        }
        EXPECT_EQ(wrong, 0u) << "first wrong frame " << first << ": " << peer_.Left(first) * 32768.0f << ", "
                             << peer_.Right(first) * 32768.0f;
        EXPECT_EQ(peer_.Left(frames), 0.0f);
        EXPECT_EQ(peer_.Right(frames), 0.0f);
    }

    // One direction: ours to the peer's, or the peer's to ours.
    void Connect(bool ourOutputs) {
        for (const char* c : {"_1", "_2"}) {
            std::string ours = name_ + (ourOutputs ? ":out" : ":in") + c;
            std::string theirs = peer_.PortName(ourOutputs ? "in" : "out") + c;
            ASSERT_EQ(ourOutputs ? jack_connect(control_, ours.c_str(), theirs.c_str())
                                 : jack_connect(control_, theirs.c_str(), ours.c_str()),
                      0);
            jack_port_t* port = jack_port_by_name(control_, ours.c_str());
            ASSERT_TRUE(WaitUntil([&] { return jack_port_connected_to(port, theirs.c_str()) != 0; }));
        }
    }

    PrivateServer server_;  // before the peer and the player, so it outlives them
    std::unique_ptr<testing_support::EnvironmentScope> serverName_;
    IsolatedScope scope_;
    Peer peer_;
    RecordingWindow window_;
    std::string name_;
    std::unique_ptr<Player> player_;
    jack_client_t* control_ = nullptr;
};

// On a server whose period does not divide the block.
class JackPlayerAtOddPeriod : public JackPlayer {
protected:
    void SetUp() override {
        Open(1024);
        if (player_ != nullptr) {
            EXPECT_EQ(ASIOGetPrimaryBufferSizeSamples(), 512) << "the largest size that divides block and period";
        }
    }
};

TEST_F(JackPlayerAtOddPeriod, APlayedFileReachesAConnectedClientSampleForSample) {
    constexpr uint32_t kFrames = 30000;  // six segments and a part
    const std::vector<int16_t> file = WriteTestWav(scope_.workDir() / "ramp.wav", kFrames);
    QueueFile(*player_, scope_, "ramp.wav");
    Connect(true);
    // A cycle lost to an xrun (a loaded machine) loses samples on the way, so such a
    // run is played again; each play starts the track from its beginning.
    if (!PlayToTheEnd(kFrames)) GTEST_SKIP() << kXrunsMessage;
    ExpectHeardExactly(file);
    EXPECT_EQ(window_.Count(WMU_ASIO_RESET), 0) << "the server dropped the driver: too slow, or the machine overloaded";
}

TEST_F(JackPlayerAtOddPeriod, AClientFeedingOurInputsIsRecordedExactly) {
    constexpr uint32_t kBlocks = 6;
    Connect(false);
    const Recorder& recorder = player_->GetRecorder();
    // As above, a recording made across an xrun is made again; each replaces Out.wav.
    int attempt = 0;
    for (; attempt < kAttempts; ++attempt) {
        const int xruns = peer_.Xruns();
        player_->ToggleRecord();
        player_->PlayPause();
        ASSERT_TRUE(player_->RecordingActive());
        ASSERT_TRUE(WaitUntil([&] { return recorder.WrittenBlocks() + recorder.DroppedBlocks() >= kBlocks; }, 30.0))
            << "recorded " << recorder.WrittenBlocks() << " blocks";
        player_->Stop();
        if (peer_.Xruns() == xruns) break;
    }
    if (attempt == kAttempts) GTEST_SKIP() << kXrunsMessage;
    EXPECT_EQ(recorder.DroppedBlocks(), 0u);
    EXPECT_EQ(window_.Count(WMU_ASIO_RESET), 0) << "the server dropped the driver: too slow, or the machine overloaded";

    const std::string image = testing_support::ReadFile(scope_.workDir() / "Out.wav");
    WavLayout layout;
    ASSERT_TRUE(ParseWavHeader(reinterpret_cast<const uint8_t*>(image.data()), uint32_t(image.size()), layout));
    EXPECT_EQ(layout.channels, 2u);
    EXPECT_EQ(layout.sampleRate, 48000u);
    ASSERT_GE(layout.sourceFrames, kBlocks * kBlockFrames);
    EXPECT_EQ(layout.sourceFrames % kBlockFrames, 0u) << "whole blocks";
    const auto* samples = reinterpret_cast<const uint8_t*>(image.data()) + layout.dataOffset;
    auto at = [&](size_t i) { return int16_t(ReadLe16(samples + 2 * i)); };

    // The peer's n / 32768 is recorded as n exactly. The sequence's place in the file is
    // given by the first frame; every frame on must follow without a gap, a repeat or a
    // changed sample.
    auto recorded = [](long long n) { return Sequence(n); };
    const long long start = at(0) - 1;
    size_t wrong = 0, first = 0;
    for (size_t f = 0; f < layout.sourceFrames; ++f) {
        const int16_t want = recorded(start + static_cast<long long>(f));
        if (at(2 * f) == want && at(2 * f + 1) == -want) continue;
        if (wrong++ == 0) first = f;
    }
    EXPECT_EQ(wrong, 0u) << "first wrong frame " << first << " of " << layout.sourceFrames << ": " << at(2 * first)
                         << ", " << at(2 * first + 1) << " instead of " << recorded(start + static_cast<long long>(first));
}

class JackPlayerPeriodChange : public JackPlayer {
protected:
    void SetUp() override { Open(256); }
};

// The counter the file holds reaches the peer without a gap or a repeat while the
// server goes from 256 to 1024 (four switches a cycle) to 128 frames (one every second
// cycle, the driver's FIFOs making up the difference).
TEST_F(JackPlayerPeriodChange, PlaybackGoesOnAcrossPeriodChangesWithNoGapAndNoRepeat) {
    constexpr uint32_t kFrames = 48000 * 3;
    const std::vector<int16_t> file = WriteTestWav(scope_.workDir() / "count.wav", kFrames);
    QueueFile(*player_, scope_, "count.wav");
    Connect(true);
    if (!PlayToTheEnd(kFrames, {1024, 128})) GTEST_SKIP() << kXrunsMessage;
    ExpectHeardExactly(file);
    EXPECT_EQ(window_.Count(WMU_ASIO_RESET), 0) << "a period change is no reason to reset";
    EXPECT_EQ(player_->Dropouts().device.droppedBuffers, 0u);
}

}  // namespace
