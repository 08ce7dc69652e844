// WAV-buffer streaming end to end on the virtual device's test clock: the test runs the
// buffer switches on its own thread and waits (on the worker's counters, never on time)
// for the channel's worker to refill each used segment.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/asio_host.h"
#include "host/host.h"
#include "host/wav_buf.h"
#include "virtual_devices.h"

namespace {

using host_test::Dword;
using host_test::ExpectInOrder;
using host_test::Text;
using testing_support::IsolatedScope;

constexpr int kSegmentSamples = 4608;
constexpr int kDriverSamples = 256;
constexpr int kSwitchesPerSegment = kSegmentSamples / kDriverSamples;

int16_t Left(uint32_t k) { return static_cast<int16_t>(k * 7 - 30000); }
int16_t Right(uint32_t k) { return static_cast<int16_t>(~(k * 5)); }

// What the callbacks saw: the fills play a stereo ramp, the records keep what came in.
struct Stream {
    std::mutex mutex;
    std::condition_variable changed;
    int fills = 0, records = 0;
    uint32_t ramp = 0;
    std::vector<int16_t> recordedLeft, recordedRight;

    static void Fill(void* data, int bytes, void* user) {
        Stream* s = static_cast<Stream*>(user);
        std::lock_guard<std::mutex> lock(s->mutex);
        int16_t* p = static_cast<int16_t*>(data);
        for (int i = 0, n = bytes / 2; i < n; ++i, ++s->ramp) p[i] = Left(s->ramp), p[n + i] = Right(s->ramp);
        ++s->fills;
        s->changed.notify_all();
    }
    static void Record(void* data, int bytes, void* user) {
        Stream* s = static_cast<Stream*>(user);
        std::lock_guard<std::mutex> lock(s->mutex);
        const int16_t* p = static_cast<const int16_t*>(data);
        s->recordedLeft.insert(s->recordedLeft.end(), p, p + bytes / 2);
        s->recordedRight.insert(s->recordedRight.end(), p + bytes / 2, p + bytes);
        ++s->records;
        s->changed.notify_all();
    }
    bool WaitFor(int wantFills, int wantRecords) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(20), [&] { return fills >= wantFills && records >= wantRecords; });
    }
};

// One device opened in mode 6 with two segments per ring, on the test clock unless told.
class Streaming {
public:
    explicit Streaming(std::vector<std::string> values = {}, long type = ASIOSTInt32LSB, bool testClock = true) {
        if (testClock) values.push_back(Text("Clock", "test"));
        values.push_back(Dword("BufferSize", kDriverSamples));
        values.push_back(Dword("SampleType", static_cast<unsigned>(type)));
        scope_.WriteMachineHive(host_test::MachineHive({{"Bellwave Virtual Device", values}}));
        int index = 0;
        ok_ = ASIOInit(&index, nullptr) && CreatePrimaryBuffers(6) == 1;
        SetWavBufSegments(2);
        clock_ = std::make_unique<host_test::TestClock>();
        ok_ = ok_ && (clock_->Valid() || !testClock);
    }
    ~Streaming() { Shutdown(); }
    void Shutdown() {
        clock_.reset();
        if (ok_) ASIOShutdown();
        ok_ = false;
    }
    bool Ok() const { return ok_; }
    bool Init(bool native = false, PlayCallback fill = Stream::Fill) {
        WavSndParams p;
        p.nBufferSizeSamples = kSegmentSamples;
        p.fnPlay = fill;
        p.fnRecord = Stream::Record;
        p.pUser = &stream;
        p.bNativeOut = p.bNativeIn = native;
        return InitWavSnd(p);
    }
    // Runs buffer switches, keeping what a 32-bit device played on output 0.
    void Run(int switches) {
        for (int i = 0; i < switches; ++i) {
            const int half = static_cast<int>(switches_++ % 2);
            ASSERT_EQ(clock_->Advance(1), 1);
            const uint8_t* area = static_cast<const uint8_t*>(CurrentDeviceRecord()->bufferInfos[0].buffers[half]);
            for (int k = 0; k < kDriverSamples; ++k) {
                int32_t v;
                std::memcpy(&v, area + 4 * k, 4);
                played.push_back(v / 65536);
            }
        }
    }
    // Plays whole segments, waiting after each for the worker's refill.
    void RunSegments(int segments) {
        for (int i = 0; i < segments; ++i) {
            const int done = Host().workers[0]->segmentCounter.load();
            Run(kSwitchesPerSegment);
            ASSERT_TRUE(host_test::WaitForWorker(done + 1)) << "the worker did not refill segment " << i;
        }
    }
    std::vector<std::string> Log() { return host_test::ReadLines(scope_.workDir() / "CorvaneDbg.Log"); }
    AudioBuffer* SoundBuffer() { return Host().soundBuffers[0]; }

