// WAV-buffer streaming end to end on the virtual device's test clock: the test runs
// the buffer switches on its own thread and waits (on the callbacks' counters, never
// on time) for the channel's worker to refill each used segment.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

#include "host/asio_host.h"
#include "host/host.h"
#include "host/wav_buf.h"
#include "virtual_devices.h"

namespace {

using host_test::Dword;
using host_test::ExpectInOrder;
using host_test::MachineHive;
using host_test::TestClock;
using host_test::Text;
using testing_support::IsolatedScope;

constexpr int kSegmentSamples = 4608;
constexpr int kDriverSamples = 256;
constexpr int kSwitchesPerSegment = kSegmentSamples / kDriverSamples;

// What the callbacks saw; shared by the application's thread and the worker.
struct Stream {
    std::mutex mutex;
    std::condition_variable changed;
    int fills = 0;
    int records = 0;
    int lastFillBytes = 0;
    int lastRecordBytes = 0;
    uint32_t ramp = 0;
    std::vector<int16_t> playedLeft, playedRight;
    std::vector<int16_t> recordedLeft, recordedRight;

    static int16_t Left(uint32_t k) { return static_cast<int16_t>(k * 7 - 30000); }
    static int16_t Right(uint32_t k) { return static_cast<int16_t>(~(k * 5)); }

    static void Fill(void* data, int bytes, void* user) {
        Stream* s = static_cast<Stream*>(user);
        std::lock_guard<std::mutex> lock(s->mutex);
        const int n = bytes / 2;
        int16_t* p = static_cast<int16_t*>(data);
        for (int i = 0; i < n; ++i, ++s->ramp) {
            p[i] = Left(s->ramp);
            p[n + i] = Right(s->ramp);
            s->playedLeft.push_back(p[i]);
            s->playedRight.push_back(p[n + i]);
        }
        s->lastFillBytes = bytes;
        ++s->fills;
        s->changed.notify_all();
    }

    static void Record(void* data, int bytes, void* user) {
        Stream* s = static_cast<Stream*>(user);
        std::lock_guard<std::mutex> lock(s->mutex);
        const int n = bytes / 2;
        const int16_t* p = static_cast<const int16_t*>(data);
        s->recordedLeft.insert(s->recordedLeft.end(), p, p + n);
        s->recordedRight.insert(s->recordedRight.end(), p + n, p + 2 * n);
        s->lastRecordBytes = bytes;
        ++s->records;
        s->changed.notify_all();
    }

    // Waits for the worker to have handled at least this many callbacks.
    bool WaitFor(int wantFills, int wantRecords) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(20),
                                [&] { return fills >= wantFills && records >= wantRecords; });
    }
    int Fills() {
        std::lock_guard<std::mutex> lock(mutex);
        return fills;
    }
};

// A device sample read back as the 16-bit value it was made from (attenuation 0).
int32_t DeviceValue(long type, const uint8_t* area, int i) {
    switch (type) {
    case ASIOSTInt16LSB: {
        int16_t v;
        std::memcpy(&v, area + 2 * i, 2);
        return v;
    }
    case ASIOSTInt24LSB: {
        const uint32_t u = static_cast<uint32_t>(area[3 * i]) | static_cast<uint32_t>(area[3 * i + 1]) << 8 |
                           static_cast<uint32_t>(area[3 * i + 2]) << 16;
        return (static_cast<int32_t>(u << 8) >> 8) / 256;
    }
    case ASIOSTInt32LSB: {
        int32_t v;
        std::memcpy(&v, area + 4 * i, 4);
        return v / 65536;
    }
    default: {
        float f;
        std::memcpy(&f, area + 4 * i, 4);
        return static_cast<int32_t>(f * 32768.0f);
    }
    }
}

// One device opened in mode 6 with two segments per ring, on the test clock.
class Streaming {
public:
    explicit Streaming(std::vector<std::string> values = {}, long type = ASIOSTInt32LSB, bool testClock = true)
        : type_(type) {
        if (testClock) values.push_back(Text("Clock", "test"));
        values.push_back(Dword("BufferSize", kDriverSamples));
        values.push_back(Dword("SampleType", static_cast<unsigned>(type)));
        scope_.WriteMachineHive(MachineHive({{"Bellwave Virtual Device", values}}));
        int index = 0;
        ok_ = ASIOInit(&index, nullptr) && IsASIOInitialized() && CreatePrimaryBuffers(6) == 1;
        SetWavBufSegments(2);
        clock_ = std::make_unique<TestClock>();
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
        p.nChannel = 0;
        p.nBufferSizeSamples = kSegmentSamples;
        p.fnPlay = fill;
        p.fnRecord = Stream::Record;
        p.pUser = &stream;
        p.bNativeOut = native;
        p.bNativeIn = native;
        return InitWavSnd(p);
    }

