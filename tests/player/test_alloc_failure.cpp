// The Nth `new (std::nothrow)` failing while the player opens its device, loads a
// track and starts a take: each is refused cleanly or succeeds, and the player does
// the same thing once allocations succeed again. This executable replaces the nothrow
// allocation functions; they allocate through the throwing ones, which their deletes pair with.
#include <atomic>
#include <functional>
#include <new>

#include "player_rig.h"

namespace {
std::atomic<long> untilFailure{0};  // 0: off; n: the nth nothrow allocation from now fails
std::atomic<bool> injected{false};
bool Fails() {
    if (untilFailure.load() <= 0 || untilFailure.fetch_sub(1) != 1) return false;
    injected.store(true);
    return true;
}
}  // namespace

void* operator new(size_t n, const std::nothrow_t&) noexcept try { return Fails() ? nullptr : ::operator new(n); } catch (...) {
    return nullptr;
}
void* operator new[](size_t n, const std::nothrow_t&) noexcept try { return Fails() ? nullptr : ::operator new[](n); } catch (...) {
    return nullptr;
}

namespace {

using namespace player_test;

struct Scenario {
    const char* name;
    std::function<void(Rig&)> prepare, act;
    std::function<bool(Rig&)> done;
    std::function<void(Rig&)> again;  // after a failure: the person tries once more
    const char* output;               // a take's file, and its size after four segments
    size_t bytes;
};

// For n = 1, 2, ... until the scenario runs with no failure: refused cleanly or done,
// and done on the next try; the device then plays or records whole segments.
TEST(AllocationFailure, OpeningLoadingAndRecordingAreRefusedCleanlyAndSucceedAfterwards) {
    testing_support::TempDir songs;
    ASSERT_FALSE(fixtures::LameEncode(songs.path(), "song", 3 * kSegment, 2, 48000, "-b 128").empty());
    const auto queueSong = [&](Rig& rig) {
        std::filesystem::copy_file(songs / "song.mp3", rig.Work("song.mp3"), std::filesystem::copy_options::skip_existing);
        rig.Queue("song.mp3");
    };
    const auto record = [](Rig& rig) {
        rig.player->ToggleRecord();
        rig.player->PlayPause();
    };
    const auto recording = [](Rig& rig) { return rig.player->RecordingActive(); };
    const auto recordAgain = [&](Rig& rig) {
        EXPECT_TRUE(rig.player->RecordArmed()) << "record mode stays selected";
        rig.player->Stop();
        record(rig);
    };
    const Scenario scenarios[] = {
        {"opening the device", nullptr,
         [](Rig& rig) {
             rig.player.reset();
             deviceUsable.store(false);
             rig.player = std::make_unique<Player>(&rig.window, rig.scope.workDir().c_str(), 0);
         },
         [](Rig& rig) { return rig.player->DeviceReady(); },
         [](Rig& rig) {
             EXPECT_EQ(deviceUsable.load(), rig.player->DeviceReady());
             selectedDevice.store(0);
             EXPECT_TRUE(rig.player->DeviceReady() || rig.player->ChangeDevice());
             rig.ReachClock();
         },
         nullptr, 0},
        {"loading a track", queueSong, [](Rig& rig) { rig.player->PlayPause(); },
         [](Rig& rig) { return rig.player->Playing() && std::string_view(rig.player->Title()) == "song.mp3"; },
         [&](Rig& rig) {
             EXPECT_TRUE(rig.player->Loaded() || (!rig.player->Playing() && rig.player->Refused() == rig.Work("song.mp3")));
             if (!rig.player->Loaded()) queueSong(rig);
             rig.player->PlayPause();
         },
         nullptr, 0},
        {"starting a WAV take", nullptr, record, recording, recordAgain, "Out.wav", 58 + kBlockBytes},
        {"starting an MP3 take", [](Rig& rig) { rig.player->SetRecordMp3(true); }, record, recording, recordAgain, "Out.mp3",
         (4 + 3) * 384},  // four 384-byte frames a block, three closing frames
    };
    for (const Scenario& scenario : scenarios) {
        for (long n = 1;; ++n) {
            SCOPED_TRACE(testing::Message() << scenario.name << ", allocation " << n);
            Rig rig({Device("Tone", 256, {Text("Input", "tone")})}, 0);
            if (scenario.prepare) scenario.prepare(rig);
            injected.store(false);
            untilFailure.store(n);
            scenario.act(rig);
            untilFailure.store(0);
            rig.ReachClock();  // the device's clock, when the act opened it anew
            if (injected.load()) {
                if (rig.player->Playing()) rig.RunSegments(1);
                scenario.again(rig);
            }
            ASSERT_TRUE(scenario.done(rig));
            if (!rig.player->Playing()) {
                queueSong(rig);
                rig.player->PlayPause();
            }
            ASSERT_TRUE(rig.player->Playing());
            rig.RunSegments(4);
            rig.player->Stop();
            if (scenario.output != nullptr) {
                EXPECT_EQ(testing_support::ReadFile(rig.Work(scenario.output)).size(), scenario.bytes);
            }
            if (!injected.load()) break;
        }
    }
}

}  // namespace