    Stream stream;
    std::vector<int32_t> played;

private:
    IsolatedScope scope_;
    bool ok_ = false;
    std::unique_ptr<host_test::TestClock> clock_;
    long long switches_ = 0;
};

TEST(WavStreaming, ChannelOperationsInTheirOrder) {
    Streaming s;
    ASSERT_TRUE(s.Ok());
    WavSndParams p;
    p.nBufferSizeSamples = kSegmentSamples + 1;  // not a multiple of 256
    EXPECT_FALSE(InitWavSnd(p));
    p.nBufferSizeSamples = kSegmentSamples;
    p.nChannel = 1;  // only one virtual channel
    EXPECT_FALSE(InitWavSnd(p));
    ASSERT_TRUE(s.Init());
    EXPECT_FALSE(s.Init());  // the channel has its WavBuf
    EXPECT_EQ(Host().wavBufs[0]->OutBytes(), 2 * 18432);

    EXPECT_FALSE(StartPlay(0));
    ASSERT_TRUE(PrepareBuffers(0));
    EXPECT_EQ(s.stream.fills, 2);  // one per segment, no more
    EXPECT_FALSE(PrepareBuffers(0));
    EXPECT_EQ(s.stream.fills, 2);
    // Released while prepared: no header may stay queued over the freed segments.
    ReleaseWavSnd(0);
    EXPECT_EQ(s.SoundBuffer()->GetOutHeaders(), nullptr);
    EXPECT_EQ(s.SoundBuffer()->GetInHeaders(), nullptr);

    s.stream.ramp = 0;
    ASSERT_TRUE(s.Init());
    ASSERT_TRUE(PrepareBuffers(0));
    SetWavSndVolume(0, 14);  // one step down
    SetWavSndVolume(0, 16);  // ignored
    EXPECT_EQ(s.SoundBuffer()->GetAttenuation(), 1);
    SetWavSndVolume(0, 15);
    ASSERT_TRUE(StartPlay(0));
    EXPECT_FALSE(StartPlay(0));
    s.RunSegments(2);
    for (size_t i = 0; i < s.played.size(); ++i) ASSERT_EQ(s.played[i], Left(static_cast<uint32_t>(i))) << i;
    ReleaseWavSnd(0);
    EXPECT_EQ(Host().workers[0], nullptr);
    EXPECT_FALSE(PrepareBuffers(0));  // no WavBuf any more
    ExpectInOrder(s.Log(), {"StartPlay: Buffers weren't PreLoaded!", "PrepareBuffers: Buffers already prepared!",
                            "StartPlay: Already started!"});
}

// A ramp goes out in each device type and the loopback inputs bring it back to the record
// callback one device buffer later, without gaps.
TEST(WavStreaming, RampThroughEveryDeviceTypeAndBackThroughTheLoopback) {
    for (long type : {ASIOSTInt16LSB, ASIOSTInt24LSB, ASIOSTInt32LSB, ASIOSTFloat32LSB}) {
        SCOPED_TRACE(type);
        Streaming s({Text("Input", "loopback")}, type);
        ASSERT_TRUE(s.Ok());
        ASSERT_TRUE(s.Init());
        ASSERT_TRUE(PrepareBuffers(0));
        ASSERT_TRUE(StartPlay(0));
        s.RunSegments(5);
        EXPECT_EQ(s.SoundBuffer()->DroppedBuffers() + s.SoundBuffer()->FailedBuffers(), 0u);
        // Position: whole segments handed back plus the samples of the current one.
        EXPECT_EQ(GetWavSndPosition(0), 5 * kSegmentSamples);
        s.Run(3);
        EXPECT_EQ(GetWavSndPosition(0), 5 * kSegmentSamples + 3 * kDriverSamples);

        std::lock_guard<std::mutex> lock(s.stream.mutex);
        ASSERT_EQ(s.stream.recordedLeft.size(), 5u * kSegmentSamples);
        const int tolerance = type == ASIOSTFloat32LSB ? 1 : 0;  // out / 32768, in x 32767
        for (uint32_t i = 0; i < s.stream.recordedLeft.size(); ++i) {
            ASSERT_NEAR(s.stream.recordedLeft[i], i < kDriverSamples ? 0 : Left(i - kDriverSamples), tolerance) << i;
            ASSERT_NEAR(s.stream.recordedRight[i], i < kDriverSamples ? 0 : Right(i - kDriverSamples), tolerance) << i;
        }
    }
}