    // Runs `switches` buffer switches, keeping what the device played on outputs 0 and 1.
    void Run(int switches) {
        const DeviceRecord* d = CurrentDeviceRecord();
        for (int i = 0; i < switches; ++i) {
            const int half = static_cast<int>(switchesSinceStart_ % 2);
            ASSERT_EQ(clock_->Advance(1), 1);
            ++switchesSinceStart_;
            const uint8_t* left = static_cast<const uint8_t*>(d->bufferInfos[0].buffers[half]);
            const uint8_t* right = static_cast<const uint8_t*>(d->bufferInfos[1].buffers[half]);
            for (int k = 0; k < kDriverSamples; ++k) {
                deviceLeft.push_back(DeviceValue(type_, left, k));
                deviceRight.push_back(DeviceValue(type_, right, k));
            }
        }
    }

    // Plays `segments` whole segments, waiting after each for the worker's refill.
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
    std::vector<int32_t> deviceLeft, deviceRight;

private:
    IsolatedScope scope_;
    long type_;
    bool ok_ = false;
    std::unique_ptr<TestClock> clock_;
    long long switchesSinceStart_ = 0;
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
    EXPECT_EQ(s.stream.fills, 2);
    EXPECT_EQ(s.stream.lastFillBytes, 9216);
    EXPECT_FALSE(PrepareBuffers(0));
    EXPECT_EQ(s.stream.fills, 2);

    // Released while prepared: no header may stay queued over the freed segments.
    ReleaseWavSnd(0);
    EXPECT_EQ(s.SoundBuffer()->GetOutHeaders(), nullptr);
    EXPECT_EQ(s.SoundBuffer()->GetInHeaders(), nullptr);
    s.stream.ramp = 0;
    ASSERT_TRUE(s.Init());
    ASSERT_TRUE(PrepareBuffers(0));
    ASSERT_TRUE(StartPlay(0));
    EXPECT_FALSE(StartPlay(0));
    s.RunSegments(2);
    for (size_t i = 0; i < s.deviceLeft.size(); ++i)
        ASSERT_EQ(s.deviceLeft[i], Stream::Left(static_cast<uint32_t>(i))) << i;
    ReleaseWavSnd(0);
    EXPECT_EQ(Host().workers[0], nullptr);
    EXPECT_FALSE(PrepareBuffers(0));  // no WavBuf any more
    ExpectInOrder(s.Log(), {"StartPlay: Buffers weren't PreLoaded!", "PrepareBuffers: Buffers already prepared!",
                            "StartPlay: Already started!"});

    s.Shutdown();
    IsolatedScope scope;
    scope.WriteMachineHive(
        MachineHive({{"Odd", {Text("Clock", "test"), Dword("BufferSize", 300), Dword("Granularity", 0)}}}));
    int index = 0;
    ASSERT_TRUE(ASIOInit(&index, nullptr));
    ASSERT_EQ(CreatePrimaryBuffers(6), 1);
    p.nChannel = 0;
    EXPECT_FALSE(InitWavSnd(p));  // 4608 is no multiple of 300
    ASIOShutdown();
    ExpectInOrder(host_test::ReadLines(scope.workDir() / "CorvaneDbg.Log"),
                  {"InitWavSnd error: Requested buffer size samples is not an exact multiple of ASIO primary "
                   "buffer size: 300"});
}

