// The player through the JACK driver on a real server: a file played reaches a JACK
// client connected to our out ports sample for sample, what a client plays into our in
// ports is recorded into "Out.wav" sample for sample, on a server whose period (1024)
// does not divide the player's block. A server that changes its period mid-play does
// not interrupt the file.
#include <unistd.h>

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
        ASSERT_TRUE(peer_.Start(name_));
        RegisterJack(scope_, name_);
        player_ = std::make_unique<Player>(&window_, scope_.workDir().c_str());
        ASSERT_TRUE(player_->DeviceReady()) << "the player could not open the JACK driver";
        ASSERT_TRUE(WaitUntil([&] { return peer_.Shared().connections.load() > 0; })) << "the peer never connected";
        EXPECT_EQ(ASIOSetSampleRate(), 48000);
        ASSERT_NE(control_ = OpenClient("bw-control-" + std::to_string(getpid())), nullptr);
    }
    void TearDown() override {
        player_.reset();
        if (control_ != nullptr) jack_client_close(control_);
    }

    // Plays the queued file (at most kHeardFrames - 256 frames) from its start until the
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
            const int xruns = peer_.Shared().xruns.load();
            player_->PlayPause();
            EXPECT_TRUE(player_->Playing());
            size_t heard = 0;
            for (jack_nframes_t period : periodChanges) {
                if (!WaitUntil([&] { return peer_.Shared().heard.load() >= heard + 48000; }, 30.0)) break;
                EXPECT_EQ(jack_set_buffer_size(control_, period), 0);
                EXPECT_TRUE(WaitUntil([&] { return jack_get_buffer_size(control_) == period; }));
                heard = peer_.Shared().heard.load();
                EXPECT_LT(heard, frames) << "the period changed to " << period << " after the file had ended";
            }
            EXPECT_TRUE(WaitUntil([&] { return peer_.Shared().heard.load() >= frames + 256; }, 30.0))
                << "the peer got " << peer_.Shared().heard.load() << " samples";
            EXPECT_TRUE(WaitUntil([&] { return window_.Count(WMU_TRACK_END) > 0; }, 30.0)) << "the track never ended";
            player_->Stop();
            if (peer_.Shared().xruns.load() == xruns) return true;
        }
        return HasFailure();
    }

    // The peer heard the file's samples exactly, then the zero fill of its last block.
    void ExpectHeardExactly(const std::vector<int16_t>& file) {
        const size_t frames = file.size() / 2;
        size_t wrong = 0, first = frames;
        for (size_t i = 0; i < frames; ++i) {
            if (peer_.Shared().left[i] == file[2 * i] && peer_.Shared().right[i] == file[2 * i + 1]) continue;
            if (wrong++ == 0) first = i;
        }
        EXPECT_EQ(wrong, 0u) << "first wrong frame " << first << ": " << peer_.Shared().left[first] << ", "
                             << peer_.Shared().right[first];
        EXPECT_EQ(peer_.Shared().left[frames], 0);
        EXPECT_EQ(peer_.Shared().right[frames], 0);
    }

    PrivateServer server_;  // before the peer and the player, so it outlives them
    std::unique_ptr<testing_support::EnvironmentScope> serverName_;
    IsolatedScope scope_;
    CounterPeer peer_;
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
    // A cycle lost to an xrun (a loaded machine) loses samples on the way, so such a
    // run is played again; each play starts the track from its beginning.
    if (!PlayToTheEnd(kFrames)) GTEST_SKIP() << kXrunsMessage;
    ExpectHeardExactly(file);
    EXPECT_EQ(window_.Count(WMU_ASIO_RESET), 0) << "the server dropped the driver: too slow, or the machine overloaded";
}

TEST_F(JackPlayerAtOddPeriod, AClientFeedingOurInputsIsRecordedExactly) {
    constexpr uint32_t kBlocks = 6;
    const Recorder& recorder = player_->GetRecorder();
    // As above, a recording made across an xrun is made again; each replaces Out.wav.
    int attempt = 0;
    for (; attempt < kAttempts; ++attempt) {
        const int xruns = peer_.Shared().xruns.load();
        player_->ToggleRecord();
        player_->PlayPause();
        ASSERT_TRUE(player_->RecordingActive());
        ASSERT_TRUE(WaitUntil([&] { return recorder.WrittenBlocks() + recorder.DroppedBlocks() >= kBlocks; }, 30.0))
            << "recorded " << recorder.WrittenBlocks() << " blocks";
        player_->Stop();
        if (peer_.Shared().xruns.load() == xruns) break;
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
    auto recorded = [](long long n) { return Counter(n); };
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
    if (!PlayToTheEnd(kFrames, {1024, 128})) GTEST_SKIP() << kXrunsMessage;
    ExpectHeardExactly(file);
    EXPECT_EQ(window_.Count(WMU_ASIO_RESET), 0) << "a period change is no reason to reset";
    EXPECT_EQ(player_->Dropouts().device.droppedBuffers, 0u);
}

}  // namespace
