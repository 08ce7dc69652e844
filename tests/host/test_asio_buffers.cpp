// The device query, buffer creation, the sound-buffer table and the buffer switch's
// channel areas, on a fake driver whose buffers the test can read directly.
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
#include "tests/support/test_support.h"

namespace {

using testing_support::IsolatedScope;
using testing_support::ReadFile;

// Lines of the debug log written while the scope lived.
class LogScope {
public:
    LogScope() { DebugLogOpen(); }
    ~LogScope() { DebugLogClose(); }
    std::vector<std::string> Lines() {
        DebugLogClose();
        std::vector<std::string> lines;
        std::string text = ReadFile(scope_.workDir() / "CorvaneDbg.Log");
        size_t at = 0;
        while (at <= text.size()) {
            size_t end = text.find('\n', at);
            if (end == std::string::npos) end = text.size();
            std::string line = text.substr(at, end - at);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            lines.push_back(line);
            at = end + 1;
        }
        return lines;
    }

private:
    IsolatedScope scope_;
};

// Index of the first line equal to `line` at or after `from`, or -1.
int Find(const std::vector<std::string>& lines, const std::string& line, int from = 0) {
    for (size_t i = static_cast<size_t>(from); i < lines.size(); ++i)
        if (lines[i] == line) return static_cast<int>(i);
    return -1;
}

std::string Dump(const std::vector<std::string>& lines) {
    std::string all;
    for (const std::string& l : lines) all += l + "\n";
    return all;
}

TEST(DeviceQuery, LogsTheDeviceAndAcceptsTheFourTypes) {
    LogScope log;
    FakeDriver drv;
    drv.type = ASIOSTFloat32LSB;
    drv.outputs = 3;
    drv.groups = {0, 0, 1};
    {
        ASIOBuffers b(&drv, nullptr);
        EXPECT_TRUE(b.bInitSuccess);
        EXPECT_EQ(b.formatClass, kFormatFloat32);
        EXPECT_EQ(b.Record()->numOutputs, 2);
        EXPECT_EQ(b.Record()->preferredSize, 256);
        EXPECT_EQ(b.Record()->sampleRateHz, 48000);
    }
    const std::vector<std::string> lines = log.Lines();
    const char* ordered[] = {
        "Fake",
        "lnDrvrVer: 7",
        "numInputChannels: 2, numOutputChannels: 3",
        "inputLatency: 256, outputLatency: 512",
        "minSize: 64, maxSize: 2048",
        "preferredSize: 256, granularity: -1",
        "sampleRate: 48000",
        "Channels available...",
        "Channel: 0 - Group: 0 - Out 1, ASIO sample type: ASIOSTFloat32LSB",
        "Channel: 1 - Group: 0 - Out 2, ASIO sample type: ASIOSTFloat32LSB",
        "Channel: 2 - Group: 1 - Out 3, ASIO sample type: ASIOSTFloat32LSB",
        "Num first group output channels: 2",
        "First group output ASIO sample type: ASIOSTFloat32LSB",
        "Hardware output channels: 2",
    };
    int at = 0;
    for (const char* line : ordered) {
        const int found = Find(lines, line, at);
        ASSERT_GE(found, 0) << "missing or out of order: " << line << "\n" << Dump(lines);
        at = found + 1;
    }
    // minSize 64 is above the requested 0: nothing is said about the request.
    EXPECT_EQ(Find(lines, "Buffer size requested not supported. Using preferred size."), -1);

    const struct {
        ASIOSampleType type;
        int formatClass;
    } served[] = {{ASIOSTInt16LSB, 1}, {ASIOSTInt24LSB, 2}, {ASIOSTInt32LSB, 3}};
    for (const auto& s : served) {
        FakeDriver d;
        d.type = s.type;
        ASIOBuffers b(&d, nullptr);
        EXPECT_TRUE(b.bInitSuccess) << s.type;
        EXPECT_EQ(b.formatClass, s.formatClass) << s.type;
    }
}

TEST(DeviceQuery, RefusesOtherTypesAfterLoggingThem) {
    const struct {
        ASIOSampleType type;
        const char* line;
    } refused[] = {
        {ASIOSTInt32MSB, "First group output ASIO sample type: ASIOSTInt32MSB"},
        {ASIOSTFloat64LSB, "First group output ASIO sample type: ASIOSTFloat64LSB"},
        {ASIOSTInt32LSB24, "First group output ASIO sample type: ASIOSTInt32LSB24"},
        {5, "First group output ASIO sample type: Unknown format"},
    };
    for (const auto& r : refused) {
        LogScope log;
        FakeDriver drv;
        drv.type = r.type;
        {
            ASIOBuffers b(&drv, nullptr);
            EXPECT_FALSE(b.bInitSuccess) << r.type;
        }
        const std::vector<std::string> lines = log.Lines();
        const int typeLine = Find(lines, r.line);
        const int refusal = Find(lines, "Can't support sound card's internal format!");
        EXPECT_GE(typeLine, 0) << Dump(lines);
        EXPECT_GT(refusal, typeLine) << Dump(lines);
    }

    // Every one of the 18 types has its own name; the gaps between them have none.
    std::set<std::string> names;
    for (long t = 0; t <= 40; ++t) {
        const std::string name = SampleTypeName(t);
        if (name != "Unknown format") names.insert(name);
    }
    EXPECT_EQ(names.size(), 18u);
    EXPECT_STREQ(SampleTypeName(ASIOSTInt16MSB), "ASIOSTInt16MSB");
    EXPECT_STREQ(SampleTypeName(ASIOSTInt32LSB24), "ASIOSTInt32LSB24");
    EXPECT_STREQ(SampleTypeName(12), "Unknown format");
    EXPECT_STREQ(SampleTypeName(ASIOSTDSDInt8LSB1), "Unknown format");
}

TEST(DeviceQuery, InitFailureAndRequestedSizeAndRate) {
    {
        LogScope log;
        FakeDriver drv;
        drv.initOk = false;
        { EXPECT_FALSE(ASIOBuffers(&drv, nullptr).bInitSuccess); }
        EXPECT_GE(Find(log.Lines(), "fake init failure"), 0);
    }
    {
        // A device that allows a size of 0: the request of 0 is no size at all, so the
        // preferred size stays.
        LogScope log;
        FakeDriver drv;
        drv.minSize = 0;
        drv.granularity = 32;
        {
            ASIOBuffers b(&drv, nullptr);
            EXPECT_EQ(b.Record()->preferredSize, 256);
        }
        EXPECT_GE(Find(log.Lines(), "Buffer size requested not supported. Using preferred size."), 0);
    }
    {
        LogScope log;
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
        const std::vector<std::string> lines = log.Lines();
        const int notPresent = Find(lines, "Failed: GetSampleRate - No external clock I/O");
        ASSERT_GE(notPresent, 0) << Dump(lines);
        EXPECT_EQ(lines[static_cast<size_t>(notPresent + 1)], "Last known sample rate: 44100");
        const int unknown = Find(lines, "Failed: function GetSampleRate - Reason unknown");
        ASSERT_GT(unknown, notPresent);
        EXPECT_EQ(lines[static_cast<size_t>(unknown + 1)], "Last known sample rate: 44100");
    }
}

TEST(DeviceBuffers, CreatesTheBuffersOfEachModeShape) {
    const struct {
        int mode;
        long outputs, inputs;
        int count;  // buffers asked for
        std::vector<std::pair<long, long>> infos;  // isInput, channel
    } shapes[] = {
        {1, 8, 2, 1, {{0, 0}}},
        {2, 8, 2, 1, {{1, 0}}},
        {3, 8, 2, 2, {{0, 0}, {1, 0}}},
        {4, 8, 2, 2, {{0, 0}, {0, 1}}},
        {5, 8, 2, 2, {{1, 0}, {1, 1}}},
        {6, 8, 2, 4, {{0, 0}, {0, 1}, {1, 0}, {1, 1}}},
        {6, 8, 1, 2, {{0, 0}, {1, 0}}},  // more outputs than inputs
    };
    for (const auto& s : shapes) {
        IsolatedScope scope;
        FakeDriver drv;
        drv.outputs = s.outputs;
        drv.inputs = s.inputs;
        ASIOBuffers b(&drv, nullptr);
        ASSERT_TRUE(b.bInitSuccess);
        ASSERT_TRUE(b.CreatePrimaryBuffers(s.mode)) << s.mode;
        EXPECT_EQ(drv.createCount, s.count) << s.mode;
        ASSERT_EQ(drv.created.size(), s.infos.size());
        for (size_t i = 0; i < s.infos.size(); ++i) {
            EXPECT_EQ(drv.created[i].isInput, s.infos[i].first) << s.mode << " entry " << i;
            EXPECT_EQ(drv.created[i].channelNum, s.infos[i].second) << s.mode << " entry " << i;
        }
        EXPECT_TRUE(b.buffersCreated);
        EXPECT_EQ(b.Record()->bytesPerBuffer, 256 * 4);
        // Both halves are zeroed for the host.
        EXPECT_EQ(drv.Area(0, 1)[0], 0);
        EXPECT_EQ(drv.Area(0, 1)[1023], 0);
    }
}

TEST(DeviceBuffers, RefusedShapesAndTheirLines) {
    {
        LogScope log;
        FakeDriver drv;
        drv.inputs = 0;
        {
            ASIOBuffers b(&drv, nullptr);
            EXPECT_FALSE(b.CreatePrimaryBuffers(6));
            EXPECT_EQ(drv.createCount, 0);
            EXPECT_FALSE(b.CreatePrimaryBuffers(0));
            EXPECT_FALSE(b.CreatePrimaryBuffers(7));
        }
        const std::vector<std::string> lines = log.Lines();
        const int more = Find(lines, "CreatePrimaryBuffers: There were more outputs than inputs!");
        EXPECT_GE(more, 0) << Dump(lines);
        EXPECT_GT(Find(lines, "CreatePrimaryBuffers: output buffers to activate: 0"), more);
        EXPECT_GE(Find(lines, "ASIO->createBuffers failed!"), 0);
    }
    {
        // Channel 0 alone in its group: one output, and in mode 6 one input.
        IsolatedScope scope;
        FakeDriver drv;
        drv.outputs = 8;
        drv.groups = {0, 1, 1, 1, 1, 1, 1, 1};
        ASIOBuffers b(&drv, nullptr);
        ASSERT_TRUE(b.bInitSuccess);
        EXPECT_EQ(b.Record()->numOutputs, 1);
        ASSERT_TRUE(b.CreatePrimaryBuffers(6));
        EXPECT_EQ(drv.createCount, 2);
        EXPECT_EQ(b.Record()->numOutputs, 1);
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
        ASSERT_NE(first, nullptr);
        ASSERT_NE(second, nullptr);
        EXPECT_NE(first, second);
        EXPECT_TRUE(drv.started);
        EXPECT_EQ(b.CreateSoundBuffer(0, &e1), nullptr);  // the table is full
        EXPECT_EQ(b.Record()->countAudioBuffers, 2);

        // The first's switches are counted and logged when it goes.
        first->Play();
        drv.callbacks->bufferSwitch(0, ASIOTrue);
        drv.callbacks->bufferSwitch(1, ASIOTrue);
        b.ReleaseSoundBuffer(first);
        EXPECT_EQ(b.Record()->countAudioBuffers, 1);
        EXPECT_EQ(b.Record()->soundBuffers[0], second);
        EXPECT_EQ(b.Record()->soundBuffers[1], nullptr);
        b.ReleaseSoundBuffer(first);  // gone already
        EXPECT_EQ(b.Record()->countAudioBuffers, 1);
    }
    EXPECT_FALSE(drv.started);
    EXPECT_TRUE(drv.disposed);
    const std::vector<std::string> lines = log.Lines();
    const char* ordered[] = {
        "Error CreateSoundBuffer - invalid requested nChannel: 1",
        "Success - ASIOBuffers::CreateSoundBuffer, countAudioBuffers: 1",
        "Success: CreateSoundBuffer - ptrASIO->start()",
        "Success - ASIOBuffers::CreateSoundBuffer for virtual channel: 0",
        "Success - ASIOBuffers::CreateSoundBuffer, countAudioBuffers: 2",
        "Success - ASIOBuffers::CreateSoundBuffer for virtual channel: 0",
        "Error CreateSoundBuffer - No buffers available!",
        "Device calls: 2, channel: 0",
        "Dropped buffers: 2, channel: 0",
        "Failed buffers: 0, channel: 0",
        "ReleaseSoundBuffer - can't find location of lpAudioBuffer!",
        "Device calls: 0, channel: 0",
    };
    int at = 0;
    for (const char* line : ordered) {
        const int found = Find(lines, line, at);
        ASSERT_GE(found, 0) << "missing or out of order: " << line << "\n" << Dump(lines);
        at = found + 1;
    }
    int starts = 0;
    for (const std::string& l : lines) starts += l == "Success: CreateSoundBuffer - ptrASIO->start()";
    EXPECT_EQ(starts, 1);
}

// The buffer switch serves each sound buffer's channel areas by mode.
TEST(BufferSwitch, ChannelAreasOfMonoAndStereoDuplex) {
    for (int mode : {3, 6}) {
        IsolatedScope scope;
        FakeDriver drv;
        drv.outputs = 8;
        drv.preferred = 4;
        drv.minSize = 4;
        ASIOBuffers b(&drv, nullptr);
        ASSERT_TRUE(b.CreatePrimaryBuffers(mode));
        AutoResetEvent event;
        AudioBuffer* sb = b.CreateSoundBuffer(0, &event);
        ASSERT_NE(sb, nullptr);
        const bool mono = mode == 3;
        const int n = mono ? 1 : 2;  // outputs activated
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
        ASSERT_TRUE(sb->PrepareOutHeader(&ho));
        ASSERT_TRUE(sb->PrepareInHeader(&hi));
        sb->QueueOutHeader(&ho);
        sb->QueueInHeader(&hi);
        // Inputs as the device delivers them in half 1.
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
        EXPECT_EQ(sb->DroppedBuffers(), 0u);
        EXPECT_EQ(sb->FailedBuffers(), 0u);
    }
}

}  // namespace
