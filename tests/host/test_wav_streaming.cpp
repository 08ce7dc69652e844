// WAV-buffer streaming end to end on the virtual device's test clock: the test runs the
// buffer switches on its own thread and waits (on the worker's counters, never on time)
// for the channel's worker to refill each used segment. Pause, resume, stop and shutdown
// are driven through the player's tests.
#include <gtest/gtest.h>

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
    int fills = 0;
    uint32_t ramp = 0;
    std::vector<int16_t> recordedLeft, recordedRight;

    static void Fill(void* data, int bytes, void* user) {
        Stream* s = static_cast<Stream*>(user);
        std::lock_guard<std::mutex> lock(s->mutex);
        int16_t* p = static_cast<int16_t*>(data);
        for (int i = 0, n = bytes / 2; i < n; ++i, ++s->ramp) p[i] = Left(s->ramp), p[n + i] = Right(s->ramp);
        ++s->fills;
    }
    static void Record(void* data, int bytes, void* user) {
        Stream* s = static_cast<Stream*>(user);
        std::lock_guard<std::mutex> lock(s->mutex);
        const int16_t* p = static_cast<const int16_t*>(data);
        s->recordedLeft.insert(s->recordedLeft.end(), p, p + bytes / 2);
        s->recordedRight.insert(s->recordedRight.end(), p + bytes / 2, p + bytes);
    }
};

// One device opened in mode 6 with two segments per ring, on the test clock.
class Streaming {
public:
    explicit Streaming(std::vector<std::string> values = {}, long type = ASIOSTInt32LSB) {
        values.push_back(Text("Clock", "test"));
        values.push_back(Dword("BufferSize", kDriverSamples));
        values.push_back(Dword("SampleType", static_cast<unsigned>(type)));
        scope_.WriteMachineHive(host_test::MachineHive({{"Bellwave Virtual Device", values}}));
        int index = 0;
        ok_ = ASIOInit(&index, nullptr) && CreatePrimaryBuffers(6) == 1;
        SetWavBufSegments(2);
        clock_ = std::make_unique<host_test::TestClock>();
        ok_ = ok_ && clock_->Valid();
    }
    ~Streaming() {
        clock_.reset();
        if (ok_) ASIOShutdown();
    }
    bool Ok() const { return ok_; }
    bool Init() {
        WavSndParams p;
        p.nBufferSizeSamples = kSegmentSamples;
        p.fnPlay = Stream::Fill;
        p.fnRecord = Stream::Record;
        p.pUser = &stream;
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

}  // namespace