TEST(WavStreaming, StopPauseResumeAndShutdownWhileStreaming) {
    Streaming s;
    ASSERT_TRUE(s.Ok());
    ASSERT_TRUE(s.Init());
    ASSERT_TRUE(PrepareBuffers(0));
    PauseWavSnd(0);
    EXPECT_FALSE(StartPlay(0));  // paused before starting
    StopWavSnd(0);               // clears the flags the failed start left, and the pause

    ASSERT_TRUE(PrepareBuffers(0));
    ASSERT_TRUE(StartPlay(0));
    s.RunSegments(1);
    StopWavSnd(0);
    EXPECT_EQ(Host().workers[0], nullptr);
    EXPECT_EQ(GetWavSndPosition(0), 0);
    // Stopped: four switches of silence.
    s.played.clear();
    s.Run(6);
    for (size_t i = 0; i < 4 * kDriverSamples; ++i) ASSERT_EQ(s.played[i], 0) << i;

    // Prepared and started again: the ramp goes on where the fills left it, and a pause
    // holds the position and plays silence.
    const uint32_t first = s.stream.ramp;
    ASSERT_TRUE(PrepareBuffers(0));
    ASSERT_TRUE(StartPlay(0));
    s.played.clear();
    s.Run(5);
    PauseWavSnd(0);
    s.Run(10);
    EXPECT_EQ(GetWavSndPosition(0), 5 * kDriverSamples);
    for (size_t i = 5 * kDriverSamples; i < 9 * kDriverSamples; ++i) ASSERT_EQ(s.played[i], 0) << i;
    ResumeWavSnd(0);
    s.played.resize(5 * kDriverSamples);
    s.Run(kSwitchesPerSegment - 5);
    ASSERT_TRUE(host_test::WaitForWorker(1));
    s.RunSegments(1);
    for (size_t i = 0; i < s.played.size(); ++i) ASSERT_EQ(s.played[i], Left(first + static_cast<uint32_t>(i))) << i;

    // Shut down mid-stream: the counters are logged, channel operations are refused.
    s.Run(4);
    const std::vector<std::string> lines = (s.Shutdown(), s.Log());
    EXPECT_EQ(Host().workers, nullptr);
    EXPECT_FALSE(PrepareBuffers(0));
    EXPECT_FALSE(StartPlay(0));
    EXPECT_EQ(GetWavSndPosition(0), 0);
    StopWavSnd(0);
    ExpectInOrder(lines, {"Dropped buffers: 0, channel: 0", "Failed buffers: 0, channel: 0",
                          "Shutting down debug logging system..."});
}

// Devices of different widths one after the other: each one's segments are sized for its
// own sample width.
TEST(WavStreaming, NativeDataOnDevicesOfDifferentWidths) {
    for (long type : {ASIOSTInt32LSB, ASIOSTInt24LSB}) {
        Streaming s({}, type);
        ASSERT_TRUE(s.Ok());
        ASSERT_TRUE(s.Init(true, [](void*, int, void*) {}));
        EXPECT_EQ(Host().wavBufs[0]->OutSegBytes(), (type == ASIOSTInt24LSB ? 3 : 4) * kSegmentSamples) << type;
    }
}

// The device's own real-time clock thread calls back while the application's thread
// pauses, resumes, changes the volume and reads the position (ThreadSanitizer's test).
TEST(WavStreaming, RealTimeClockWhileTheApplicationControlsTheChannel) {
    Streaming s({Dword("Speed", 20)}, ASIOSTInt32LSB, false);
    ASSERT_TRUE(s.Ok());
    ASSERT_TRUE(s.Init());
    ASSERT_TRUE(PrepareBuffers(0));
    ASSERT_TRUE(StartPlay(0));
    ASSERT_TRUE(s.stream.WaitFor(5, 3));
    const int64_t before = GetWavSndPosition(0);
    PauseWavSnd(0);
    SetWavSndVolume(0, 7);
    ResumeWavSnd(0);
    ASSERT_TRUE(s.stream.WaitFor(8, 6));
    EXPECT_GT(GetWavSndPosition(0), before);
    StopWavSnd(0);
    ASSERT_TRUE(PrepareBuffers(0));
    ASSERT_TRUE(StartPlay(0));
    const int fills = [&] { std::lock_guard<std::mutex> lock(s.stream.mutex); return s.stream.fills; }();
    ASSERT_TRUE(s.stream.WaitFor(fills + 3, 0));
    s.Shutdown();
    ExpectInOrder(s.Log(), {"Failed buffers: 0, channel: 0"});
}

}  // namespace
