// The device query, buffer creation, the sound-buffer table and the buffer switch's
// channel areas, on a fake driver whose answers and buffers the test controls.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "fake_driver.h"
#include "host/asio_buffers.h"
#include "host/buffer_switch.h"
#include "host/debug_log.h"
#include "virtual_devices.h"

namespace {

using host_test::ExpectInOrder;
using host_test::FindLine;
using testing_support::IsolatedScope;

// A debug log for the scope's life; Lines() closes it and reads it back.
class LogScope {
public:
    LogScope() { DebugLogOpen(); }
    ~LogScope() { DebugLogClose(); }
    std::vector<std::string> Lines() {
        DebugLogClose();
        return host_test::ReadLines(scope_.workDir() / "CorvaneDbg.Log");
    }

private:
    IsolatedScope scope_;
};

TEST(DeviceQuery, LogsTheDeviceAndServesFourTypes) {
    LogScope log;
    FakeDriver drv;
    drv.type = ASIOSTFloat32LSB;
    drv.outputs = 3;
    drv.groups = {0, 0, 1};
    {
        ASIOBuffers b(&drv, nullptr);
        EXPECT_TRUE(b.InitSuccess());
        EXPECT_EQ(b.Format(), FormatClass::Float32);
        EXPECT_EQ(b.Record()->numOutputs, 2);
    }
    const std::vector<std::string> lines = log.Lines();
    ExpectInOrder(lines, {"Fake", "lnDrvrVer: 7", "numInputChannels: 2, numOutputChannels: 3",
                          "inputLatency: 256, outputLatency: 512", "minSize: 64, maxSize: 2048",
                          "preferredSize: 256, granularity: -1", "sampleRate: 48000", "Channels available...",
                          "Channel: 0 - Group: 0 - Out 1, ASIO sample type: ASIOSTFloat32LSB",
                          "Channel: 2 - Group: 1 - Out 3, ASIO sample type: ASIOSTFloat32LSB",
                          "Num first group output channels: 2",
                          "First group output ASIO sample type: ASIOSTFloat32LSB", "Hardware output channels: 2"});
    // minSize 64 is above the requested 0: nothing is said about the request.
    EXPECT_EQ(FindLine(lines, "Buffer size requested not supported. Using preferred size."), -1);

    for (long type : {ASIOSTInt16LSB, ASIOSTInt24LSB, ASIOSTInt32LSB}) {
        FakeDriver d;
        d.type = type;
        ASIOBuffers b(&d, nullptr);
        EXPECT_TRUE(b.InitSuccess()) << type;
        EXPECT_EQ(static_cast<int>(b.Format()), type - ASIOSTInt16LSB + 1) << type;
    }
}

TEST(DeviceQuery, RefusesOtherTypesAfterLoggingThem) {
    for (long type : {long{ASIOSTInt32MSB}, long{ASIOSTFloat64LSB}, 5L}) {
        LogScope log;
        FakeDriver drv;
        drv.type = type;
        { EXPECT_FALSE(ASIOBuffers(&drv, nullptr).InitSuccess()) << type; }
        ExpectInOrder(log.Lines(), {std::string("First group output ASIO sample type: ") + SampleTypeName(type),
                                    "Can't support sound card's internal format!"});
    }
    // Each of the 18 types has its own name; the numbers between them have none.
    std::set<std::string> names;
    for (long t = 0; t <= 40; ++t) names.insert(SampleTypeName(t));
    EXPECT_EQ(names.size(), 19u);
    EXPECT_STREQ(SampleTypeName(ASIOSTInt32LSB24), "ASIOSTInt32LSB24");
    EXPECT_STREQ(SampleTypeName(12), "Unknown format");
}

TEST(DeviceQuery, InitFailureRequestedSizeAndRate) {
    LogScope log;
    FakeDriver failing;
    failing.initOk = false;
    { EXPECT_FALSE(ASIOBuffers(&failing, nullptr).InitSuccess()); }

    // A device that allows a size of 0: the request of 0 is no size at all.
    FakeDriver zero;
    zero.minSize = 0;
    zero.granularity = 32;
    { EXPECT_EQ(ASIOBuffers(&zero, nullptr).Record()->preferredSize, 256); }

    FakeDriver drv;
    drv.rate = 44100.7;
    {
        ASIOBuffers b(&drv, nullptr);
        EXPECT_EQ(b.GetSampleRate(), 44100);
        drv.rateResult = ASE_NotPresent;
        EXPECT_EQ(b.GetSampleRate(), 0);
        drv.rateResult = ASE_HWMalfunction;
        EXPECT_EQ(b.GetSampleRate(), 0);
    }
    ExpectInOrder(log.Lines(), {"fake init failure", "Buffer size requested not supported. Using preferred size.",
                                "Failed: GetSampleRate - No external clock I/O", "Last known sample rate: 44100",
                                "Failed: function GetSampleRate - Reason unknown", "Last known sample rate: 44100"});
}

TEST(DeviceBuffers, CreatesTheBuffersOfEachMode) {
    const struct {
        int mode;
        long inputs;
        std::vector<std::pair<long, long>> infos;  // isInput, channel
    } shapes[] = {
        {1, 2, {{0, 0}}},
        {2, 2, {{1, 0}}},
        {3, 2, {{0, 0}, {1, 0}}},
        {4, 2, {{0, 0}, {0, 1}}},
        {5, 2, {{1, 0}, {1, 1}}},
        {6, 2, {{0, 0}, {0, 1}, {1, 0}, {1, 1}}},
        {6, 1, {{0, 0}, {1, 0}}},  // more outputs than inputs
    };
    for (const auto& s : shapes) {
        IsolatedScope scope;
        FakeDriver drv;
        drv.outputs = 8;
        drv.inputs = s.inputs;
        ASIOBuffers b(&drv, nullptr);
        ASSERT_TRUE(b.CreatePrimaryBuffers(s.mode)) << s.mode;
        ASSERT_EQ(drv.created.size(), s.infos.size()) << s.mode;
        for (size_t i = 0; i < s.infos.size(); ++i) {
            EXPECT_EQ(drv.created[i].isInput, s.infos[i].first) << s.mode << " entry " << i;
            EXPECT_EQ(drv.created[i].channelNum, s.infos[i].second) << s.mode << " entry " << i;
        }
        EXPECT_EQ(b.Record()->bytesPerBuffer, 256 * 4);
        EXPECT_EQ(drv.Area(0, 1)[1023], 0);  // both halves zeroed for the host
        EXPECT_FALSE(b.CreatePrimaryBuffers(s.mode));  // the buffers exist
    }
    IsolatedScope scope;
    FakeDriver drv;
    ASIOBuffers b(&drv, nullptr);
    EXPECT_FALSE(b.CreatePrimaryBuffers(0));
    EXPECT_FALSE(b.CreatePrimaryBuffers(7));
}

TEST(SoundBuffers, TableCreationReleaseAndCounters) {
    LogScope log;
    FakeDriver drv;
    {
        ASIOBuffers b(&drv, nullptr);
        ASSERT_TRUE(b.CreatePrimaryBuffers(4));
        AutoResetEvent e0, e1;
        EXPECT_EQ(b.CreateSoundBuffer(1, &e1), nullptr);  // 2 * 1 + 1 is not below 2 outputs
        AudioBuffer* first = b.CreateSoundBuffer(0, &e0);
        AudioBuffer* second = b.CreateSoundBuffer(0, &e1);
        ASSERT_NE(first, nullptr);
        ASSERT_NE(second, nullptr);
        EXPECT_TRUE(drv.started);
        EXPECT_EQ(b.CreateSoundBuffer(0, &e1), nullptr);  // the table is full

        first->Play();
        drv.callbacks->bufferSwitch(0, ASIOTrue);
        drv.callbacks->bufferSwitch(1, ASIOTrue);
        b.ReleaseSoundBuffer(first);
        EXPECT_EQ(b.Record()->countAudioBuffers, 1);
        EXPECT_EQ(b.Record()->soundBuffers[0], second);
        EXPECT_EQ(b.Record()->soundBuffers[1], nullptr);
        b.ReleaseSoundBuffer(first);  // gone already
    }
    EXPECT_FALSE(drv.started);
    EXPECT_TRUE(drv.disposed);
    // The refusals and each released buffer's counts.
    ExpectInOrder(log.Lines(), {"Error CreateSoundBuffer - invalid requested nChannel: 1",
                                "Error CreateSoundBuffer - No buffers available!", "Device calls: 2, channel: 0",
                                "Dropped buffers: 2, channel: 0", "Failed buffers: 0, channel: 0",
                                "ReleaseSoundBuffer - can't find location of lpAudioBuffer!",
                                "Device calls: 0, channel: 0"});
}

// Mono duplex serves B[0] and B[n]; stereo duplex B[0], B[1], B[n], B[n + 1].
TEST(BufferSwitch, ChannelAreasOfMonoAndStereoDuplex) {
    for (int mode : {3, 6}) {
        IsolatedScope scope;
        FakeDriver drv;
        drv.outputs = 8;
        drv.preferred = drv.minSize = 4;
        ASIOBuffers b(&drv, nullptr);
        ASSERT_TRUE(b.CreatePrimaryBuffers(mode));
        AutoResetEvent event;
        AudioBuffer* sb = b.CreateSoundBuffer(0, &event);
        ASSERT_NE(sb, nullptr);
        const int n = mode == 3 ? 1 : 2;  // outputs activated
        const uint32_t side = 4 * 2;
        std::vector<uint8_t> out(2 * side), in(2 * side, 0);
        for (size_t i = 0; i < out.size() / 2; ++i) {
            const int16_t v = static_cast<int16_t>(1 + i);
            std::memcpy(out.data() + 2 * i, &v, 2);
        }
        WaveHeader ho, hi;
        ho.data = out.data();
        ho.length = side;
        hi.data = in.data();
        hi.length = side;
        ASSERT_TRUE(sb->PrepareOutHeader(&ho) && sb->PrepareInHeader(&hi));
        sb->QueueOutHeader(&ho);
        sb->QueueInHeader(&hi);
        for (int c = 0; c < n; ++c) {
            const int32_t v[4] = {(10 + c) << 16, (20 + c) << 16, (30 + c) << 16, (40 + c) << 16};
            std::memcpy(drv.Area(n + c, 1), v, sizeof v);
        }
        sb->Play();
        drv.callbacks->bufferSwitch(1, ASIOFalse);
        for (int c = 0; c < n; ++c) {
            int32_t v[4];
            std::memcpy(v, drv.Area(c, 1), sizeof v);
            EXPECT_EQ(v[0], (1 + 4 * c) << 16) << "mode " << mode << " output " << c;
            EXPECT_EQ(v[3], (4 + 4 * c) << 16) << "mode " << mode << " output " << c;
            EXPECT_EQ(drv.Area(c, 0)[0], 0) << "half 0 untouched";
            int16_t s[4];
            std::memcpy(s, in.data() + c * side, sizeof s);
            EXPECT_EQ(s[0], 10 + c) << "mode " << mode << " input " << c;
            EXPECT_EQ(s[3], 40 + c) << "mode " << mode << " input " << c;
        }
        EXPECT_EQ(sb->DroppedBuffers() + sb->FailedBuffers(), 0u);
    }
}

}  // namespace
