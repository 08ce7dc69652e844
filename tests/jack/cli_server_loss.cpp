// `bellwave-cli play` and `record` through the JACK driver to a real peer, on a private
// server that goes away under them. The peer, in a child process, follows the server
// across restarts.
//
// Play: the peer hears the file exactly; the server stops 2 s in
// and starts again 2 s later at a period (1024) that does not divide the player's block;
// within 3 s the file goes on from where it stopped, within one block, exactly to its
// end. Record: the server stops mid-take; the command ends, saying so, and "Out.wav"
// holds the peer's counter without a gap up to the loss.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "audiofiles/wav_layout.h"
#include "jack_test_support.h"

using namespace jack_test;
using testing_support::IsolatedScope;
using testing_support::ReadFile;

namespace {

constexpr const char* kXrunSkip =
    "the JACK server lost a cycle (a loaded machine): samples were lost on the way, so nothing exact can be compared";

class CliServerLoss : public testing::Test {
protected:
    void SetUp() override {
        name_ = "bw-cli-" + std::to_string(getpid());
        ASSERT_TRUE(peer_.Start(name_));
        if (!server_.Start()) GTEST_SKIP() << kNoJackd;
        RegisterJack(scope_, name_);
    }
    pid_t StartCli(std::vector<std::string> args) {
        args.insert(args.begin(), (testing_support::BuildDir() / "bin/bellwave-cli").string());
        return testing_support::StartProcess(args, Out(), Err());
    }
    std::string Out() const { return (scope_.workDir() / "cli.out").string(); }
    std::string Err() const { return (scope_.workDir() / "cli.err").string(); }

    PrivateServer server_;
    CounterPeer peer_;  // forked first: no JACK client of ours exists yet
    IsolatedScope scope_;
    std::string name_;
};

TEST_F(CliServerLoss, PlayGoesOnWhereItStoppedOnceTheServerIsBack) {
    constexpr uint32_t kFrames = 48000 * 6;
    WriteNumberedWav(scope_.workDir() / "numbers.wav", kFrames);
    const pid_t cli = StartCli({"play", "--device", "JACK", "numbers.wav"});
    ASSERT_GT(cli, 0);
    const PeerShared& heard = peer_.Shared();
    // The frames heard from `n` on count up from `frame`; where they stop doing so.
    auto countsUp = [&](size_t n, long long frame, size_t end) {
        while (n < end && frame < kFrames && FrameOf(heard.left[n], heard.right[n]) == frame) ++n, ++frame;
        return n;
    };
    ASSERT_TRUE(WaitUntil([&] { return heard.heard.load() >= 2 * 48000; }, 30.0)) << ReadFile(Err());
    server_.Stop();
    const size_t before = heard.heard.load();
    const int xrunsBefore = heard.xruns.load();
    const long long stoppedAt = FrameOf(heard.left[before - 1], heard.right[before - 1]);
    ASSERT_TRUE(WaitUntil([&] { return ReadFile(Err()).find("the device has gone away") != std::string::npos; }))
        << ReadFile(Err());
    // (The command may start before the peer has connected: the first frames go unheard.)
    const size_t upToLoss = countsUp(0, FrameOf(heard.left[0], heard.right[0]), before);
    if (upToLoss != before && xrunsBefore != 0) GTEST_SKIP() << kXrunSkip;
    EXPECT_EQ(upToLoss, before) << "the file up to the loss, without a gap or a repeat";

    usleep(2000000);  // the server stays away for 2 s
    ASSERT_TRUE(server_.Start(1024)) << "the server did not start again";
    const int64_t returnedNs = MonotonicNs();
    ASSERT_TRUE(WaitUntil([&] { return heard.firstSoundNs[1].load() != 0; }, 30.0)) << "never heard again";
    const int xruns = heard.xruns.load();  // the server's stop and start have their own
    EXPECT_LT(heard.firstSoundNs[1].load() - returnedNs, 3000000000LL) << "heard again later than 3 s after the return";
    const size_t first = heard.firstFrame[1].load();
    const long long resumedAt = FrameOf(heard.left[first], heard.right[first]);
    EXPECT_LE(std::llabs(resumedAt - (stoppedAt + 1)), 4608) << "stopped after frame " << stoppedAt << ", went on at "
                                                             << resumedAt;

    EXPECT_EQ(testing_support::FinishProcess(cli, 30.0), 0) << ReadFile(Err());
    EXPECT_NE(ReadFile(Out()).find("played 1 track"), std::string::npos) << ReadFile(Out());
    EXPECT_NE(ReadFile(Err()).find("the device is back after"), std::string::npos) << ReadFile(Err());
    const size_t end = countsUp(first, resumedAt, heard.heard.load());
    if (end - first + resumedAt != kFrames && heard.xruns.load() != xruns) GTEST_SKIP() << kXrunSkip;
    EXPECT_EQ(end - first + resumedAt, kFrames) << "heard frame " << end << " is frame "
                                                << FrameOf(heard.left[end], heard.right[end]) << " of the file";
}

TEST_F(CliServerLoss, RecordEndsAtTheLossWithTheTakeUpToIt) {
    const pid_t cli = StartCli({"record", "--device", "JACK", "--seconds", "30"});
    ASSERT_GT(cli, 0);
    const auto wav = scope_.workDir() / "Out.wav";
    // The file is created before its header is written: a size under the header is no block.
    auto blocks = [&] {
        std::error_code error;
        const uintmax_t bytes = std::filesystem::file_size(wav, error);
        return error || bytes < 58 ? 0 : (bytes - 58) / 18432;
    };
    ASSERT_TRUE(WaitUntil([&] { return blocks() >= 12; }, 30.0)) << ReadFile(Err());
    const int xruns = peer_.Shared().xruns.load();
    server_.Stop();
    EXPECT_EQ(testing_support::FinishProcess(cli, 10.0), 1) << ReadFile(Err());
    EXPECT_NE(ReadFile(Err()).find("the device went away; Out.wav holds the take up to there"), std::string::npos)
        << ReadFile(Err());

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
    const long long start = at(2 * f) - 1;
    for (long long k = 0; f < layout.sourceFrames; ++f, ++k) {
        if (at(2 * f) == Counter(start + k) && at(2 * f + 1) == -Counter(start + k)) continue;
        if (xruns != 0) GTEST_SKIP() << kXrunSkip;
        FAIL() << "frame " << f << " of " << layout.sourceFrames << " breaks the counter";
    }
}

}  // namespace
