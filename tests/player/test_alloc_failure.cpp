// The Nth `new (std::nothrow)` failing while the player opens its device, loads a
// track and starts a take: each is refused cleanly or succeeds, and the player does
// the same thing once allocations succeed again. This executable replaces the global
// allocation functions (all of them, so ASan pairs every allocation with its release).
#include <atomic>
#include <cstdlib>
#include <new>

#include "player_rig.h"

namespace {
std::atomic<long> untilFailure{0};  // 0: off; n: the nth nothrow allocation from now fails
std::atomic<bool> injected{false};
}  // namespace

void* operator new(size_t n, const std::nothrow_t&) noexcept {
    if (untilFailure.load() > 0 && untilFailure.fetch_sub(1) == 1) {
        injected.store(true);
        return nullptr;
    }
    return std::malloc(n == 0 ? 1 : n);
}
void* operator new[](size_t n, const std::nothrow_t& tag) noexcept { return operator new(n, tag); }
void* operator new(size_t n) {
    if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t n) { return operator new(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace {

using namespace player_test;

// Runs action with the nth nothrow allocation failing; true when that failure happened.
template <typename Action>
bool FailingNth(long n, Action action) {
    injected.store(false);
    untilFailure.store(n);
    action();
    untilFailure.store(0);
    return injected.load();
}

TEST(AllocationFailure, OpeningTheDeviceIsRefusedAndAChangeOpensItAfterwards) {
    for (long n = 1;; ++n) {
        SCOPED_TRACE(n);
        Rig rig({Device("Tone", 256, {Text("Input", "tone")})}, 0);
        rig.player.reset();
        deviceUsable.store(false);
        const bool failed = FailingNth(n, [&] { rig.player = std::make_unique<Player>(&rig.window, rig.scope.workDir().c_str(), 0); });
        if (!failed) {
            EXPECT_TRUE(rig.player->DeviceReady());
            break;
        }
        EXPECT_EQ(deviceUsable.load(), rig.player->DeviceReady());
        if (!rig.player->DeviceReady()) {
            selectedDevice.store(0);
            ASSERT_TRUE(rig.player->ChangeDevice());
        }
        rig.ReachClock();
        WriteRampWav(rig.Work("t.wav"), 2 * kSegment, 2, 48000);
        rig.Queue("t.wav");
        rig.player->PlayPause();
        ASSERT_TRUE(rig.player->Playing());
        rig.RunSegments(1);
        rig.player->Stop();
    }
}

TEST(AllocationFailure, LoadingATrackIsRefusedAndLoadsAfterwards) {
    Rig rig;
    ASSERT_FALSE(fixtures::LameEncode(rig.scope.workDir(), "song", 3 * kSegment, 2, 48000, "-b 128").empty());
    const std::string path = rig.Work("song.mp3").string();
    for (long n = 1;; ++n) {
        SCOPED_TRACE(n);
        rig.Queue("song.mp3");
        const bool failed = FailingNth(n, [&] { rig.player->PlayPause(); });
        if (!failed) {
            EXPECT_TRUE(rig.player->Playing());
            rig.player->Stop();
            break;
        }
        EXPECT_TRUE(rig.player->Loaded() || !rig.player->Playing());
        if (!rig.player->Loaded()) {
            EXPECT_EQ(rig.player->Refused(), path);
            EXPECT_STREQ(rig.player->Title(), "");
            rig.Queue("song.mp3");
        }
        rig.player->PlayPause();
        ASSERT_TRUE(rig.player->Playing());
        EXPECT_STREQ(rig.player->Title(), "song.mp3");
        rig.player->Stop();
        rig.player->AdvanceQueue();  // unloads: the next round loads the track again
    }
}

TEST(AllocationFailure, StartingATakeIsRefusedAndStartsAfterwards) {
    for (const bool mp3 : {false, true}) {
        for (long n = 1;; ++n) {
            SCOPED_TRACE(testing::Message() << (mp3 ? "mp3 " : "wav ") << n);
            Rig rig({Device("Tone", 256, {Text("Input", "tone")})});
            rig.player->SetRecordMp3(mp3);
            rig.player->ToggleRecord();
            const bool failed = FailingNth(n, [&] { rig.player->PlayPause(); });
            if (!failed) {
                EXPECT_TRUE(rig.player->RecordingActive());
                break;
            }
            EXPECT_TRUE(rig.player->RecordArmed());
            if (rig.player->Playing()) rig.RunSegments(1);
            rig.player->Stop();
            rig.ClearCaptured();
            rig.player->ToggleRecord();
            rig.player->PlayPause();
            ASSERT_TRUE(rig.player->RecordingActive());
            rig.RunSegments(4);
            rig.player->Stop();
            const std::string file = testing_support::ReadFile(rig.Work(mp3 ? "Out.mp3" : "Out.wav"));
            EXPECT_EQ(file.size(), mp3 ? 4u * 384 + 3 * 384 : 58u + kBlockBytes) << "one block, complete";
        }
    }
}

}  // namespace
