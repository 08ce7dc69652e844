// The device query, buffer creation, the sound-buffer table and the buffer switch's
// channel areas, on a fake driver whose answers and buffers the test controls.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fake_driver.h"
#include "host/asio_buffers.h"
#include "host/buffer_switch.h"
#include "host/debug_log.h"
#include "virtual_devices.h"

namespace {

using host_test::ExpectInOrder;
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

// The four types the host converts are served; any other is refused after logging it.
TEST(DeviceQuery, ServesFourTypesAndRefusesOthers) {
    const struct {
        long type;
        int format;  // 0: refused
    } cases[] = {{ASIOSTInt16LSB, 1}, {ASIOSTInt24LSB, 2}, {ASIOSTInt32LSB, 3}, {ASIOSTFloat32LSB, 4},
                 {ASIOSTInt32MSB, 0}, {ASIOSTFloat64LSB, 0}, {5, 0}};
    for (const auto& c : cases) {
        LogScope log;
        FakeDriver drv;
        drv.type = c.type;
        drv.outputs = 3;
        drv.groups = {0, 0, 1};
        {
            ASIOBuffers b(&drv, nullptr);
            EXPECT_EQ(b.InitSuccess(), c.format != 0) << c.type;
            if (c.format) {
                EXPECT_EQ(static_cast<int>(b.Format()), c.format) << c.type;
                EXPECT_EQ(b.Record()->numOutputs, 2) << "outputs of the first group";
            }
        }
        const std::string type = std::string("ASIO sample type: ") + SampleTypeName(c.type);
        ExpectInOrder(log.Lines(), {"Channel: 2 - Group: 1 - Out 3, " + type, "First group output " + type,
                                    c.format ? "Hardware output channels: 2" : "Can't support sound card's internal format!"});
    }
}

TEST(DeviceQuery, InitFailureRequestedSizeAndRate) {
    LogScope log;
    FakeDriver failing;
    failing.initOk = false;
    { EXPECT_FALSE(ASIOBuffers(&failing, nullptr).InitSuccess()); }
    FakeDriver zero;  // a device that allows a size of 0: the request of 0 is no size at all
    zero.minSize = 0;
    { EXPECT_EQ(ASIOBuffers(&zero, nullptr).Record()->preferredSize, 256); }
    FakeDriver drv;
    drv.rate = 44100.7;
    {
        ASIOBuffers b(&drv, nullptr);
        EXPECT_EQ(b.GetSampleRate(), 44100);
        drv.rateResult = ASE_NotPresent;
        EXPECT_EQ(b.GetSampleRate(), 0);
    }
    ExpectInOrder(log.Lines(), {"fake init failure", "Buffer size requested not supported. Using preferred size.",
                                "Failed: GetSampleRate - No external clock I/O", "Last known sample rate: 44100"});
}

TEST(DeviceBuffers, CreatesTheBuffersOfEachMode) {
    const struct {
        int mode;
        long inputs;
        std::vector<std::pair<long, long>> infos;  // isInput, channel
    } shapes[] = {
        {1, 2, {{0, 0}}}, {2, 2, {{1, 0}}}, {3, 2, {{0, 0}, {1, 0}}}, {4, 2, {{0, 0}, {0, 1}}}, {5, 2, {{1, 0}, {1, 1}}},
        {6, 2, {{0, 0}, {0, 1}, {1, 0}, {1, 1}}}, {6, 1, {{0, 0}, {1, 0}}},  // more outputs than inputs
        {0, 2, {}}, {7, 2, {}},
    };
    for (const auto& s : shapes) {
        IsolatedScope scope;
        FakeDriver drv;
        drv.outputs = 8;
        drv.inputs = s.inputs;
        ASIOBuffers b(&drv, nullptr);
        ASSERT_EQ(b.CreatePrimaryBuffers(s.mode), !s.infos.empty()) << s.mode;
        std::vector<std::pair<long, long>> created;
        for (const ASIOBufferInfo& info : drv.created) created.push_back({info.isInput, info.channelNum});
        EXPECT_EQ(created, s.infos) << s.mode;
        if (s.infos.empty()) continue;
        EXPECT_EQ(drv.Area(0, 1)[1023], 0);  // both halves zeroed for the host
        EXPECT_FALSE(b.CreatePrimaryBuffers(s.mode));  // the buffers exist
    }
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
        ASSERT_TRUE(first && second);
        EXPECT_TRUE(drv.started);
        EXPECT_EQ(b.CreateSoundBuffer(0, &e1), nullptr);  // the table is full
        first->Play();
        drv.callbacks->bufferSwitch(0, ASIOTrue);
        drv.callbacks->bufferSwitch(1, ASIOTrue);
        b.ReleaseSoundBuffer(first);
        EXPECT_EQ(b.Record()->countAudioBuffers, 1);
        EXPECT_EQ(b.Record()->soundBuffers[0], second);
        b.ReleaseSoundBuffer(first);  // gone already
    }
    EXPECT_FALSE(drv.started);
    EXPECT_TRUE(drv.disposed);
    ExpectInOrder(log.Lines(), {"Error CreateSoundBuffer - invalid requested nChannel: 1",
                                "Error CreateSoundBuffer - No buffers available!", "Device calls: 2, channel: 0",
                                "Dropped buffers: 2, channel: 0", "ReleaseSoundBuffer - can't find location of lpAudioBuffer!"});
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
        std::vector<int16_t> out(16), in(16, 0);
        for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<int16_t>(1 + i);
        WaveHeader ho, hi;
        ho.data = reinterpret_cast<uint8_t*>(out.data());
        hi.data = reinterpret_cast<uint8_t*>(in.data());
        ho.length = hi.length = 8;  // bytes per side
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
            EXPECT_EQ(in[4 * c], 10 + c) << "mode " << mode << " input " << c;
            EXPECT_EQ(in[4 * c + 3], 40 + c) << "mode " << mode << " input " << c;
        }
        EXPECT_EQ(sb->DroppedBuffers() + sb->FailedBuffers(), 0u);
    }
}

}  // namespace
