// The player on the ALSA driver whose capture side goes away during a take: playback
// goes on, the loss is counted, and the take is closed at the loss with what reached it.
#include <algorithm>
#include <string>

#include "alsa_test_support.h"
#include "audiofiles/wav_layout.h"
#include "host/asio_messages.h"
#include "player/device_watch.h"
#include "player/player.h"

using namespace alsa_test;
using testing_support::IsolatedScope;
using testing_support::RecordingWindow;

namespace {

TEST(AlsaPlayer, CaptureGoneDuringATakeClosesTheTakeAtTheLoss) {
    IsolatedScope scope;
    // 256-frame periods, 18 to a block; capture goes 400 in: 2 s, time for a slow start.
    UseAlsaDevices(scope, "pcm.bw-take { type bwtest format \"S16_LE\" paced 1 capture_gone_at 400 }\n");
    scope.WriteMachineHive("REGEDIT4\n\n" + AlsaEntry("bw-take", 256));
    RecordingWindow window;
    Player player(&window, scope.workDir().c_str());
    ASSERT_TRUE(player.DeviceReady());
    DeviceWatch watch(player);
    player.ToggleRecord();
    player.PlayPause();
    ASSERT_TRUE(player.RecordingActive());
    ASSERT_TRUE(WaitUntil([&] { return watch.PollDropouts() == DeviceEvent::TakeClosed; }, 30.0))
        << "the take was never closed";
    EXPECT_EQ(watch.Totals().inputLosses, 1u);
    EXPECT_FALSE(player.RecordingActive());
    EXPECT_FALSE(player.Playing());
    EXPECT_TRUE(player.RecordArmed()) << "record mode stays; no new take starts by itself";
    EXPECT_EQ(window.Count(WMU_ASIO_RESET), 0) << "playback could go on: no reset";

    const std::string image = testing_support::ReadFile(scope.workDir() / "Out.wav");
    WavLayout layout;
    ASSERT_TRUE(ParseWavHeader(reinterpret_cast<const uint8_t*>(image.data()), uint32_t(image.size()), layout));
    EXPECT_EQ(layout.dataOffset + layout.sourceFrames * 4, image.size()) << "the sizes cover the whole take";
    // More xruns than the loss's mean capture ran late on a busy machine: silent periods.
    if (watch.Totals().xruns > 1) GTEST_SKIP() << "capture ran late (" << watch.Totals().xruns - 1 << " xruns)";
    const auto* samples = reinterpret_cast<const uint8_t*>(image.data()) + layout.dataOffset;
    size_t heard = 0;  // frames of the device's sound: 0x1111 left, 0x2222 right
    while (heard < layout.sourceFrames && ReadLe32(samples + 4 * heard) == 0x22221111u) ++heard;
    // 400 periods less what ran before the first switch and the three blocks not recorded.
    EXPECT_GE(heard, 7u * kBlockFrames);
    EXPECT_LE(heard, 400u * 256 - 3 * kBlockFrames);
    EXPECT_GT(layout.sourceFrames, heard) << "the block the loss fell in is in the take";
    EXPECT_LE(layout.sourceFrames - heard, 3u * kBlockFrames) << "closed soon after the loss";
    EXPECT_TRUE(std::all_of(samples + heard * 4, samples + layout.sourceFrames * 4, [](uint8_t b) { return b == 0; }))
        << "silence after the loss";
}

}  // namespace
