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

TEST(DeviceQuery, InitFailureAndRate) {
    LogScope log;
    FakeDriver failing;
    failing.initOk = false;
    { EXPECT_FALSE(ASIOBuffers(&failing, nullptr).InitSuccess()); }
    FakeDriver drv;
    drv.rate = 44100.7;
    {
        ASIOBuffers b(&drv, nullptr);
        EXPECT_EQ(b.GetSampleRate(), 44100);
        drv.rateResult = ASE_NotPresent;
        EXPECT_EQ(b.GetSampleRate(), 0);
    }
    ExpectInOrder(log.Lines(), {"fake init failure", "Failed: GetSampleRate - No external clock I/O",
                                "Last known sample rate: 44100"});
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

// Mono duplex (mode 3) serves output B[0] and input B[1]; stereo duplex is streamed end to
// end by the WAV-buffer tests.
TEST(BufferSwitch, ChannelAreasOfMonoDuplex) {
    IsolatedScope scope;
    FakeDriver drv;
    drv.outputs = 8;
    drv.preferred = drv.minSize = 4;
    ASIOBuffers b(&drv, nullptr);
    ASSERT_TRUE(b.CreatePrimaryBuffers(3));
    AutoResetEvent event;
    AudioBuffer* sb = b.CreateSoundBuffer(0, &event);
    ASSERT_NE(sb, nullptr);
    int16_t out[4] = {1, 2, 3, 4}, in[4] = {};
    WaveHeader ho, hi;
    ho.data = reinterpret_cast<uint8_t*>(out);
    hi.data = reinterpret_cast<uint8_t*>(in);
    ho.length = hi.length = sizeof out;
    ASSERT_TRUE(sb->PrepareOutHeader(&ho) && sb->PrepareInHeader(&hi));
    sb->QueueOutHeader(&ho);
    sb->QueueInHeader(&hi);
    const int32_t device[4] = {10 << 16, 20 << 16, 30 << 16, 40 << 16};
    std::memcpy(drv.Area(1, 1), device, sizeof device);
    sb->Play();
    drv.callbacks->bufferSwitch(1, ASIOFalse);
    int32_t played[4];
    std::memcpy(played, drv.Area(0, 1), sizeof played);
    EXPECT_EQ(std::vector<int32_t>(played, played + 4), (std::vector<int32_t>{1 << 16, 2 << 16, 3 << 16, 4 << 16}));
    EXPECT_EQ(drv.Area(0, 0)[2], 0) << "half 0 untouched";
    EXPECT_EQ(std::vector<int16_t>(in, in + 4), (std::vector<int16_t>{10, 20, 30, 40}));
    EXPECT_EQ(sb->DroppedBuffers() + sb->FailedBuffers(), 0u);
}

}  // namespace
