// The virtual device on its test clock, driven by a small host.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "small_host.h"

using namespace small_host;
using testing_support::IsolatedScope;

namespace {

constexpr long kSamples = 64;

int16_t Int16Of(const void* half, long i) {
    int16_t v;
    std::memcpy(&v, static_cast<const uint8_t*>(half) + 2 * i, 2);
    return v;
}

ASIOChannelInfo Channel(long channel, ASIOBool input) {
    return {channel, input, ASIOTrue, -1, -1, {}};  // out fields set to what no answer gives
}

struct Wav {
    bool ok = false;
    uint16_t format = 0, channels = 0, bits = 0;
    uint32_t rate = 0, factFrames = 0;
    std::vector<float> samples;
};

// Reads the capture file by its fixed layout, checking the sizes agree with the file.
Wav ReadCapture(const std::filesystem::path& path) {
    std::string bytes = testing_support::ReadFile(path);
    Wav wav;
    auto u32 = [&](size_t at) { uint32_t v; std::memcpy(&v, bytes.data() + at, 4); return v; };
    auto u16 = [&](size_t at) { uint16_t v; std::memcpy(&v, bytes.data() + at, 2); return v; };
    if (bytes.size() < 58 || bytes.compare(0, 4, "RIFF") || bytes.compare(8, 8, "WAVEfmt ") ||
        bytes.compare(38, 4, "fact") || bytes.compare(50, 4, "data"))
        return wav;
    EXPECT_EQ(u32(4), bytes.size() - 8);
    EXPECT_EQ(u32(54), bytes.size() - 58);
    wav.format = u16(20), wav.channels = u16(22), wav.rate = u32(24), wav.bits = u16(34);
    wav.factFrames = u32(46);
    wav.samples.resize((bytes.size() - 58) / 4);
    std::memcpy(wav.samples.data(), bytes.data() + 58, wav.samples.size() * 4);
    wav.ok = true;
    return wav;
}

// The sample the host writes at switch k, sample i of output c, and its float value.
// Int32 values keep their low 8 bits zero, as a float holds them exactly.
void WriteSample(long type, long k, long i, long c, uint8_t* at, float* expected) {
    int32_t v = static_cast<int32_t>((k * 7919 + i * 263 + c * 4099) % 65536) - 32768;
    if (i == 0) v = -32768;  // full scale, both ways
    if (i == 1) v = 32767;
    switch (type) {
    case ASIOSTInt16LSB: std::memcpy(at, &v, 2); *expected = v / 32768.0f; break;
    case ASIOSTInt24LSB: {
        int32_t w = v * 256 + (i & 0xff);
        at[0] = static_cast<uint8_t>(w), at[1] = static_cast<uint8_t>(w >> 8), at[2] = static_cast<uint8_t>(w >> 16);
        *expected = static_cast<float>(w / 8388608.0);
        break;
    }
    case ASIOSTInt32LSB: {
        int32_t w = v * 65536 + (i << 8);
        std::memcpy(at, &w, 4);
        *expected = static_cast<float>(w / 2147483648.0);
        break;
    }
    default: *expected = std::sin(static_cast<float>(v)) * 1.5f; std::memcpy(at, expected, 4);
    }
}

TEST(VirtualDevice, TestClockAlternatesHalvesAndCountsPositions) {
    IsolatedScope scope;
    SmallHost host(scope, "");
    ASSERT_EQ(host.created, S_OK);
    ASSERT_EQ(host.driver->init(nullptr), ASIOTrue);
    EXPECT_EQ(host.clock->AdvanceBufferSwitches(3), 0);  // no buffers yet
    ASSERT_EQ(host.CreateBuffers(2, 2, kSamples), ASE_OK);
    EXPECT_EQ(host.clock->AdvanceBufferSwitches(3), 0);  // not started
    std::vector<long long> positions;
    host.onSwitch = [&](long) {
        ASIOSamples samples;
        ASIOTimeStamp stamp;
        EXPECT_EQ(host.driver->getSamplePosition(&samples, &stamp), ASE_OK);
        positions.push_back(static_cast<long long>(samples.hi) << 32 | samples.lo);
    };
    ASSERT_EQ(host.driver->start(), ASE_OK);
    EXPECT_EQ(host.clock->AdvanceBufferSwitches(5), 5);
    EXPECT_EQ(host.Halves(), (std::vector<long>{0, 1, 0, 1, 0}));
    EXPECT_EQ(positions, (std::vector<long long>{0, 64, 128, 192, 256}));
    EXPECT_EQ(host.clock->BufferSwitchCount(), 5);

    ASSERT_EQ(host.driver->stop(), ASE_OK);
    EXPECT_EQ(host.clock->AdvanceBufferSwitches(2), 0);
    ASSERT_EQ(host.driver->start(), ASE_OK);  // a restart begins at half 0
    EXPECT_EQ(host.clock->AdvanceBufferSwitches(2), 2);
    EXPECT_EQ(host.Halves(), (std::vector<long>{0, 1, 0, 1, 0, 0, 1}));
    EXPECT_EQ(host.clock->BufferSwitchCount(), 7);
}

TEST(VirtualDevice, CaptureHoldsEveryPlayedSampleInEachServedType) {
    for (long type : {ASIOSTInt16LSB, ASIOSTInt24LSB, ASIOSTInt32LSB, ASIOSTFloat32LSB}) {
        SCOPED_TRACE(type);
        IsolatedScope scope;
        SmallHost host(scope, Dword("SampleType", type) + Dword("Outputs", 3) + Dword("Inputs", 0) +
                                  Dword("SampleRate", 44100) + Text("Capture", "capture.wav"));
        ASSERT_EQ(host.driver->init(nullptr), ASIOTrue);
        // Outputs 0 and 2 only: the capture has silence for output 1.
        host.infos = {{ASIOFalse, 0, {}}, {ASIOFalse, 2, {}}};
        ASSERT_EQ(host.driver->createBuffers(host.infos.data(), 2, kSamples, &host.callbacks), ASE_OK);
        std::vector<float> expected;  // frames of outputs 0, 1 (silent), 2
        long k = 0;
        long bytes = type == ASIOSTInt16LSB ? 2 : type == ASIOSTInt24LSB ? 3 : 4;
        host.onSwitch = [&](long half) {
            expected.resize((k + 1) * kSamples * 3);
            for (long i = 0; i < kSamples; ++i)
                for (long c : {0, 2}) {
                    uint8_t* at = static_cast<uint8_t*>(host.infos[c / 2].buffers[half]) + i * bytes;
                    WriteSample(type, k, i, c, at, &expected[(k * kSamples + i) * 3 + c]);
                }
            ++k;
        };
        ASSERT_EQ(host.driver->start(), ASE_OK);
        ASSERT_EQ(host.clock->AdvanceBufferSwitches(3), 3);
        ASSERT_EQ(host.driver->stop(), ASE_OK);

        Wav wav = ReadCapture("capture.wav");  // complete after stop
        ASSERT_TRUE(wav.ok);
        EXPECT_EQ(wav.format, 3);
        EXPECT_EQ(wav.channels, 3);
        EXPECT_EQ(wav.bits, 32);
        EXPECT_EQ(wav.rate, 44100u);
        EXPECT_EQ(wav.factFrames, 3u * kSamples);
        ASSERT_EQ(wav.samples.size(), expected.size());
        for (size_t s = 0; s < expected.size(); ++s)
            ASSERT_EQ(wav.samples[s], expected[s]) << "frame " << s / 3 << " channel " << s % 3;
        if (type != ASIOSTFloat32LSB) {
            EXPECT_EQ(wav.samples[0], -1.0f);
        }

        // A restart appends; disposing the buffers closes the file.
        ASSERT_EQ(host.driver->start(), ASE_OK);
        ASSERT_EQ(host.clock->AdvanceBufferSwitches(2), 2);
        ASSERT_EQ(host.driver->disposeBuffers(), ASE_OK);
        EXPECT_EQ(ReadCapture("capture.wav").factFrames, 5u * kSamples);
    }
}

TEST(VirtualDevice, LoopbackInputsHearThePreviousSwitch) {
    IsolatedScope scope;
    SmallHost host(scope, Dword("SampleType", ASIOSTInt16LSB) + Dword("Outputs", 2) + Dword("Inputs", 3));
    ASSERT_EQ(host.driver->init(nullptr), ASIOTrue);
    ASSERT_EQ(host.CreateBuffers(2, 3, kSamples), ASE_OK);  // infos: out 0, out 1, in 0, in 1, in 2
    long k = 0;
    std::vector<std::string> problems;
    host.onSwitch = [&](long half) {
        for (long c = 0; c < 3; ++c)
            for (long i = 0; i < kSamples; ++i) {
                // Input 2 has no output; the first switch (k counts from each start) has no past.
                int16_t heard = Int16Of(host.infos[2 + c].buffers[half], i);
                int16_t want = c < 2 && k > 0 ? static_cast<int16_t>(1000 * (k - 1) + 100 * c + i) : 0;
                if (heard != want) problems.push_back("switch " + std::to_string(k) + " input " + std::to_string(c));
            }
        for (long c = 0; c < 2; ++c)
            for (long i = 0; i < kSamples; ++i) {
                int16_t v = static_cast<int16_t>(1000 * k + 100 * c + i);
                std::memcpy(static_cast<uint8_t*>(host.infos[c].buffers[half]) + 2 * i, &v, 2);
            }
        ++k;
    };
    ASSERT_EQ(host.driver->start(), ASE_OK);
    ASSERT_EQ(host.clock->AdvanceBufferSwitches(4), 4);
    ASSERT_EQ(host.driver->stop(), ASE_OK);
    k = 0;  // after a restart the old outputs are not heard
    ASSERT_EQ(host.driver->start(), ASE_OK);
    ASSERT_EQ(host.clock->AdvanceBufferSwitches(2), 2);
    EXPECT_TRUE(problems.empty()) << problems.front();
}

TEST(VirtualDevice, ToneAndSilenceInputs) {
    for (long type : {ASIOSTInt16LSB, ASIOSTFloat32LSB}) {
        SCOPED_TRACE(type);
        IsolatedScope scope;
        SmallHost host(scope, Dword("SampleType", type) + Dword("Inputs", 2) + Text("Input", "tone"));
        ASSERT_EQ(host.driver->init(nullptr), ASIOTrue);
        ASSERT_EQ(host.CreateBuffers(0, 2, 512), ASE_OK);
        std::vector<float> tone;
        host.onSwitch = [&](long half) {
            for (long i = 0; i < 512; ++i)
                tone.push_back(type == ASIOSTInt16LSB ? Int16Of(host.infos[0].buffers[half], i) / 32768.0f
                                                      : static_cast<const float*>(host.infos[0].buffers[half])[i]);
            long bytes = type == ASIOSTInt16LSB ? 2 * 512 : 4 * 512;
            EXPECT_EQ(std::memcmp(host.infos[0].buffers[half], host.infos[1].buffers[half], bytes), 0);
        };
        ASSERT_EQ(host.driver->start(), ASE_OK);
        ASSERT_EQ(host.clock->AdvanceBufferSwitches(94), 94);  // just over a second at 48 kHz
        int rising = 0;
        float peak = 0, largestStep = 0;
        for (size_t n = 1; n < 48001; ++n) {
            rising += tone[n - 1] < 0 && tone[n] >= 0;
            peak = std::max(peak, std::fabs(tone[n]));
            largestStep = std::max(largestStep, std::fabs(tone[n] - tone[n - 1]));
        }
        EXPECT_NEAR(rising, 997, 1);
        EXPECT_NEAR(peak, 0.50119f, 0.0005f);                            // -6 dBFS
        EXPECT_LT(largestStep, 0.50119f * 2 * 3.14159f * 997 / 48000 * 1.01f);  // no jump between switches
    }
    IsolatedScope scope;
    SmallHost host(scope, Text("Input", "silence"));
    ASSERT_EQ(host.driver->init(nullptr), ASIOTrue);
    ASSERT_EQ(host.CreateBuffers(2, 2, kSamples), ASE_OK);
    bool allZero = true;
    host.onSwitch = [&](long half) {
        for (auto& info : host.infos) {
            const auto* p = static_cast<const uint8_t*>(info.buffers[half]);
            if (info.isInput) allZero = allZero && std::all_of(p, p + 4 * kSamples, [](uint8_t b) { return b == 0; });
            std::memset(info.buffers[half], 0x5a, 4 * kSamples);  // outputs playing, inputs scribbled on
        }
    };
    ASSERT_EQ(host.driver->start(), ASE_OK);
    ASSERT_EQ(host.clock->AdvanceBufferSwitches(4), 4);
    EXPECT_TRUE(allZero);
}

TEST(VirtualDevice, FailInitAndUnusableSettingsMakeInitFailWithAMessage) {
    const std::pair<std::string, const char*> cases[] = {
        {Text("FailInit", "The virtual cable is unplugged"), "The virtual cable is unplugged"},
        {Text("Input", "noise"), "Setting Input must be loopback, silence or tone"},
        {Text("Clock", "fast"), "Setting Clock must be realtime or test"},
        {Text("Outputs", "2"), "Setting Outputs must be a dword"},
        {Dword("Inputs", 100000), "Setting Inputs is out of range: 100000"},
        {Dword("SampleRate", 0), "Setting SampleRate is out of range: 0"},
        {Dword("Speed", 0), "Setting Speed is out of range: 0"},
        {Dword("BufferSize", 4096), "Setting BufferSize must lie between MinSize and MaxSize: 4096"},
        {Dword("MinSize", 4096), "Setting BufferSize must lie between MinSize and MaxSize: 512"},
    };
    for (const auto& [values, message] : cases) {
        IsolatedScope scope;
        SmallHost host(scope, values);
        ASSERT_EQ(host.created, S_OK);
        char text[128] = "unchanged";
        EXPECT_EQ(host.driver->init(nullptr), ASIOFalse) << message;
        host.driver->getErrorMessage(text);
        EXPECT_STREQ(text, message);
        long in = 0, out = 0;
        EXPECT_EQ(host.driver->getChannels(&in, &out), ASE_NotPresent);
        EXPECT_EQ(host.CreateBuffers(1, 0, 512), ASE_NotPresent);
    }
}

TEST(VirtualDevice, ReportsChannelsGroupsAndTypesAsSet) {
    IsolatedScope scope;
    SmallHost host(scope, Dword("Outputs", 8) + Dword("Inputs", 1) + Dword("FirstGroupOutputs", 1) +
                              Dword("SampleType", ASIOSTInt32MSB) + Dword("SampleRate", 96000) +
                              Dword("BufferSize", 96) + Dword("Granularity", 32) + Text("description", "Eight Out"));
    ASSERT_EQ(host.driver->init(nullptr), ASIOTrue);
    char name[32];
    host.driver->getDriverName(name);
    EXPECT_STREQ(name, "Eight Out");
    long in = 0, out = 0, minSize = 0, maxSize = 0, preferred = 0, granularity = 0;
    ASSERT_EQ(host.driver->getChannels(&in, &out), ASE_OK);
    EXPECT_EQ(in * 100 + out, 108);
    ASSERT_EQ(host.driver->getBufferSize(&minSize, &maxSize, &preferred, &granularity), ASE_OK);
    EXPECT_EQ((std::vector<long>{minSize, maxSize, preferred, granularity}), (std::vector<long>{64, 2048, 96, 32}));
    ASIOSampleRate rate = 0;
    ASSERT_EQ(host.driver->getSampleRate(&rate), ASE_OK);
    EXPECT_EQ(rate, 96000.0);
    ASIOChannelInfo info = Channel(0, ASIOFalse);
    ASSERT_EQ(host.driver->getChannelInfo(&info), ASE_OK);
    EXPECT_EQ(info.channelGroup, 0);
    EXPECT_EQ(info.isActive, ASIOFalse);
    EXPECT_EQ(info.type, ASIOSTInt32MSB);  // served as is, for the host to refuse
    EXPECT_STREQ(info.name, "Output 1");
    info.channel = 7;
    ASSERT_EQ(host.driver->getChannelInfo(&info), ASE_OK);
    EXPECT_EQ(info.channelGroup, 1);
    info = Channel(0, ASIOTrue);
    ASSERT_EQ(host.driver->getChannelInfo(&info), ASE_OK);
    EXPECT_EQ(info.channelGroup, 0);
    EXPECT_STREQ(info.name, "Input 1");
    EXPECT_EQ(host.CreateBuffers(1, 0, 96), ASE_InvalidMode);  // a type it cannot fill
}

TEST(VirtualDevice, RefusesBadArguments) {
    IsolatedScope scope;
    SmallHost host(scope, Dword("Outputs", 4) + Dword("Inputs", 2));
    long value = 0;
    EXPECT_EQ(host.driver->getChannels(&value, &value), ASE_NotPresent);  // before init
    ASSERT_EQ(host.driver->init(nullptr), ASIOTrue);
    EXPECT_EQ(host.driver->getChannels(nullptr, &value), ASE_InvalidParameter);
    EXPECT_EQ(host.driver->getLatencies(&value, nullptr), ASE_InvalidParameter);
    EXPECT_EQ(host.driver->getBufferSize(&value, &value, nullptr, &value), ASE_InvalidParameter);
    EXPECT_EQ(host.driver->getSampleRate(nullptr), ASE_InvalidParameter);
    EXPECT_EQ(host.driver->getChannelInfo(nullptr), ASE_InvalidParameter);
    for (ASIOChannelInfo info : {Channel(-1, ASIOFalse), Channel(4, ASIOFalse), Channel(2, ASIOTrue)})
        EXPECT_EQ(host.driver->getChannelInfo(&info), ASE_InvalidParameter) << info.channel;
    EXPECT_EQ(host.driver->start(), ASE_NotPresent);
    EXPECT_EQ(host.driver->disposeBuffers(), ASE_InvalidMode);

    ASIOBufferInfo infos[7] = {{ASIOFalse, 0, {}}, {ASIOFalse, 1, {}}, {ASIOTrue, 0, {}}};
    ASIOCallbacks noSwitch{};
    EXPECT_EQ(host.driver->createBuffers(nullptr, 1, 512, &host.callbacks), ASE_InvalidParameter);
    EXPECT_EQ(host.driver->createBuffers(infos, 1, 512, nullptr), ASE_InvalidParameter);
    EXPECT_EQ(host.driver->createBuffers(infos, 1, 512, &noSwitch), ASE_InvalidParameter);
    EXPECT_EQ(host.driver->createBuffers(infos, 0, 512, &host.callbacks), ASE_InvalidParameter);
    EXPECT_EQ(host.driver->createBuffers(infos, 7, 512, &host.callbacks), ASE_InvalidParameter);
    for (long samples : {32, 4096, 100, 0, -512})  // below min, above max, not a power of two
        EXPECT_EQ(host.driver->createBuffers(infos, 3, samples, &host.callbacks), ASE_InvalidMode) << samples;
    infos[2] = {ASIOTrue, 2, {}};  // no such input
    EXPECT_EQ(host.driver->createBuffers(infos, 3, 512, &host.callbacks), ASE_InvalidParameter);
    infos[2] = {ASIOFalse, 1, {}};  // an output twice
    EXPECT_EQ(host.driver->createBuffers(infos, 3, 512, &host.callbacks), ASE_InvalidParameter);

    infos[2] = {ASIOTrue, 1, {}};  // the refusals left nothing behind
    ASSERT_EQ(host.driver->createBuffers(infos, 3, 256, &host.callbacks), ASE_OK);
    for (const ASIOBufferInfo& info : infos) {
        if (&info == infos + 3) break;
        EXPECT_NE(info.buffers[0], nullptr);
        EXPECT_NE(info.buffers[1], info.buffers[0]);
    }
    EXPECT_EQ(host.driver->createBuffers(infos, 3, 256, &host.callbacks), ASE_InvalidMode);  // twice
    ASIOChannelInfo active = Channel(1, ASIOTrue);
    ASSERT_EQ(host.driver->getChannelInfo(&active), ASE_OK);
    EXPECT_EQ(active.isActive, ASIOTrue);
    long inputLatency = 0, outputLatency = 0;
    ASSERT_EQ(host.driver->getLatencies(&inputLatency, &outputLatency), ASE_OK);
    EXPECT_EQ(outputLatency, 256);

    // From inside bufferSwitch, stop and disposeBuffers refuse rather than wait for themselves.
    host.onSwitch = [&](long) {
        EXPECT_EQ(host.driver->stop(), ASE_InvalidMode);
        EXPECT_EQ(host.driver->disposeBuffers(), ASE_InvalidMode);
    };
    ASSERT_EQ(host.driver->start(), ASE_OK);
    EXPECT_EQ(host.clock->AdvanceBufferSwitches(2), 2);
}

TEST(VirtualDevice, EachClassReadsItsOwnKey) {
    IsolatedScope scope;
    const char* second = "{a1b2c3d4-0000-4000-8000-00000000abcd}";
    const char* unregistered = "{A1B2C3D4-0000-4000-8000-00000000ABCE}";
    scope.WriteMachineHive("REGEDIT4\n\n" + DeviceEntry(Dword("Outputs", 4)) +
                           DeviceEntry(Dword("Outputs", 6), second, "Second Device") +
                           "[HKEY_CLASSES_ROOT\\clsid\\" + unregistered + "\\InprocServer32]\n@=\"" +
                           BELLWAVE_VIRTUAL_DRIVER + "\"\n");
    for (auto [clsid, outputs, name] : {std::tuple{kClsid, 4L, "Test Device"}, {second, 6L, "Second Device"}}) {
        SmallHost host(clsid);
        ASSERT_EQ(host.created, S_OK);
        ASSERT_EQ(host.driver->init(nullptr), ASIOTrue);
        long in = 0, out = 0;
        host.driver->getChannels(&in, &out);
        EXPECT_EQ(out, outputs);
        char text[32];
        host.driver->getDriverName(text);
        EXPECT_STREQ(text, name);
        void* other = &text;
        EXPECT_EQ(host.driver->QueryInterface(ParseClsid(unregistered), &other), E_NOINTERFACE);
        EXPECT_EQ(other, nullptr);
        EXPECT_EQ(host.clock->AdvanceBufferSwitches(1), 0);  // a real-time device has no test clock
    }
    EXPECT_EQ(SmallHost(unregistered).created, CLASS_E_CLASSNOTAVAILABLE);
}

TEST(VirtualDevice, TheBuildRegistersTheDefaultDevice) {
    setenv("BELLWAVE_REGISTRY_DIR", (testing_support::BuildDir() / "share" / "bellwave").c_str(), 1);
    SmallHost host(BELLWAVE_VIRTUAL_CLSID);
    unsetenv("BELLWAVE_REGISTRY_DIR");
    ASSERT_EQ(host.created, S_OK);
    ASSERT_EQ(host.driver->init(nullptr), ASIOTrue);
    char name[32];
    host.driver->getDriverName(name);
    EXPECT_STREQ(name, "Bellwave Virtual Device");
    long in = 0, out = 0, minSize = 0, maxSize = 0, preferred = 0, granularity = 0;
    host.driver->getChannels(&in, &out);
    host.driver->getBufferSize(&minSize, &maxSize, &preferred, &granularity);
    EXPECT_EQ((std::vector<long>{in, out, minSize, maxSize, preferred, granularity}),
              (std::vector<long>{2, 2, 64, 2048, 512, -1}));
    ASIOChannelInfo info = Channel(0, ASIOFalse);
    host.driver->getChannelInfo(&info);
    EXPECT_EQ(info.type, ASIOSTInt32LSB);
}

}  // namespace
