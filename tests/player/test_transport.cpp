// The transport: pause, seek, loop, positions past 2^31 frames.
#include "player_rig.h"

namespace {

using namespace player_test;

constexpr int z = -1;  // a silent block

// The listed blocks of a track's left channel, one after the other.
std::vector<int16_t> Blocks(const std::vector<int16_t>& left, const std::vector<int>& blocks) {
    std::vector<int16_t> out;
    for (int b : blocks)
        for (size_t i = 0, at = size_t(b) * kSegment; i < size_t(kSegment); ++i, ++at)
            out.push_back(b >= 0 && at < left.size() ? left[at] : int16_t(0));
    return out;
}

// Queues a ramp of frames; its left channel.
std::vector<int16_t> LongTrack(Rig& rig, uint32_t frames, bool loop = false) {
    const std::vector<int16_t> left = Channel(WriteRampWav(rig.Work("long.wav"), frames, 2, 48000), 2, 0);
    rig.Queue("long.wav");
    rig.player->SetLoop(loop);
    rig.player->PlayPause();
    return left;
}

TEST(Transport, PauseHoldsThePositionAndSeeksTakeEffectAtTheNextRefill) {
    Rig rig;
    const std::vector<int16_t> left = LongTrack(rig, 20 * kSegment);
    rig.RunSegments(2);
    rig.player->PlayPause();
    EXPECT_EQ(rig.player->Link().State(), DeviceState::Paused);
    rig.window.Clear();
    const int position = GetWavSndPosition(0);
    const size_t before = rig.outLeft.size();
    rig.Run(40);
    EXPECT_EQ(GetWavSndPosition(0), position);
    EXPECT_EQ(std::vector<int16_t>(rig.outLeft.begin() + long(before), rig.outLeft.end()), std::vector<int16_t>(40 * 256, 0));
    EXPECT_EQ(rig.window.Count(WMU_LEVELS), 0);

    // A seek while paused shows at once; outside [0, 1) it is refused.
    rig.player->SeekToFraction(1.0f);
    rig.player->SeekToFraction(-0.1f);
    rig.player->SeekToFraction(0.5f);  // block 10
    const auto positions = rig.Messages(WMU_POSITION);
    ASSERT_EQ(positions.size(), 1u);
    EXPECT_EQ(positions[0].wParam, WPARAM(20 * kSegment));
    EXPECT_EQ(positions[0].lParam, LPARAM(10 * kSegment));
    rig.player->PlayPause();
    EXPECT_EQ(rig.player->Link().State(), DeviceState::Playing);
    rig.outLeft.resize(before);
    // What was decoded before a seek plays out first. A seek past the last four blocks
    // starts four blocks before the end, and the track still plays to its last block.
    rig.RunSegments(7);
    rig.player->SeekToFraction(0.99f);
    rig.RunSegments(9);
    EXPECT_EQ(rig.outLeft, Blocks(left, {0, 1, 2, 3, 4, 5, 6, 7, 10, 11, 12, 13, 16, 17, 18, 19, z, z}));
    EXPECT_EQ(rig.window.Count(WMU_TRACK_END), 1);
    EXPECT_EQ(rig.Messages(WMU_POSITION)[1].lParam, LPARAM(14 * kSegment)) << "the shown position goes on from the target";
}

TEST(Transport, LoopRewindsAtTheRefillAfterTheEndAndNeverEndsTheTrack) {
    Rig rig;
    const std::vector<int16_t> left = LongTrack(rig, 5 * kSegment - 50, true);
    rig.RunSegments(18);
    EXPECT_EQ(rig.window.Count(WMU_TRACK_END), 0);
    EXPECT_EQ(rig.outLeft, Blocks(left, {0, 1, 2, 3, 4, z, z, z, 0, 1, 2, 3, 4, z, z, z, 0, 1}));
    rig.player->SetLoop(false);  // the track ends at its next end
    rig.RunSegments(8);
    EXPECT_EQ(rig.window.Count(WMU_TRACK_END), 1);
}

// Past 2^31 frames (12.4 hours at 48 kHz) the host's position and the one shown go on.
TEST(Transport, PositionsPastTwoToThe31FramesKeepCounting) {
    Rig rig;
    LongTrack(rig, 5 * kSegment, true);
    rig.RunSegments(2);
    const int segments = 466034;  // x 4608 = 2^31 + 1024
    Host().workers[0]->segmentCounter.store(segments);
    EXPECT_EQ(GetWavSndPosition(0), int64_t(segments) * kSegment);
    rig.window.Clear();
    rig.RunSegments(4);
    const auto positions = rig.Messages(WMU_POSITION);
    ASSERT_EQ(positions.size(), 1u);
    EXPECT_EQ(positions[0].lParam, LPARAM(int64_t(segments + 3) * kSegment));
}

}  // namespace