// A ramp goes out in order without gaps in each device type, and the loopback inputs
// bring it back to the record callback one device buffer later.
TEST(WavStreaming, RampThroughEveryDeviceTypeAndBackThroughTheLoopback) {
    for (long type : {ASIOSTInt16LSB, ASIOSTInt24LSB, ASIOSTInt32LSB, ASIOSTFloat32LSB}) {
        SCOPED_TRACE(type);
        Streaming s({Text("Input", "loopback")}, type);
        ASSERT_TRUE(s.Ok());
        ASSERT_TRUE(s.Init());
        ASSERT_TRUE(PrepareBuffers(0));
        ASSERT_TRUE(StartPlay(0));
        s.RunSegments(5);
        ASSERT_EQ(s.deviceLeft.size(), 5u * kSegmentSamples);
        for (size_t i = 0; i < s.deviceLeft.size(); ++i) {
            ASSERT_EQ(s.deviceLeft[i], Stream::Left(static_cast<uint32_t>(i))) << "sample " << i;
            ASSERT_EQ(s.deviceRight[i], Stream::Right(static_cast<uint32_t>(i))) << "sample " << i;
        }
        EXPECT_EQ(s.SoundBuffer()->DroppedBuffers(), 0u);
        EXPECT_EQ(s.SoundBuffer()->FailedBuffers(), 0u);

        // Position: whole segments handed back plus the samples of the current one.
        EXPECT_EQ(GetWavSndPosition(0), 5 * kSegmentSamples);
        s.Run(3);
        EXPECT_EQ(GetWavSndPosition(0), 5 * kSegmentSamples + 3 * kDriverSamples);

        std::lock_guard<std::mutex> lock(s.stream.mutex);
        EXPECT_EQ(s.stream.lastRecordBytes, 9216);
        ASSERT_EQ(s.stream.recordedLeft.size(), 5u * kSegmentSamples);
        const int tolerance = type == ASIOSTFloat32LSB ? 1 : 0;  // out / 32768, in x 32767
        for (size_t i = 0; i < s.stream.recordedLeft.size(); ++i) {
            const int wantLeft = i < kDriverSamples ? 0 : s.stream.playedLeft[i - kDriverSamples];
            const int wantRight = i < kDriverSamples ? 0 : s.stream.playedRight[i - kDriverSamples];
            ASSERT_NEAR(s.stream.recordedLeft[i], wantLeft, tolerance) << "sample " << i;
            ASSERT_NEAR(s.stream.recordedRight[i], wantRight, tolerance) << "sample " << i;
        }
    }
}

TEST(WavStreaming, StopPauseAndResume) {
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
    // Stopped: four switches of silence, then the device's areas are left alone.
    const size_t stoppedAt = s.deviceLeft.size();
    s.Run(6);
    for (size_t i = stoppedAt; i < stoppedAt + 4 * kDriverSamples; ++i) ASSERT_EQ(s.deviceLeft[i], 0) << i;

    // Prepared and started again: the ramp goes on where the fills left it.
    const uint32_t first = s.stream.ramp;
    ASSERT_TRUE(PrepareBuffers(0));
    ASSERT_TRUE(StartPlay(0));
    s.deviceLeft.clear();
    s.Run(5);
    PauseWavSnd(0);
    EXPECT_EQ(GetWavSndPosition(0), 5 * kDriverSamples);
    s.Run(10);
    EXPECT_EQ(GetWavSndPosition(0), 5 * kDriverSamples);
    for (size_t i = 5 * kDriverSamples; i < 9 * kDriverSamples; ++i) ASSERT_EQ(s.deviceLeft[i], 0) << i;
    ResumeWavSnd(0);
    s.deviceLeft.resize(5 * kDriverSamples);
    s.Run(kSwitchesPerSegment - 5);
    ASSERT_TRUE(host_test::WaitForWorker(1));
    s.RunSegments(2);
    for (size_t i = 0; i < s.deviceLeft.size(); ++i)
        ASSERT_EQ(s.deviceLeft[i], Stream::Left(first + static_cast<uint32_t>(i))) << i;
    EXPECT_EQ(s.SoundBuffer()->DroppedBuffers(), 0u);
}

TEST(WavStreaming, VolumeAttenuatesTheOutputs) {
    Streaming s;
    ASSERT_TRUE(s.Ok());
    ASSERT_TRUE(s.Init());
    ASSERT_TRUE(PrepareBuffers(0));
    SetWavSndVolume(0, 14);  // one step down: half the amplitude
    SetWavSndVolume(0, 16);  // ignored
    SetWavSndVolume(0, -1);  // ignored
    EXPECT_EQ(s.SoundBuffer()->GetAttenuation(), 1);
    ASSERT_TRUE(StartPlay(0));
    s.Run(2);
    int32_t raw[4];
    std::memcpy(raw, CurrentDeviceRecord()->bufferInfos[0].buffers[1], sizeof raw);  // the second switch's half
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(raw[i], static_cast<int32_t>(Stream::Left(static_cast<uint32_t>(kDriverSamples + i))) * 32768);
    SetWavSndVolume(0, 0);
    EXPECT_EQ(s.SoundBuffer()->GetAttenuation(), 15);
}

