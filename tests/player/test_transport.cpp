// The transport: pause, seek, loop, stop and play again, volume.
#include <gtest/gtest.h>

#include "player_rig.h"

namespace {

using namespace player_test;

// The listed blocks of one channel, one after the other (past the end: silence).
std::vector<int16_t> Blocks(const std::vector<int16_t>& channel, const std::vector<int>& blocks) {
    std::vector<int16_t> out;
    for (int b : blocks)
        for (size_t i = 0; i < size_t(kSegment); ++i) {
            const size_t at = size_t(b) * kSegment + i;
            out.push_back(b >= 0 && at < channel.size() ? channel[at] : int16_t(0));
        }
    return out;
}

constexpr int kSilent = -1;

struct LongTrack {
    explicit LongTrack(Rig& rig, uint32_t frames = 20 * kSegment) {
        const std::vector<int16_t> source = WriteRampWav(rig.Work("long.wav"), frames, 2, 48000);
        left = Channel(source, 2, 0);
        right = Channel(source, 2, 1);
        rig.Queue("long.wav");
    }
    std::vector<int16_t> left, right;
};

TEST(Transport, PauseHoldsThePositionAndASeekWhilePausedShowsAtOnceAndPlaysAfterResume) {
    Rig rig;
    LongTrack track(rig);
    rig.player->PlayPause();
    rig.RunSegments(2);
    rig.player->PlayPause();
    ASSERT_TRUE(rig.player->Paused());
    EXPECT_TRUE(rig.player->Playing());
    EXPECT_EQ(rig.player->Link().State(), DeviceState::Paused);

    rig.window.Clear();
    const int position = GetWavSndPosition(0);
    const size_t before = rig.outLeft.size();
    rig.Run(40);
    EXPECT_EQ(GetWavSndPosition(0), position);
    EXPECT_EQ(std::vector<int16_t>(rig.outLeft.begin() + long(before), rig.outLeft.end()),
              std::vector<int16_t>(40 * 256, 0));
    EXPECT_EQ(rig.window.Count(WMU_LEVELS), 0);
    EXPECT_EQ(rig.window.Count(WMU_POSITION), 0);

    rig.player->SeekToFraction(0.5f);  // block 10
    auto positions = rig.Messages(WMU_POSITION);
    ASSERT_EQ(positions.size(), 1u);
    EXPECT_EQ(positions[0].wParam, WPARAM(20 * kSegment));
    EXPECT_EQ(positions[0].lParam, LPARAM(10 * kSegment));

    rig.player->PlayPause();
    EXPECT_FALSE(rig.player->Paused());
    EXPECT_EQ(rig.player->Link().State(), DeviceState::Playing);
    rig.outLeft.resize(before);
    rig.outRight.resize(before);
    rig.RunSegments(8);
    // What was decoded before the seek plays out first; the refill after segment 6
    // goes to block 10.
    EXPECT_EQ(rig.outLeft, Blocks(track.left, {0, 1, 2, 3, 4, 5, 6, 7, 10, 11}));
    EXPECT_EQ(rig.outRight, Blocks(track.right, {0, 1, 2, 3, 4, 5, 6, 7, 10, 11}));
    // The shown position goes on from the target.
    positions = rig.Messages(WMU_POSITION);
    ASSERT_GE(positions.size(), 2u);
    EXPECT_EQ(positions[1].lParam, LPARAM(14 * kSegment));
}

TEST(Transport, SeekWhilePlayingTakesEffectAtTheNextRefill) {
    Rig rig;
    LongTrack track(rig);
    rig.player->PlayPause();
    // Seeks outside [0, 1) are refused.
    rig.player->SeekToFraction(1.0f);
    rig.player->SeekToFraction(-0.1f);
    rig.RunSegments(3);
    rig.player->SeekToFraction(0.75f);  // block 15
    rig.RunSegments(6);
    EXPECT_EQ(rig.outLeft, Blocks(track.left, {0, 1, 2, 3, 4, 5, 6, 7, 15}));
    // A seek past the last four blocks starts four blocks before the end, and the
    // track still plays to its last block.
    rig.player->SeekToFraction(0.99f);
    rig.RunSegments(9);
    EXPECT_EQ(rig.outLeft,
              Blocks(track.left, {0, 1, 2, 3, 4, 5, 6, 7, 15, 16, 17, 18, 16, 17, 18, 19, kSilent, kSilent}));
    EXPECT_EQ(rig.window.Count(WMU_TRACK_END), 1);
}

TEST(Transport, LoopRewindsAtTheRefillAfterTheEndAndNeverEndsTheTrack) {
    Rig rig;
    LongTrack track(rig, 5 * kSegment - 50);
    rig.player->SetLoop(true);
    rig.player->PlayPause();
    rig.RunSegments(18);
    EXPECT_EQ(rig.window.Count(WMU_TRACK_END), 0);
    EXPECT_FALSE(rig.player->EndOfTrack());
    const int z = kSilent;
    EXPECT_EQ(rig.outLeft, Blocks(track.left, {0, 1, 2, 3, 4, z, z, z, 0, 1, 2, 3, 4, z, z, z, 0, 1}));
    // Loop off again: the track ends at its next end.
    rig.player->SetLoop(false);
    rig.RunSegments(8);
    EXPECT_EQ(rig.window.Count(WMU_TRACK_END), 1);
}

// Past 2^31 frames (12.4 hours at 48 kHz) the host's position and the one shown go on
// counting; the host has served that many segments as far as it knows.
TEST(Transport, PositionsPastTwoToThe31FramesKeepCounting) {
    Rig rig;
    LongTrack track(rig, 5 * kSegment);
    rig.player->SetLoop(true);
    rig.player->PlayPause();
    rig.RunSegments(2);
    const int segments = 466034;  // x 4608 = 2^31 + 1024
    Host().workers[0]->segmentCounter.store(segments);
    EXPECT_EQ(GetWavSndPosition(0), int64_t(segments) * kSegment);
    rig.window.Clear();
    rig.RunSegments(4);  // the refill after the next segment handed out posts the position
    const auto positions = rig.Messages(WMU_POSITION);
    ASSERT_EQ(positions.size(), 1u);
    EXPECT_EQ(positions[0].lParam, LPARAM(int64_t(segments + 3) * kSegment));
}

TEST(Transport, StopKeepsTheTrackAndPlayRestartsItAlsoAfterItFinished) {
    Rig rig;
    LongTrack track(rig, 2 * kSegment);
    rig.player->PlayPause();
    rig.RunSegments(1);
    rig.player->Stop();
    EXPECT_FALSE(rig.player->Playing());
    EXPECT_TRUE(rig.player->Loaded());
    EXPECT_STREQ(rig.player->Title(), "long.wav");
    EXPECT_EQ(rig.player->Link().State(), DeviceState::Prepared);
    rig.player->Stop();  // twice is harmless

    rig.ClearCaptured();
    rig.player->PlayPause();
    rig.RunSegments(6);
    EXPECT_EQ(rig.window.Count(WMU_TRACK_END), 1);
    EXPECT_EQ(rig.outLeft, Blocks(track.left, {0, 1, 2, 3, kSilent, kSilent}));

    // Finished, but the window has not moved on: Stop and Play start it over, also
    // after a seek made while stopped, and the shown position starts over with it.
    rig.player->Stop();
    rig.player->SeekToFraction(0.5f);
    rig.ClearCaptured();
    rig.window.Clear();
    rig.player->PlayPause();
    EXPECT_FALSE(rig.player->EndOfTrack());
    rig.RunSegments(4);
    EXPECT_EQ(rig.window.Count(WMU_TRACK_END), 1);
    EXPECT_EQ(rig.outLeft, Blocks(track.left, {0, 1, 2, 3}));
    const auto positions = rig.Messages(WMU_POSITION);
    ASSERT_EQ(positions.size(), 2u);  // the reset, then the refill after segment 2
    EXPECT_EQ(positions[1].lParam, LPARAM(kSegment));
}

TEST(Transport, VolumeLevelsReachTheHost) {
    Rig rig;
    LongTrack track(rig);
    rig.player->SetVolume(14);  // one step down: half the amplitude
    rig.player->SetVolume(16);  // ignored
    rig.player->SetVolume(-1);  // ignored
    EXPECT_EQ(rig.player->Volume(), 14);
    rig.player->PlayPause();
    AudioBuffer* sound = CurrentDeviceRecord()->soundBuffers[0];
    EXPECT_EQ(sound->GetAttenuation(), 1);
    rig.RunSegments(1);
    std::vector<int16_t> half = Blocks(track.left, {0});
    for (int16_t& v : half) v = int16_t(v >> 1);
    EXPECT_EQ(rig.outLeft, half);
    rig.player->SetVolume(0);
    EXPECT_EQ(sound->GetAttenuation(), 15);
    rig.player->SetVolume(15);
    EXPECT_EQ(sound->GetAttenuation(), 0);
}

}  // namespace
