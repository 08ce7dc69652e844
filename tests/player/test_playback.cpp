// Playback end to end on the virtual device's test clock: what the device plays, the
// messages the window gets, the transport (pause, seek, loop), and the play list read
// from files and M3U lists into a folder table that can fill up.
#include <algorithm>
#include <cstdlib>

#include "player_rig.h"

namespace {

using namespace player_test;

std::vector<int16_t> Padded(std::vector<int16_t> channel, size_t total) {
    channel.resize(total, 0);
    return channel;
}

TEST(Playback, WavComesOutExactlyThenSilenceAndOneTrackEndWithPositionsAndMeters) {
    for (uint32_t channels : {2u, 1u}) {
        SCOPED_TRACE(channels);
        Rig rig;
        // Eleven blocks, the last partly silent; the refills come after segments 2, 6 and 10.
        const uint32_t frames = 10 * kSegment + 1000;
        const std::vector<int16_t> source = WriteRampWav(rig.Work("ramp.wav"), frames, channels, 48000);
        rig.Queue("ramp.wav");
        rig.player->PlayPause();
        EXPECT_EQ(rig.player->TotalFrames(), frames);
        EXPECT_STREQ(reinterpret_cast<const char*>(rig.Messages(WMU_TITLE).at(0).lParam), "ramp.wav");

        // Two silent segments follow the last block; the second reports the end, once.
        rig.RunSegments(11);
        EXPECT_EQ(rig.window.Count(WMU_TRACK_END), 0);
        rig.RunSegments(4);
        EXPECT_EQ(rig.window.Count(WMU_TRACK_END), 1);
        const size_t played = 15 * kSegment;
        EXPECT_EQ(rig.outLeft, Padded(Channel(source, int(channels), 0), played));
        EXPECT_EQ(rig.outRight, Padded(Channel(source, int(channels), channels - 1), played));

        // The display's reset, then the position at each refill.
        const auto positions = rig.Messages(WMU_POSITION);
        ASSERT_EQ(positions.size(), 4u);
        for (size_t k = 1; k < 4; ++k)
            EXPECT_TRUE(positions[k].wParam == WPARAM(frames) && positions[k].lParam == LPARAM((4 * k - 3) * kSegment)) << k;
        // One meter message per segment from the track, for the segment handed out two
        // before (the first two show silence).
        const auto levels = rig.Messages(WMU_LEVELS);
        ASSERT_EQ(levels.size(), 12u);
        for (size_t k = 0; k < levels.size(); ++k) {
            int32_t peak[2] = {0, 0};
            for (size_t i = (k < 2 ? played : k - 2) * kSegment, n = 0; n < size_t(kSegment) && i < played; ++i, ++n)
                for (int c = 0; c < 2; ++c) peak[c] = std::max(peak[c], std::abs(int32_t((c ? rig.outRight : rig.outLeft)[i])));
            EXPECT_EQ(int32_t(levels[k].wParam), peak[0]) << k;
            EXPECT_EQ(int32_t(levels[k].lParam), peak[1]) << k;
        }
    }
}

// With only entries that cannot play, nothing loads, the first refused is named and Play
// does not start the device; entries that cannot play are dropped on the way to one that can.
TEST(Playback, QueueDropsEntriesThatCannotPlay) {
    Rig rig;
    testing_support::WriteFile(rig.Work("junk.wav"), "RIFF but not a sound file at all");
    fixtures::WriteBytes(rig.Work("nodata.wav"), fixtures::MakeWav(1, 2, 48000, 16, {}));  // opens, has no block
    WriteRampWav(rig.Work("three.wav"), 100, 3, 48000);
    WriteRampWav(rig.Work("good.wav"), 100, 2, 48000);
    rig.Queue("missing.wav");
    rig.Queue("nodata.wav");
    rig.player->PlayPause();
    EXPECT_FALSE(rig.player->Loaded());
    EXPECT_EQ(rig.player->Link().State(), DeviceState::Prepared);
    EXPECT_EQ(rig.player->Directories().Count(), 0);
    EXPECT_EQ(rig.player->Refused(), rig.Work("missing.wav").string());
    EXPECT_GE(host_test::FindLine(rig.Log(), "Not playable: " + rig.Work("nodata.wav").string()), 0);
    for (const char* name : {"missing.wav", "junk.wav", "nodata.wav", "three.wav", "good.wav"}) rig.Queue(name);
    EXPECT_STREQ(rig.player->AdvanceQueue(), "good.wav");
    EXPECT_EQ(rig.player->RefusedCount(), 4);
    EXPECT_EQ(rig.player->Directories().Count(), 1);  // the same folder is stored once
}

// Another process cuts the file short while it plays: it plays up to the cut, the rest
// of that refill is silence, then the track ends (even with loop), and the log says so.
TEST(Playback, ATrackCutShortWhilePlayingEndsAtTheCut) {
    Rig rig;
    const std::vector<int16_t> source = WriteRampWav(rig.Work("long.wav"), 40 * kSegment, 2, 48000);
    rig.Queue("long.wav");
    rig.player->SetLoop(true);
    rig.player->PlayPause();
    rig.RunSegments(1);  // the next segment handed out refills blocks 4-7
    std::filesystem::resize_file(rig.Work("long.wav"), 44 + 6 * kBlockBytes);
    int segments = 1;
    for (; rig.window.Count(WMU_TRACK_END) == 0 && segments < 40; ++segments) rig.RunSegments(1);
    // Blocks 0-7 (6 and 7 silent) less the two handed out before the start, then two silent segments.
    EXPECT_EQ(segments, 8 - 2 + 2);
    const std::vector<int16_t> left = Channel(source, 2, 0);
    EXPECT_EQ(rig.outLeft, Padded({left.begin(), left.begin() + 6 * kSegment}, size_t(segments) * kSegment));
    EXPECT_GE(host_test::FindLine(rig.Log(), "Track file cut short while playing, the track ends: " + rig.Work("long.wav").string()), 0);
}

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

TEST(Transport, PauseIsSilentAndASeekWhilePausedShowsAtOnceAndTakesEffectAtTheNextRefill) {
    Rig rig;
    const std::vector<int16_t> left = LongTrack(rig, 20 * kSegment);
    rig.RunSegments(2);
    rig.player->PlayPause();
    EXPECT_EQ(rig.player->Link().State(), DeviceState::Paused);
    rig.window.Clear();
    // Paused, the device plays silence, and neither levels nor the position move.
    const size_t before = rig.outLeft.size();
    rig.Run(40);
    EXPECT_EQ(std::vector<int16_t>(rig.outLeft.begin() + long(before), rig.outLeft.end()), std::vector<int16_t>(40 * 256));
    EXPECT_EQ(rig.window.Count(WMU_LEVELS) + rig.window.Count(WMU_POSITION), 0);
    rig.outLeft.resize(before);
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

// Past 2^31 frames (12.4 hours at 48 kHz) the host's position and the one shown go on counting.
TEST(Transport, PositionsPastTwoToThe31FramesKeepCounting) {
    Rig rig;
    LongTrack(rig, 5 * kSegment, true);
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

std::string Joined(const PlayList& list) {
    std::string text;
    for (int k = 0; k < list.Count(); ++k) text += list.ItemText(k) + (":" + std::to_string(list.ItemData(k))) + " ";
    return text;
}

TEST(PlayList, AddsFilesAndM3uEntriesDroppingOnlyWhatDoesNotFit) {
    testing_support::TempDir dir;
    const std::string m3u = (dir / "best.m3u").string();
    // A name that fits the reader's 255 bytes but not an entry comes first: a folder slot
    // taken for it would leave none for "Live".
    testing_support::WriteFile(m3u, "/a/" + std::string(244, 'n') + ".mp3\nSONG.MP3\nLive\\a.wav\n/full/b.mp3\nc.mp3\nlive/d.wav");
    PlayList list;
    DirectoryTable table;
    EXPECT_TRUE(AddFileToList(list, table, "/music/a.mp3"));
    EXPECT_FALSE(AddFileToList(list, table, "bare.mp3"));
    for (int i = 1; i < kDirectorySlots - 2; ++i) table.AddDirectory(("/d" + std::to_string(i)).c_str());
    // Two slots left: the list's folder and "Live"; "/full" and "live" find the table full.
    EXPECT_EQ(AddM3uToList(list, table, m3u.c_str(), fopen(m3u.c_str(), "rb")), 3);
    EXPECT_EQ(Joined(list), "a.mp3:0 SONG.MP3:62 a.wav:63 c.mp3:62 ");
    // Read twice into a roomy table, the list stores each folder once.
    table.ClearDirectories();
    EXPECT_EQ(AddM3uToList(list, table, m3u.c_str(), fopen(m3u.c_str(), "rb")), 5);
    EXPECT_EQ(AddM3uToList(list, table, m3u.c_str(), fopen(m3u.c_str(), "rb")), 5);
    EXPECT_EQ(table.Count(), 4);  // the list's folder, Live, /full, live
}

}  // namespace