// Two devices one after the other in one process: the second one's segments must be
// sized for its own sample width.
TEST(WavStreaming, NativeDataOnDevicesOfDifferentWidths) {
    for (long type : {ASIOSTInt32LSB, ASIOSTInt24LSB}) {
        SCOPED_TRACE(type);
        Streaming s({}, type);
        ASSERT_TRUE(s.Ok());
        const PlayCallback fill = [](void* data, int bytes, void* user) {
            Stream* st = static_cast<Stream*>(user);
            const int width = Host().buffers->Format() == FormatClass::Int24 ? 3 : 4;
            uint8_t* p = static_cast<uint8_t*>(data);
            std::lock_guard<std::mutex> lock(st->mutex);
            for (int i = 0; i < bytes / width; ++i, ++st->ramp) {
                const int32_t v = static_cast<int32_t>(st->ramp * 1000) & 0x7FFFFF;
                std::memcpy(p + i * width, &v, static_cast<size_t>(width));
                std::memcpy(p + bytes + i * width, &v, static_cast<size_t>(width));
            }
            ++st->fills;
        };
        ASSERT_TRUE(s.Init(true, fill));
        const int width = type == ASIOSTInt24LSB ? 3 : 4;
        EXPECT_EQ(Host().wavBufs[0]->OutSegBytes(), width * kSegmentSamples);
        ASSERT_TRUE(PrepareBuffers(0));
        ASSERT_TRUE(StartPlay(0));
        s.RunSegments(3);
        // The last switch played half 1: samples 3 * 4608 - 256 .. of the ramp.
        const uint8_t* area = static_cast<const uint8_t*>(CurrentDeviceRecord()->bufferInfos[1].buffers[1]);
        for (int i = 0; i < kDriverSamples; i += 51) {
            int32_t got = 0;
            std::memcpy(&got, area + i * width, static_cast<size_t>(width));
            const uint32_t k = 3 * kSegmentSamples - kDriverSamples + static_cast<uint32_t>(i);
            EXPECT_EQ(got, static_cast<int32_t>(k * 1000) & 0x7FFFFF) << i;
        }
        EXPECT_EQ(s.SoundBuffer()->DroppedBuffers() + s.SoundBuffer()->FailedBuffers(), 0u);
    }
}

// Shutdown in the middle of a stream: the worker ends, the counters are logged, and
// channel operations afterwards are refused rather than crashed into.
TEST(WavStreaming, ShutdownWhileStreaming) {
    std::vector<std::string> lines;
    {
        Streaming s;
        ASSERT_TRUE(s.Ok());
        ASSERT_TRUE(s.Init());
        ASSERT_TRUE(PrepareBuffers(0));
        ASSERT_TRUE(StartPlay(0));
        s.RunSegments(1);
        s.Run(4);
        s.Shutdown();
        EXPECT_FALSE(IsASIOInitialized());
        EXPECT_EQ(Host().workers, nullptr);
        EXPECT_EQ(HostDriver(), nullptr);
        EXPECT_EQ(CurrentDeviceRecord(), nullptr);
        EXPECT_FALSE(PrepareBuffers(0));
        EXPECT_FALSE(StartPlay(0));
        EXPECT_EQ(GetWavSndPosition(0), 0);
        StopWavSnd(0);
        lines = s.Log();
    }
    ExpectInOrder(lines, {"Device calls: 22, channel: 0", "Dropped buffers: 0, channel: 0",
                          "Failed buffers: 0, channel: 0", "Shutting down debug logging system..."});
}

// The device's own real-time clock thread calls back while the application's thread
// pauses, resumes, changes the volume and reads the position: the threads meet as they
// do in the program (this is the test that ThreadSanitizer watches for races).
TEST(WavStreaming, RealTimeClockWhileTheApplicationControlsTheChannel) {
    Streaming s({Dword("Speed", 20)}, ASIOSTInt32LSB, false);
    ASSERT_TRUE(s.Ok());
    ASSERT_TRUE(s.Init());
    ASSERT_TRUE(PrepareBuffers(0));
    ASSERT_TRUE(StartPlay(0));
    ASSERT_TRUE(s.stream.WaitFor(5, 3));
    const int before = GetWavSndPosition(0);
    PauseWavSnd(0);
    SetWavSndVolume(0, 7);
    ResumeWavSnd(0);
    ASSERT_TRUE(s.stream.WaitFor(8, 6));
    EXPECT_GT(GetWavSndPosition(0), before);
    StopWavSnd(0);
    ASSERT_TRUE(PrepareBuffers(0));
    ASSERT_TRUE(StartPlay(0));
    ASSERT_TRUE(s.stream.WaitFor(s.stream.Fills() + 3, 0));
    s.Shutdown();
    ExpectInOrder(s.Log(), {"Failed buffers: 0, channel: 0"});
}

}  // namespace
